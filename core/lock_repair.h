// Taking over the kernel mutex from an owner that died inside it. The
// owner may have been anywhere in a change of the lock and wait state: half
// through linking an entry into the queue, between taking the next waiter
// off the queue and making it the holder, between that and waking it.
#pragma once

#include "core/records.h"

namespace rk {

// Makes the lock and wait state whole again, with the kernel mutex just
// taken over. The queue is rebuilt from the entries' wait states (an entry
// that waits without being linked is linked again, in its place by
// priority; a linked entry that no longer waits is dropped); the masks of
// the applications are recomputed; the clients of processes that died
// leave; the wakes a dead writer owes are made (after_gone_holder, as the
// owner may have died inside one); a lock nobody validly holds goes to the
// first lock waiter, and the holder's event is set again (a stale set is
// harmless: a woken client checks that the lock is its own).
void repair_lock_state(Kgd* kgd);

}  // namespace rk
