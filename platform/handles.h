// Handles: nonzero 32-bit values naming the objects this process holds.
// They are what the shared records store, and mean something only in the
// process that made them. A stale or foreign handle resolves to nothing.
#pragma once

#include <cstdint>

#include "platform/named_object.h"

namespace rk::os {

using Handle = uint32_t;

// A handle for obj, or 0 when the table is full.
Handle handle_new(NamedObject* obj);

// A handle for an object just created or opened; when the table is full the
// object is given up again and the result is 0. A null object gives 0.
Handle handle_or_release(NamedObject* obj);

// The object of a live handle of the given kind, or null (last error EBADF).
// Lock-free: a handle must not be closed while another thread still uses it.
NamedObject* handle_get(Handle h, Kind kind);

// Takes the handle out of the table and gives back its object, or null.
NamedObject* handle_remove(Handle h);

// Closes any handle: what the process holds of the object goes with its
// last view and handle; the name stays.
bool close_handle(Handle h);

}  // namespace rk::os
