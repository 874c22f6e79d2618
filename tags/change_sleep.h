// One sleep of a change wait: the caller's wait bits on a list, rk_wait for
// a tag change, the bits cleared again.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/tag_call.h"

namespace rk {

// Sleeps once for a tag change with the caller's wait bits on refs, cleared
// again whatever the sleep's outcome: the same refs are marked and unmarked,
// so give a list that cannot change meanwhile. 0, or the error rk_wait left
// (27, 34 for a signal). call.error is as it was. Database lock held.
int16_t sleep_on_changes(TagCall& call, const TagRef* refs, uint32_t count);

}  // namespace rk
