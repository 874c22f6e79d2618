#include "tags/wake.h"

#include <bit>

#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"

namespace rk {

namespace {

constexpr uint32_t bit(uint16_t state) { return 1u << state; }

// The wait states a reason releases, as a set of 1 << state.
uint32_t states_released(uint16_t reason) {
  switch (reason) {
    case kWakeTag: return bit(kWaitTag) | bit(kWaitEither);
    case kWakeMailbox: return bit(kWaitMailbox) | bit(kWaitEither);
    case kWakeAny: return bit(kWaitTag) | bit(kWaitMailbox) | bit(kWaitEither);
    default: return 0;
  }
}

// Turns the clients of `mask` that sleep in one of `states` into lock
// waiters; they keep their places in the queue. One look at each client's
// entry, whatever the number of states. Kernel mutex held.
uint32_t release(AppBlock* app, uint32_t mask, uint32_t states) {
  uint32_t from[kWaitEither + 1] = {};   // own bits released, by the state left
  uint32_t count = 0;
  // Bit 31 is no slot; a bit of a slot without a client is dropped.
  for (uint32_t m = mask & app->registered & kChangeBits; m != 0; m &= m - 1) {
    CptEntry& e = app->cpt[std::countr_zero(m)];
    const uint16_t state = e.wait_state;
    if (state > kWaitEither || (states & bit(state)) == 0) continue;
    e.wait_state = kWaitLock;
    from[state] |= e.own_bit;
    ++count;
  }
  if (count == 0) return 0;
  for (uint16_t state = kWaitTag; state <= kWaitEither; ++state) {
    app->waiting[state - 1] &= ~from[state];
    app->waiting[kWaitLock - 1] |= from[state];
  }
  return count;
}

// After a wake-up, a lock that nobody holds goes to the first lock waiter
// at once, since no rk_unlock will come to hand it on.
uint32_t hand_free_lock_on(Kgd* kgd, int32_t caller, uint32_t count) {
  if (count > 0 && kgd->lock_holder == 0) hand_over(kgd, caller);
  return count;
}

// Ends a wake-up under the kernel mutex taken for it.
uint32_t finish(Kgd* kgd, int32_t caller, uint32_t count) {
  hand_free_lock_on(kgd, caller, count);
  kmutex_give(caller);
  return count;
}

}  // namespace

uint32_t wake_all_apps(Kgd* kgd, int32_t caller, uint16_t reason) {
  if (kmutex_take(caller) != 0) return 0;
  const uint32_t states = states_released(reason);
  uint32_t count = 0;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    if (app->pending_wake == 0) continue;
    count += release(app, app->pending_wake, states);
    app->pending_wake = 0;
  }
  return finish(kgd, caller, count);
}

uint32_t wake_app(Kgd* kgd, int32_t caller, AppBlock* app, uint16_t reason) {
  if (app == nullptr || kmutex_take(caller) != 0) return 0;
  const uint32_t count = release(app, app->pending_wake, states_released(reason));
  app->pending_wake = 0;
  return finish(kgd, caller, count);
}

uint32_t wake_clients(Kgd* kgd, int32_t caller, AppBlock* app, uint32_t mask, uint16_t reason) {
  if (app == nullptr || kmutex_take(caller) != 0) return 0;
  return finish(kgd, caller, release(app, mask, states_released(reason)));
}

uint32_t wake_clients_held(Kgd* kgd, int32_t caller, AppBlock* app, uint32_t mask, uint16_t reason) {
  return hand_free_lock_on(kgd, caller, release(app, mask, states_released(reason)));
}

}  // namespace rk
