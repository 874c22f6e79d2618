// Consistency check of the database lock and the lock/wait queue, for tests
// and for diagnosing a damaged queue: what repair_lock_state would rebuild
// is compared with what is there. Reads only, and only the application
// blocks of segment 0.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when the lock and the queue are sound: the holder is 0 or a live entry
// that is not queued; the chain from the queue head visits distinct live
// entries, each in a wait state 1..4, by priority from high to low, and
// ends; every entry in a wait state is live and on the chain; each
// application's queued mask and per-state masks hold exactly the slots in
// those states; a live entry's id and own bit name its slot. Otherwise
// "database lock: " or "lock queue: " and the first fault found. Kernel
// mutex held.
std::string lock_check(const Kgd* kgd);

}  // namespace rk
