#include "core/db_lock.h"

#include <cerrno>

#include "core/attachment.h"
#include "core/client_events.h"
#include "core/client_ids.h"
#include "core/dead_clients.h"
#include "core/errors.h"
#include "core/foreign_users.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "core/lock_word.h"
#include "core/segments.h"
#include "platform/clock.h"
#include "platform/spin_wait.h"
#include "platform/user_emulation.h"
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
  if (used_by_other_process(entry)) forget_foreign_user(kgd, entry);
  kmutex_give(id);
}

// How often a sleeping client looks for itself whether it is waiting on
// something that can no longer come: a holder that died, a hand-over that
// was cut off before it woke this client.
constexpr uint32_t kLookMs = 100;

// How long a queued client finds the lock free, with nobody holding it,
// before it hands the lock on itself. Longer than a look, so that a client
// left out of a cut-off hand-over, ahead in the queue, finds it first.
constexpr uint32_t kFreeMs = 2 * kLookMs;

// Since when a queued client has seen the lock free at each look.
struct FreeSeen {
  bool seen = false;
  uint32_t since = 0;
};

// Under the kernel mutex, after a sleep that nothing ended: 1 when the
// entry holds the lock now, -1 when it was made to leave, 0 to sleep on.
int look_around(Kgd* kgd, CptEntry* entry, uint16_t id, FreeSeen& free) {
  if (kgd->lock_holder == addr_of(entry)) return 1;
  if (!still_resolves(id, entry)) return -1;
  if (entry->wait_state == kNotWaiting) {
    // Neither queued nor holding while its call still sleeps: a client that
    // died handing the lock over took it off the queue and went no further.
    if (claim_lock(kgd, entry)) return 1;
    link_in(kgd, entry, kWaitLock);
    return 0;
  }
  if (entry->wait_state == kWaitLock) {
    if (kgd->lock_holder != 0) {
      free.seen = false;
      pass_lock_of_gone_holder(kgd);
    } else if (!free.seen) {
      free = FreeSeen{true, os::tick_count()};
    } else if (os::tick_count() - free.since >= kFreeMs) {
      // Free for several looks while clients queue: its holder gave it
      // back without the kernel mutex and died before it could hand it on.
      hand_over(kgd, id);
    }
  }
  return kgd->lock_holder == addr_of(entry) ? 1 : 0;
}

// Whether the lock has been held for a look's time or longer: its holder
// may have died. Read without the kernel mutex, as a hint.
bool holder_held_long(const Kgd* kgd) {
  return kgd->lock_holder != 0 && os::tick_count() - kgd->lock_tick >= kLookMs;
}

// Whether a look is worth the kernel mutex: a client asleep until a tag or
// a mailbox changes has nothing to find until a waker makes it a lock
// waiter. Read without the mutex: a change that is missed is seen next time.
bool worth_a_look(const Kgd* kgd, const CptEntry* entry) {
  const uint16_t state = entry->wait_state;
  return state == kNotWaiting || state == kWaitLock || kgd->lock_holder == addr_of(entry);
}

}  // namespace

int sleep_until_granted(Kgd* kgd, CptEntry* entry, uint16_t id) {
  FreeSeen free;
  for (;;) {
    kmutex_give(id);
    const int rc = wait_own_event(id, kLookMs);
    if (rc == ETIMEDOUT) {
      if (!worth_a_look(kgd, entry)) {
        // Nothing to find for itself; but a holder that died inside a write
        // may owe it a wake, and nobody else may come to clean up after it.
        if (holder_held_long(kgd) && kmutex_take(id) == 0) holder_gone(kgd);
        continue;
      }
      if (kmutex_take(id) != 0) return -1;
      const int found = look_around(kgd, entry, id, free);
      if (found > 0) break;
      if (found < 0) {
        kmutex_give(id);
        return -1;
      }
      continue;
    }
    if (rc != 0) {
      abandon_wait(kgd, entry, id);
      return -1;
    }
    // The lock is handed over, and the entry taken off the queue, before
    // the event is set: a client that finds itself the holder has nothing
    // left to look at under the mutex. Nobody but the holder gives it away.
    if (kgd->lock_holder == addr_of(entry)) return 0;
    if (kmutex_take(id) != 0) return -1;
    if (kgd->lock_holder == addr_of(entry)) break;
    // A set left over from an earlier post: the lock has not come yet, or
    // the client was made to leave.
    if (entry->wait_state == kNotWaiting && look_around(kgd, entry, id, free) != 0) {
      const bool granted = kgd->lock_holder == addr_of(entry);
      kmutex_give(id);
      return granted ? 0 : -1;
    }
  }
  kmutex_give(id);
  return 0;
}

