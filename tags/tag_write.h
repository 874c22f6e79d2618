// The write of rk_write_attr for a call that has resolved its caller and
// taken its lock, so that a call which writes on its caller's behalf (a
// move between tags) stores through the same rules, counts and wakes.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/tag_call.h"

namespace rk {

// Writes refs[0..count) into the application that `target` names (its
// high byte), as rk_write_attr does, and ends the call: the lock released,
// the statistics counted, 0 or -1 with the error stored in the caller's
// entry (57 when that application does not run).
int write_app_tags(TagCall& call, uint16_t target, const TagRef* refs, uint32_t count, const void* values,
                   const uint32_t* attr_values, const uint32_t* attr_masks);

}  // namespace rk
