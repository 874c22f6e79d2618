#include "core/db_lock.h"

#include "core/client_events.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "core/attachment.h"
#include "platform/clock.h"
#include "core/segments.h"
#include "rk.h"

namespace rk {

namespace {

// A wait that failed leaves nobody asleep in the queue: the entry is taken
// out, and a lock that reached it meanwhile goes on to the next waiter.
void abandon_wait(Kgd* kgd, CptEntry* entry, uint16_t id) {
  if (kmutex_take(id) != 0) return;
  if (kgd->lock_holder == addr_of(entry)) {
    hand_over(kgd, id);
  } else {
    unlink_queued(kgd, entry);
  }
  kmutex_give(id);
}

}  // namespace

int sleep_until_granted(Kgd* kgd, CptEntry* entry, uint16_t id) {
  for (;;) {
    kmutex_give(id);
    if (wait_own_event(id) != 0) {
      abandon_wait(kgd, entry, id);
      return -1;
    }
    if (kmutex_take(id) != 0) return -1;
    if (kgd->lock_holder == addr_of(entry)) return 0;
    // A set left over from an earlier post: the lock has not come yet.
    if (entry->wait_state == kNotWaiting) {
      kmutex_give(id);
      return -1;
    }
  }
}

bool still_resolves(uint16_t id, const CptEntry* entry) { return resolve_entry(resolve_app(id), id) == entry; }

void note_grant(Kgd* kgd, CptEntry* entry) {
  entry->stamp = kgd->lock_tick = os::tick_count();
  map_new_segments(entry);
}

// What both lock calls do first. Null when the call ends here, its result
// in *done: -1 for an id that does not resolve or a queued client, 0 for a
// nested take, which touches only the caller's entry.
static CptEntry* begin_lock(uint16_t id, int* done) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  *done = -1;
  if (e == nullptr) return nullptr;
  if (e->wait_state != kNotWaiting) {
    e->errnum = kErrLockQueued;
    return nullptr;
  }
  if (e->lock > 0) {
    ++e->lock;
    *done = 0;
    return nullptr;
  }
  return e;
}

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_lock(rk_client_id id) {
  int done = 0;
  CptEntry* e = begin_lock(id, &done);
  if (e == nullptr) return done;
  Kgd* kgd = attachment().kgd;
  if (kmutex_take(id) != 0) return -1;
  if (!still_resolves(id, e)) {
    kmutex_give(id);
    return -1;
  }
  if (kgd->lock_holder == 0) {
    kgd->lock_holder = addr_of(e);
    ++e->stats[kStatLockGrants];
  } else {
    enqueue(kgd, e, kWaitLock);
    if (sleep_until_granted(kgd, e, id) != 0) return -1;
  }
  note_grant(kgd, e);
  kmutex_give(id);
  e->lock = 1;
  return 0;
}

RK_API int rk_lock_nowait(rk_client_id id) {
  int done = 0;
  CptEntry* e = begin_lock(id, &done);
  if (e == nullptr) return done;
  Kgd* kgd = attachment().kgd;
  if (kmutex_take(id) != 0) return -1;
  int result = -1;
  if (kgd->lock_holder == 0 && still_resolves(id, e)) {
    kgd->lock_holder = addr_of(e);
    ++e->stats[kStatLockGrants];
    e->lock = 1;
    // Mapped here as at every other grant: the holder may touch any segment.
    note_grant(kgd, e);
    result = 0;
  }
  kmutex_give(id);
  return result;
}

RK_API int rk_unlock(rk_client_id id) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  if (e->lock == 0) {
    e->errnum = kErrNotLocked;
    return -1;
  }
  if (--e->lock > 0) return 0;
  Kgd* kgd = attachment().kgd;
  if (kmutex_take(id) != 0) {
    // Still the holder: keep the level, so that the unlock can be repeated.
    e->lock = 1;
    return -1;
  }
  e->stats[kStatLockTicks] += os::tick_count() - e->stamp;
  if (kgd->lock_holder == addr_of(e)) hand_over(kgd, id);
  kmutex_give(id);
  if (e->stat & kStatRevoked) {
    e->stat &= ~kStatRevoked;
    e->errnum = kErrLockRevoked;
    return -1;
  }
  return 0;
}

}  // extern "C"
