// Posting signals. A signal is one bit of the receiver's pending mask: it
// carries no data and is not queued, so posting it twice before it is
// received leaves one bit. A signal the receiver accepts wakes it from
// rk_wait, which then ends with an error that names the signal's kind.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

constexpr int kSignalCount = 32;    // signals 0..31, one bit each
constexpr int kSigTerminate = 1;    // asks the receiver to end: its termination flag

inline bool valid_signal(int sig) { return sig >= 0 && sig < kSignalCount; }

// Posts `sig` from the caller (id and its resolved entry) to the client
// named `name` in `target`, the application the caller chose by name (null
// when none has those names). 0, or -1 with the first of these in the
// caller's errno: 14 no target application, 45 kernel mutex, 13 no slot of
// that name, 5 no live client there, 7 no such signal.
int post_signal_by_name(uint16_t id, CptEntry* caller, AppBlock* target, const char* name, int sig);

// The same for the client of `slot` (0..30) in `target`: 45, 5 or 7.
int post_signal_to_slot(uint16_t id, CptEntry* caller, AppBlock* target, uint32_t slot, int sig);

// The kernel's own post from client `id` to the client whose id is
// `target`, in whatever application that is (the owner signal of a
// mailbox). Returns 0 or the error number, 45, 5 (also for an id that names
// no slot) or 7, and stores none of them itself (only the kernel mutex
// keeps its 45 in the poster's entry, as it always does): the post is a side
// effect of the caller's operation, which does not fail with it.
int post_signal_to_id(uint16_t id, uint16_t target, int sig);

}  // namespace rk
