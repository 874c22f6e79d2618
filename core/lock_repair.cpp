#include "core/lock_repair.h"

#include <vector>

#include "core/client_events.h"
#include "core/client_ids.h"
#include "core/dead_clients.h"
#include "core/lock_queue.h"

namespace rk {

namespace {

bool live(const CptEntry& e) { return (e.stat & kStatLive) != 0; }

bool queued(const CptEntry& e) { return e.wait_state >= kWaitLock && e.wait_state <= kWaitEither; }

// The entry an address names, or null when it names none.
CptEntry* entry_at(const Kgd* kgd, Addr a) {
  return a != 0 && client_id_of(kgd, at<CptEntry>(a)) >= 0 ? at<CptEntry>(a) : nullptr;
}

uint32_t column(const Kgd* kgd, const CptEntry* e) {
  const uint16_t id = static_cast<uint16_t>(client_id_of(kgd, e));
  return static_cast<uint32_t>(app_index(id)) * kSlots + slot_of(id);
}

// The queue as it should be: the waiting entries in their present order,
// as far as the chain still leads through them, then those it lost. Marks
// each of them in `kept`, by column.
std::vector<CptEntry*> waiting_entries(Kgd* kgd, const CptEntry* holder, std::vector<bool>& kept) {
  std::vector<bool> seen(kept.size(), false);
  std::vector<CptEntry*> order;
  auto keep = [&](CptEntry* e) {
    if (!live(*e) || !queued(*e) || e == holder || kept[column(kgd, e)]) return;
    kept[column(kgd, e)] = true;
    order.push_back(e);
  };
  for (CptEntry* e = entry_at(kgd, kgd->queue_head); e != nullptr && !seen[column(kgd, e)];
       e = entry_at(kgd, e->link)) {
    seen[column(kgd, e)] = true;
    keep(e);
  }
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    for (CptEntry& e : app_block(kgd, a)->cpt) keep(&e);
  }
  return order;
}

// The queued and per-state masks of every application, from the entries.
void recompute_masks(Kgd* kgd) {
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    uint32_t in_queue = 0;
    uint32_t by_state[kWaitEither] = {};
    for (uint32_t s = 0; s < kSlots; ++s) {
      const CptEntry& e = app->cpt[s];
      if (!queued(e)) continue;
      in_queue |= 1u << s;
      by_state[e.wait_state - 1] |= 1u << s;
    }
    app->queued = in_queue;
    for (uint32_t i = 0; i < kWaitEither; ++i) app->waiting[i] = by_state[i];
  }
}

}  // namespace

void repair_lock_state(Kgd* kgd) {
  CptEntry* holder = entry_at(kgd, kgd->lock_holder);
  if (holder != nullptr && !live(*holder)) holder = nullptr;
  kgd->lock_holder = holder != nullptr ? addr_of(holder) : 0;
  // The holder is not queued: it may have been taken off the queue halfway.
  if (holder != nullptr) {
    holder->wait_state = kNotWaiting;
    holder->link = 0;
  }

  std::vector<bool> kept(kgd->napps * kSlots, false);
  const std::vector<CptEntry*> order = waiting_entries(kgd, holder, kept);
  // Everything else that claims a place in the queue has none.
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    for (CptEntry& e : app_block(kgd, a)->cpt) {
      if (kept[column(kgd, &e)]) continue;
      e.link = 0;
      if (!live(e)) e.wait_state = kNotWaiting;
    }
  }
  kgd->queue_head = 0;
  for (CptEntry* e : order) {
    e->link = 0;
    link_in(kgd, e, e->wait_state);
  }
  recompute_masks(kgd);

  reap_dead_clients(kgd, nullptr);
  // The owner may have died inside a wake, its own write's or the one owed
  // by a writer that died before it: the clients asleep on a tag that
  // changed are released, whoever made the change.
  after_gone_holder(kgd);
  if (kgd->lock_holder == 0) {
    hand_over(kgd, kSelfByName);
  } else {
    post_event(kSelfByName, at<CptEntry>(kgd->lock_holder)->id);
  }
}

}  // namespace rk