bool holder_gone(Kgd* kgd) { return holder_held_long(kgd) && pass_lock_of_gone_holder(kgd); }

void note_grant(Kgd* kgd, CptEntry* entry) {
  const uint32_t now = os::tick_count();
  entry->stamp = now;
  // Stored only when the tick moved on: the word shares its cache line with
  // the holder word, which clients on other CPUs look at while they wait.
  if (kgd->lock_tick != now) kgd->lock_tick = now;
  map_new_segments(entry);
}

// What both lock calls do first with the resolved entry. Null when the
// call ends here, its result in *done: -1 for a queued client, 0 for a
// nested take, which touches only the caller's entry.
static CptEntry* begin_lock(CptEntry* e, int* done) {
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

// The take without the kernel mutex: true when the lock is the entry's.
// *claimed tells whether the holder word was swapped to the entry even so;
// the kernel mutex's side then decides whether the take stands.
static bool take_uncontended(Kgd* kgd, CptEntry* e, uint16_t id, bool* claimed) {
  *claimed = !lock_is_slow(kgd) && claim_lock(kgd, e);
  // Read again after the swap: a client that resolved as this one went
  // meanwhile may have gone for good, with its clean-up finished.
  if (!*claimed || lock_is_slow(kgd) || !still_live(kgd, id, e)) return false;
  ++e->stats[kStatLockGrants];
  note_grant(kgd, e);
  e->lock = 1;
  return true;
}

// Whether a client queued already ranks at least as high as the entry, or
// nobody queues: then the entry would not be first in the queue, and looking
// a while longer for the lock before it queues delays nobody but itself.
// The head is read without the kernel mutex: a stale answer costs a look.
static bool first_place_taken(const Kgd* kgd, const CptEntry* e) {
  const Addr head = kgd->queue_head;
  if (head == 0) return true;
  const CptEntry* first = at<CptEntry>(head);
  return client_id_of(kgd, first) >= 0 && first->prty >= e->prty;
}

// Spins while the holder may run on another CPU; learnt per process. The
// looks start a few pauses apart and grow apart: a holder that takes the
// lock again at once then runs on undisturbed, while one that goes to sleep
// is seen within a fraction of a microsecond.
static os::SpinWait g_lock_spin(2000, 8, 1024);

// How often a client gives its CPU away before it queues: a holder that
// shares the CPU then runs on and gives the lock back.
constexpr int kYields = 4;

// Before it queues, a client looks a while for the lock to come free: a
// holder mostly gives it back within microseconds, and a take without the
// queue costs neither side a wake-up. The look never overtakes a queued
// client, since a take without the kernel mutex succeeds only while nobody
// queues, and it ends at once when the entry would be first in the queue.
// True when the lock is the entry's; false to queue, with *claimed as in
// take_uncontended.
static bool take_when_free(Kgd* kgd, CptEntry* e, uint16_t id, bool* claimed) {
  auto free_and_taken = [&] {
    if (kgd->lock_holder != 0 || lock_is_slow(kgd)) return false;
    return take_uncontended(kgd, e, id, claimed) || *claimed;
  };
  // Under an emulator the lock is taken only under the kernel mutex (see
  // kmutex_give): there is nothing to look for.
  if (*claimed || !first_place_taken(kgd, e) || os::under_user_emulation()) return false;
  if (g_lock_spin.spin(free_and_taken)) return e->lock == 1;
  for (int i = 0; i < kYields && !*claimed; ++i) {
    if (!first_place_taken(kgd, e)) return false;
    const bool switched = os::yield_cpu();
    if (free_and_taken()) {
      // Given back while this process, bound to its CPU, let others run
      // there: the holder most likely shares the CPU, and a spin would not
      // have helped. A process free to move learns only from its wake-ups.
      if (switched && os::bound_to_one_cpu()) os::note_waker_shares_cpu(true);
      break;
    }
  }
  return e->lock == 1;
}

int db_lock(Kgd* kgd, CptEntry* entry, uint16_t id) {
  int done = 0;
  CptEntry* e = begin_lock(entry, &done);
  if (e == nullptr) return done;
  bool claimed = false;
  // A process using an id that another one registered takes the lock only
  // under the kernel mutex, where it is recorded as the one whose death
  // releases it.
  const bool foreign = used_by_other_process(e);
  if (!foreign && (take_uncontended(kgd, e, id, &claimed) || take_when_free(kgd, e, id, &claimed))) return 0;
  if (kmutex_take(id) != 0) {
    // Nobody else gives a lock taken by a call that failed.
    if (claimed) drop_lock(kgd, e);
    return -1;
  }
  const bool held = kgd->lock_holder == addr_of(e);
  if (!still_resolves(id, e)) {
    if (held) hand_over(kgd, id);
    kmutex_give(id);
    return -1;
  }
  if (foreign) note_foreign_user(kgd, e);
  if (held || claim_lock(kgd, e)) {
    ++e->stats[kStatLockGrants];
    kmutex_give(id);
  } else {
    enqueue(kgd, e, kWaitLock);
    if (sleep_until_granted(kgd, e, id) != 0) return -1;
  }
  note_grant(kgd, e);
  e->lock = 1;
  return 0;
}

// After a give without the kernel mutex that its side noticed too late:
// a client may have queued meanwhile, or a repair may have written this
// entry back as the holder. The lock goes to the first waiter.
static void settle_given_lock(Kgd* kgd, CptEntry* e, uint16_t id) {
  if (kmutex_take(id) != 0) return;   // the queued client finds the lock free when it next looks
  const Addr holder = kgd->lock_holder;
  if (holder == addr_of(e) || (holder == 0 && lock_waiters(kgd))) hand_over(kgd, id);
  kmutex_give(id);
}

int db_unlock(Kgd* kgd, CptEntry* e, uint16_t id) {
  if (e->lock == 0) {
    e->errnum = kErrNotLocked;
    return -1;
  }
  if (--e->lock > 0) return 0;
  const bool foreign = used_by_other_process(e);
  if (!foreign && !lock_is_slow(kgd) && drop_lock(kgd, e)) {
    e->stats[kStatLockTicks] += os::tick_count() - e->stamp;
    if (lock_is_slow(kgd)) settle_given_lock(kgd, e, id);
  } else {
    if (kmutex_take(id) != 0) {
      // Still the holder: keep the level, so that the unlock can be repeated.
      e->lock = 1;
      return -1;
    }
    e->stats[kStatLockTicks] += os::tick_count() - e->stamp;
    if (kgd->lock_holder == addr_of(e)) hand_over(kgd, id);
    if (foreign) forget_foreign_user(kgd, e);
    kmutex_give(id);
  }
  if (e->stat & kStatRevoked) {
    e->stat &= ~kStatRevoked;
    e->errnum = kErrLockRevoked;
    return -1;
  }
  return 0;
}

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_lock(rk_client_id id) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  return db_lock(attachment().kgd, e, id);
}

RK_API int rk_lock_nowait(rk_client_id id) {
  int done = 0;
  CptEntry* e = begin_lock(resolve_owned(resolve_app(id), id), &done);
  if (e == nullptr) return done;
  Kgd* kgd = attachment().kgd;
  if (kmutex_take(id) != 0) return -1;
  int result = -1;
  // A holder that has held the lock for a while may be gone.
  if (still_resolves(id, e) && (kgd->lock_holder == 0 || holder_gone(kgd)) && claim_lock(kgd, e)) {
    if (used_by_other_process(e)) note_foreign_user(kgd, e);
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
  return db_unlock(attachment().kgd, e, id);
}

}  // extern "C"
