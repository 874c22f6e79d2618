// Tag lists: one ordered list of tag references per client slot, kept in a
// kernel memory block whose handle and count lie in the slot's entry. The
// two fields are read and written only under the kernel mutex, so a reader
// sees the old list or the new one, never a mix. The calls run in the tag
// engine's frame, under the caller's database lock.
#pragma once

#include <cstdint>
#include <vector>

#include "core/records.h"
#include "tags/tag_call.h"

namespace rk {

constexpr int kSigTagList = 2;   // tells a client that its tag list was replaced

// Starts a tag-list call: resolves the caller with the ownership rule,
// refuses it with 10 when its pointers are not all there (no lock taken),
// then takes its database lock. False when the call ends here with -1:
// nothing is stored for an id that does not resolve, the lock stored its
// own error when it failed.
bool begin_list_call(TagCall& call, uint16_t id, bool pointers_given);

// Reads the caller's own count and handle under the kernel mutex. 0, or 45
// when the mutex failed. Database lock held.
int16_t read_own_list(TagCall& call, uint32_t* count, uint32_t* handle);

// Copies the caller's own list out of its block: the block may move with
// the next allocation, and a copy is what stays the same across a wait.
// 0, or 30 (no list), 45, 7 (the handle names no block big enough).
// Database lock held.
int16_t copy_own_list(TagCall& call, std::vector<TagRef>& list);

}  // namespace rk
