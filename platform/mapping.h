// Named file mappings and their views: the segments of an RTDB.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace rk::os {

// A new mapping of `size` zero bytes; 0 on failure (EEXIST: the name exists).
Handle mapping_create(const char* name, uint32_t size, bool everyone);

// The mapping of that name; 0 on failure (ENOENT: none exists, EACCES:
// another user's while `owner` is Self).
Handle mapping_open(const char* name, Owner owner = Owner::Self);

// Size in bytes of the object behind a mapping handle, 0 for a bad handle.
uint32_t mapping_size(Handle h);

// True when the caller's effective user owns the object behind the handle.
bool mapping_is_own(Handle h);

// Maps the whole object read-write exactly at `address`, or anywhere when
// address is 0. A range that is already taken is left as it is and the call
// fails (EEXIST); in the address window (address_window.h) that is a range
// where another view lies. The first view closes the handle's descriptor,
// unless the mapping is held (below).
void* map_view(Handle h, uint32_t address);

// Unmaps a view made by map_view; false for an address that is not one. In
// the address window the placeholder takes the view's place again.
bool unmap_view(void* view);

// Holds: a flock on a mapping that anchors the lifetime of others. Every
// user holds it shared; whoever finds nobody else holding it may take it
// exclusively. None of them ever waits, since another user may hold such a
// lock for as long as it likes. A held mapping keeps its descriptor.

// Takes a shared hold; false when somebody holds the mapping exclusively.
bool mapping_hold(Handle h);

// True when nobody else holds the mapping: the caller then holds it
// exclusively. When false, a shared hold of the caller's may have been
// dropped on the way: take it again with mapping_hold if it is still needed.
bool mapping_hold_alone(Handle h);

// True while the object's name still leads to it (it was not removed).
bool mapping_linked(Handle h);

// Gives up the hold and the descriptor; views stay.
void mapping_let_go(Handle h);

}  // namespace rk::os
