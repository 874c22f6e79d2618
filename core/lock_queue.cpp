#include "core/lock_queue.h"

#include "core/client_events.h"
#include "core/client_ids.h"
#include "platform/clock.h"

namespace rk {

namespace {

// Bounds every walk: a queue damaged into a cycle must not hang the kernel.
uint32_t max_queue(const Kgd* kgd) { return kgd->napps * kSlots; }

void clear_wait_bits(Kgd* kgd, CptEntry* e) {
  AppBlock* app = app_of_entry(kgd, e);
  if (app != nullptr) {
    if (e->wait_state >= kWaitLock && e->wait_state <= kWaitEither) app->waiting[e->wait_state - 1] &= ~e->own_bit;
    app->queued &= ~e->own_bit;
  }
  e->link = 0;
  e->wait_state = kNotWaiting;
}

// Unlinks the entry after *prev (which names it) and clears its queue state.
CptEntry* take_out(Kgd* kgd, Addr* prev, CptEntry* e) {
  *prev = e->link;
  e->stats[kStatQueueTicks] += os::tick_count() - e->stamp;
  clear_wait_bits(kgd, e);
  return e;
}

}  // namespace

AppBlock* app_of_entry(const Kgd* kgd, const CptEntry* entry) {
  int32_t id = client_id_of(kgd, entry);
  return id < 0 ? nullptr : app_block(kgd, static_cast<uint32_t>(app_index(static_cast<uint16_t>(id))));
}

void enqueue(Kgd* kgd, CptEntry* entry, uint16_t state) {
  AppBlock* app = app_of_entry(kgd, entry);
  if (app == nullptr || state < kWaitLock || state > kWaitEither) return;
  Addr* prev = &kgd->queue_head;
  for (uint32_t n = 0; *prev != 0 && n < max_queue(kgd); ++n) {
    CptEntry* e = at<CptEntry>(*prev);
    if (e->prty < entry->prty) break;
    prev = &e->link;
  }
  entry->link = *prev;
  *prev = addr_of(entry);
  entry->wait_state = state;
  app->waiting[state - 1] |= entry->own_bit;
  app->queued |= entry->own_bit;
  ++entry->stats[state == kWaitLock ? kStatLockGrants : kStatWaits];
  ++entry->stats[kStatQueueEntries];
  entry->stamp = os::tick_count();
}

CptEntry* dequeue(Kgd* kgd, uint16_t state) {
  Addr* prev = &kgd->queue_head;
  for (uint32_t n = 0; *prev != 0 && n < max_queue(kgd); ++n) {
    CptEntry* e = at<CptEntry>(*prev);
    if ((e->stat & kStatLive) == 0) {
      // Its client left without unlinking itself.
      *prev = e->link;
      clear_wait_bits(kgd, e);
      continue;
    }
    if (e->wait_state == state) return take_out(kgd, prev, e);
    prev = &e->link;
  }
  return nullptr;
}

void unlink_queued(Kgd* kgd, CptEntry* entry) {
  Addr* prev = &kgd->queue_head;
  for (uint32_t n = 0; *prev != 0 && n < max_queue(kgd); ++n) {
    CptEntry* e = at<CptEntry>(*prev);
    if (e == entry) {
      take_out(kgd, prev, e);
      return;
    }
    prev = &e->link;
  }
}

void hand_over(Kgd* kgd, int32_t giver) {
  CptEntry* next = dequeue(kgd, kWaitLock);
  kgd->lock_holder = next != nullptr ? addr_of(next) : 0;
  // The new holder owns the lock from here on; the event only wakes it, and
  // must, whoever gives: a giver with no row of its own posts by name.
  if (next != nullptr && post_event(giver, next->id) != 0) post_event(kSelfByName, next->id);
}

}  // namespace rk
