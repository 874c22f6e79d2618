// Releasing clients that sleep in rk_wait. A released client becomes a lock
// waiter where it stands in the lock/wait queue, and returns from rk_wait
// once the lock reaches it: at once when nobody holds the lock, else from
// the holder's last rk_unlock, in queue order.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Why clients are woken; each reason releases some of the wait states:
// a tag change those waiting for a tag or for either, a mailbox message
// those waiting for a mailbox or for either, kWakeAny every sleeper.
enum WakeReason : uint16_t {
  kWakeTag = 2,
  kWakeMailbox = 3,
  kWakeAny = 4,
};

// Each takes the kernel mutex for `caller` (a client id or one of the kSelf
// ids), releases the clients of the given mask whose wait state the reason
// releases, among the slots in use, and, when it released somebody and
// nobody holds the database lock, hands the lock to the first lock waiter
// of the queue and posts its event from `caller`. Each returns the number of
// clients released; 0 too when the mutex could not be taken, and then
// nothing has changed.

// For every application block: its pending-wake mask, which is emptied,
// also of the bits of clients that were not released.
uint32_t wake_all_apps(Kgd* kgd, int32_t caller, uint16_t reason);

// The same for one application block.
uint32_t wake_app(Kgd* kgd, int32_t caller, AppBlock* app, uint16_t reason);

// The clients of `mask` in one application block; its pending-wake mask is
// neither used nor changed.
uint32_t wake_clients(Kgd* kgd, int32_t caller, AppBlock* app, uint32_t mask, uint16_t reason);

// wake_clients with the kernel mutex held already, by the calling thread.
uint32_t wake_clients_held(Kgd* kgd, int32_t caller, AppBlock* app, uint32_t mask, uint16_t reason);

}  // namespace rk
