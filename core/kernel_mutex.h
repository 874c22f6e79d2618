// The kernel mutex: one named mutex per RTDB that serialises every change to
// shared structures across processes. It is held for short sections and
// nests per owner (a client id, or the calling process for kSelf and
// kSelfByName); the owner, the nesting depth, an acquisition count, a ring of
// the last acquisitions and the first failure are kept in the kgd.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Takes the kernel mutex for id, a client id or one of the kSelf ids; a
// client id is not resolved again, its slot only has to exist. 0 when taken.
// -1 when no RTDB is attached, id names no slot, or the wait failed: then a
// client's entry gets error 45 and the kgd keeps the first failure. A mutex
// whose owner died holding it is taken over, and the lock and wait state it
// guards is repaired first.
int kmutex_take(int32_t id);

// Keeps the first failure of the kernel mutex, or of a post that hands the
// database lock over, in the kgd: the system error code, the client id, the
// process and the tick count. Later failures leave it as it is.
void record_failure(Kgd* kgd, int code, int32_t id, uint32_t pid);

// Gives back one level taken by this thread; the last one releases the
// mutex. A failed release is recorded in the kgd, not reported. Always 0.
int kmutex_give(int32_t id);

}  // namespace rk
