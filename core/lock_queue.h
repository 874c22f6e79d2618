// The lock/wait queue of an RTDB: one chain of Client Process Table entries
// through their link fields, from the kgd's queue head, by priority (higher
// first) and, within a priority, by arrival. It holds the clients waiting
// for the database lock (wait state 1) and those sleeping until a tag or a
// mailbox changes (states 2, 3 and 4). Every function here runs with the
// kernel mutex held.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

enum WaitState : uint16_t {
  kNotWaiting = 0,
  kWaitLock = 1,
  kWaitTag = 2,
  kWaitMailbox = 3,
  kWaitEither = 4,
};

// The application block an entry belongs to, or null for an address that
// is not an entry of this RTDB.
AppBlock* app_of_entry(const Kgd* kgd, const CptEntry* entry);

// Queues the entry in `state` behind every entry of its priority or higher,
// and counts it in the entry's statistics.
void enqueue(Kgd* kgd, CptEntry* entry, uint16_t state);

// The same without counting: for putting back an entry that was queued.
void link_in(Kgd* kgd, CptEntry* entry, uint16_t state);

// Takes the first live entry waiting in `state` off the queue; entries of
// clients that have left are dropped on the way. Null when there is none.
CptEntry* dequeue(Kgd* kgd, uint16_t state);

// Whether any client queues for the database lock.
bool lock_waiters(const Kgd* kgd);

// Takes the entry off the queue wherever it stands; nothing when it is not
// queued.
void unlink_queued(Kgd* kgd, CptEntry* entry);

// Passes the database lock to the first client waiting for it, or frees
// it. The new holder's event is posted from `giver`, or by name when that
// post fails (a giver without an entry of its own), once the kernel mutex
// is given back (post_deferred_wakes). A waiter whose event cannot be set
// stays queued and the lock goes to the next that can be woken; the
// failure is kept in the kgd.
void hand_over(Kgd* kgd, int32_t giver);

// Posts the wake-ups of the holders that hand_over chose in this thread;
// the kernel mutex's last give calls it after the release. A post that
// fails is dealt with under the kernel mutex again, as hand_over says.
void post_deferred_wakes();

}  // namespace rk
