// The change scan: the next tag of a caller's list that changed for the
// caller, read into the start of the caller's buffer. rk_change_read scans
// once, rk_change_wait scans, sleeps and scans again.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/tag_call.h"

namespace rk {

// Starts a change scan or wait as every tag call starts, then refuses a
// null refs, position or buffer with 10 and a position not below count
// with 7, before any tag is looked at. False when the call ends there, rc
// its result; else the lock is held and start is *position.
bool begin_change_scan(TagCall& call, uint16_t id, const TagRef* refs, uint32_t count, const uint32_t* position,
                       const void* buffer, uint32_t& start, int& rc);

// Scans refs[start..count) for the first tag with the caller's own bit and
// reads it (handlers of the read mask first, direction 1). Leaves in
// call.error 0 when it read one, 11 when nothing was changed, 9 when it
// passed a bad index (even if it read a tag after it) or met a bad type,
// or a refusing handler's or a mailbox peek's error; stores the given
// attribute word of the tag read. A scan that succeeds counts one read call
// and one tag. Returns the index the scan ended at: the element read, the
// bad type, the refused element, or count. Database lock held.
uint32_t change_scan(TagCall& call, const TagRef* refs, uint32_t count, uint32_t start, void* buffer,
                     uint32_t* attribute);

}  // namespace rk
