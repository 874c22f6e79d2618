// Setting and clearing a client's marks on tags by hand: its change bits,
// every change bit of a tag, and its wait bits.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/tag_call.h"

namespace rk {

enum class Mark { kSetChange, kClearChange, kClearAllChanges, kSetWait, kClearWait };

// Applies `mark` with the caller's own bit to the change entries of refs in
// the caller's application. Bad references are recorded in call.error as by
// every walk. Sets words only: wakes nobody, counts nothing. Database lock
// held.
void mark_tags(TagCall& call, const TagRef* refs, uint32_t count, Mark mark);

}  // namespace rk
