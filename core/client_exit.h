// What leaving undoes: a client's place in the lock/wait queue, the
// database lock it holds, its bits in the application's masks and its
// event handles.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Takes the entry out of the lock/wait queue and, when it holds the
// database lock, passes the lock to the next waiter, posting from `giver`.
// Kernel mutex held.
void leave_queue(Kgd* kgd, CptEntry* entry, int32_t giver);

// leave_queue for an entry whose client is gone, under the kernel mutex
// taken as the calling process (nested when the caller holds it so). 0, or
// -1 with 45 in the entry's errno when the mutex could not be taken.
int queue_cleanup(Kgd* kgd, CptEntry* entry);

// Ends the client of `entry` in `app`: no longer live, out of the queue and
// the masks (a queued client is woken, and its call fails), the lock passed
// on, its event handles closed when they are this process's. The slot stays
// configured. Kernel mutex held.
void client_exit(Kgd* kgd, AppBlock* app, CptEntry* entry);

}  // namespace rk
