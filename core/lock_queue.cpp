#include "core/lock_queue.h"

#include <vector>

#include "core/client_events.h"
#include "core/client_ids.h"
#include "core/intent_record.h"
#include "core/kernel_mutex.h"
#include "platform/clock.h"
#include "platform/process_info.h"

namespace rk {

namespace {

// Bounds every walk: a queue damaged into a cycle must not hang the kernel.
uint32_t max_queue(const Kgd* kgd) { return kgd->napps * kSlots; }

// The queue is walked by the entry before the one looked at, null for the
// head: the link fields are packed, so they are read and written by value.
Addr link_after(const Kgd* kgd, const CptEntry* prev) { return prev != nullptr ? prev->link : kgd->queue_head; }

void set_link_after(Kgd* kgd, CptEntry* prev, Addr next) {
  if (prev != nullptr) {
    prev->link = next;
  } else {
    kgd->queue_head = next;
  }
}

void clear_wait_bits(Kgd* kgd, CptEntry* e) {
  AppBlock* app = app_of_entry(kgd, e);
  if (app != nullptr) {
    const uint16_t state = e->wait_state;
    if (state >= kWaitLock && state <= kWaitEither) app->waiting[state - 1] &= ~e->own_bit;
    app->queued &= ~e->own_bit;
  }
  e->link = 0;
  e->wait_state = kNotWaiting;
}

// Unlinks the entry after prev (which names it) and clears its queue state.
CptEntry* take_out(Kgd* kgd, CptEntry* prev, CptEntry* e) {
  set_link_after(kgd, prev, e->link);
  e->stats[kStatQueueTicks] += os::tick_count() - e->stamp;
  clear_wait_bits(kgd, e);
  return e;
}

// The first failure to wake a new holder is kept, as a kernel mutex failure is.
int wake_holder(Kgd* kgd, int32_t giver, CptEntry* holder) {
  // A giver with no row of its own posts by name.
  int rc = post_event(giver, holder->id);
  if (rc != 0) rc = post_event(kSelfByName, holder->id);
  if (rc != 0) record_failure(kgd, rc, holder->id, os::process_id());
  return rc;
}

}  // namespace

AppBlock* app_of_entry(const Kgd* kgd, const CptEntry* entry) {
  int32_t id = client_id_of(kgd, entry);
  return id < 0 ? nullptr : app_block(kgd, static_cast<uint32_t>(app_index(static_cast<uint16_t>(id))));
}

void link_in(Kgd* kgd, CptEntry* entry, uint16_t state) {
  AppBlock* app = app_of_entry(kgd, entry);
  if (app == nullptr || state < kWaitLock || state > kWaitEither) return;
  CptEntry* prev = nullptr;
  for (uint32_t n = 0; link_after(kgd, prev) != 0 && n < max_queue(kgd); ++n) {
    CptEntry* e = at<CptEntry>(link_after(kgd, prev));
    if (e->prty < entry->prty) break;
    prev = e;
  }
  entry->link = link_after(kgd, prev);
  set_link_after(kgd, prev, addr_of(entry));
  entry->wait_state = state;
  app->waiting[state - 1] |= entry->own_bit;
  app->queued |= entry->own_bit;
}

void enqueue(Kgd* kgd, CptEntry* entry, uint16_t state) {
  if (app_of_entry(kgd, entry) == nullptr || state < kWaitLock || state > kWaitEither) return;
  link_in(kgd, entry, state);
  ++entry->stats[state == kWaitLock ? kStatLockGrants : kStatWaits];
  ++entry->stats[kStatQueueEntries];
  entry->stamp = os::tick_count();
}

CptEntry* dequeue(Kgd* kgd, uint16_t state) {
  CptEntry* prev = nullptr;
  for (uint32_t n = 0; link_after(kgd, prev) != 0 && n < max_queue(kgd); ++n) {
    CptEntry* e = at<CptEntry>(link_after(kgd, prev));
    if ((e->stat & kStatLive) == 0) {
      // Its client left without unlinking itself.
      set_link_after(kgd, prev, e->link);
      clear_wait_bits(kgd, e);
      continue;
    }
    if (e->wait_state == state) return take_out(kgd, prev, e);
    prev = e;
  }
  return nullptr;
}

bool lock_waiters(const Kgd* kgd) {
  Addr next = kgd->queue_head;
  for (uint32_t n = 0; next != 0 && n < max_queue(kgd); ++n) {
    const CptEntry* e = at<CptEntry>(next);
    if (e->wait_state == kWaitLock) return true;
    next = e->link;
  }
  return false;
}

void unlink_queued(Kgd* kgd, CptEntry* entry) {
  CptEntry* prev = nullptr;
  for (uint32_t n = 0; link_after(kgd, prev) != 0 && n < max_queue(kgd); ++n) {
    CptEntry* e = at<CptEntry>(link_after(kgd, prev));
    if (e == entry) {
      take_out(kgd, prev, e);
      return;
    }
    prev = e;
  }
}

namespace {

// Passes the lock to the first waiter that can be woken now, posting under
// the kernel mutex; `unwoken` are waiters that could not be woken already.
// A waiter that cannot be woken stays queued and the lock goes on to the
// next; when none can be woken, the first keeps it and finds it when it
// next looks (a queued client looks now and then).
void pass_to_wakeable(Kgd* kgd, int32_t giver, std::vector<CptEntry*> unwoken) {
  CptEntry* next = nullptr;
  while ((next = dequeue(kgd, kWaitLock)) != nullptr) {
    kgd->lock_holder = addr_of(next);
    if (wake_holder(kgd, giver, next) == 0) break;
    unwoken.push_back(next);
  }
  if (next == nullptr && !unwoken.empty()) {
    next = unwoken.front();
    unwoken.erase(unwoken.begin());
  }
  kgd->lock_holder = next != nullptr ? addr_of(next) : 0;
  for (CptEntry* e : unwoken) link_in(kgd, e, kWaitLock);
}

// A new holder's wake-up, posted once the kernel mutex is given back: the
// woken client then finds the mutex free instead of colliding with its
// giver.
struct DeferredWake {
  Kgd* kgd;
  int32_t giver;
  CptEntry* holder;
};
thread_local std::vector<DeferredWake> t_wakes;

}  // namespace

void hand_over(Kgd* kgd, int32_t giver) {
  // A holder that died inside an update of shared data left it to be made
  // whole before anybody else takes the lock.
  if (const IntentRecord* r = intent_record(kgd, kDataIntent); r != nullptr && r->state != 0) {
    intent_repair(kgd, kDataIntent, true);
  }
  // The new holder owns the lock from here on; its event only wakes it, and
  // must, whoever gives.
  CptEntry* next = dequeue(kgd, kWaitLock);
  kgd->lock_holder = next != nullptr ? addr_of(next) : 0;
  if (next != nullptr) t_wakes.push_back(DeferredWake{kgd, giver, next});
}

void post_deferred_wakes() {
  if (t_wakes.empty()) return;
  std::vector<DeferredWake> wakes;
  wakes.swap(t_wakes);
  for (const DeferredWake& w : wakes) {
    int rc = post_event(w.giver, w.holder->id);
    if (rc != 0) rc = post_event(kSelfByName, w.holder->id);
    if (rc == 0 || kmutex_take(w.giver) != 0) continue;
    // Nobody can wake it: unless the lock has moved on meanwhile, it goes
    // to the next waiter that can be woken, and this one stays queued.
    record_failure(w.kgd, rc, w.holder->id, os::process_id());
    if (w.kgd->lock_holder == addr_of(w.holder)) pass_to_wakeable(w.kgd, w.giver, {w.holder});
    kmutex_give(w.giver);
  }
}

}  // namespace rk
