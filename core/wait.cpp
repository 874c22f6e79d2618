// Sleeping until a tag or a mailbox changes, with the database lock handed
// on meanwhile and held again on return.
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/db_lock.h"
#include "core/errors.h"
#include "core/foreign_users.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "platform/clock.h"
#include "rk.h"

using namespace rk;

namespace {

constexpr uint32_t kTerminationBit = 1u << 1;   // signal 1

uint32_t pending_signals(const CptEntry* e) { return e->sig_pending & e->sig_accepted; }

}  // namespace

extern "C" RK_API int rk_wait(rk_client_id id, int mode) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  if (mode < 1 || mode > 3) {
    e->errnum = kErrRange;
    return -1;
  }
  if (e->wait_state != kNotWaiting) {
    e->errnum = kErrWaitQueued;
    return -1;
  }
  Kgd* kgd = attachment().kgd;
  if (kmutex_take(id) != 0) return -1;
  if (!still_resolves(id, e)) {
    kmutex_give(id);
    return -1;
  }
  // A signal already pending ends the call at once, lock kept.
  uint32_t pending = pending_signals(e);
  if (pending == 0) {
    if (kgd->lock_holder == addr_of(e)) {
      hand_over(kgd, id);
      e->stats[kStatLockTicks] += os::tick_count() - e->stamp;
    }
    enqueue(kgd, e, static_cast<uint16_t>(mode + 1));
    // The process that sleeps is the one whose death ends the wait.
    if (used_by_other_process(e)) note_foreign_user(kgd, e);
    if (sleep_until_granted(kgd, e, id) != 0) return -1;
    note_grant(kgd, e);
    // The call returns holding the lock; a caller that came without it
    // holds it now too and must give it back.
    if (e->lock == 0) e->lock = 1;
    // Signals are posted under the kernel mutex before the sleeper is made
    // a lock waiter; one that comes later is found by the next call.
    pending = pending_signals(e);
  } else {
    kmutex_give(id);
  }
  if (pending == 0) return 0;
  e->errnum = (pending & kTerminationBit) ? kErrTerminate : kErrSignal;
  return -1;
}
