// Named file mappings and their views: the segments of an RTDB.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace rk::os {

// A new mapping of `size` zero bytes; 0 on failure (EEXIST: the name is live).
Handle mapping_create(const char* name, uint32_t size, bool everyone);

// The live mapping of that name; 0 on failure (ENOENT: none exists). The hook
// sees a leftover's bytes before its name is removed.
Handle mapping_open(const char* name, LeftoverHook hook = nullptr);

// Size in bytes of the object behind a mapping handle, 0 for a bad handle.
uint32_t mapping_size(Handle h);

// Maps the whole object read-write exactly at `address`, or anywhere when
// address is 0. A range that is already taken is left as it is and the call
// fails (EEXIST). The view keeps the object alive until it is unmapped.
void* map_view(Handle h, uint32_t address);

// Unmaps a view made by map_view; false for an address that is not one.
bool unmap_view(void* view);

}  // namespace rk::os
