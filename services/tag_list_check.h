// Consistency check of the tag lists of every client slot, for tests and
// for diagnosing damage. Reads only; list blocks are reached through kernel
// memory, so the pools must have passed pool_check first.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when every slot's list fields are sound: a slot without a list (count
// 0) has handle 0; a slot with one, live or not (its block stays until the
// slot is set up again), has a count whose references take less than
// 64 KiB and a handle that names an allocated block with room for them; no
// two slots name the same block. Otherwise "tag list 0xID: " and the first
// fault found.
std::string tag_list_check(const Kgd* kgd);

}  // namespace rk
