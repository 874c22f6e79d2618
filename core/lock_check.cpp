#include "core/lock_check.h"

#include <vector>

#include "core/check_text.h"
#include "core/client_ids.h"
#include "core/lock_queue.h"

namespace rk {

namespace {

bool live(const CptEntry& e) { return (e.stat & kStatLive) != 0; }

bool in_wait_state(uint16_t state) { return state >= kWaitLock && state <= kWaitEither; }

// The entry an address names, or -1 when it names none.
int32_t id_at(const Kgd* kgd, Addr a) { return a != 0 ? client_id_of(kgd, at<CptEntry>(a)) : -1; }

std::string check_holder(const Kgd* kgd) {
  const Addr holder = kgd->lock_holder;
  if (holder == 0) return "";
  const int32_t id = id_at(kgd, holder);
  if (id < 0) return check_text("database lock: holder 0x%x is no client entry", holder);
  const CptEntry& e = *at<CptEntry>(holder);
  if (!live(e)) return check_text("database lock: holder 0x%04x is not live", id);
  // The lock is handed over only once the entry is off the queue.
  if (e.wait_state != kNotWaiting) return check_text("database lock: holder 0x%04x is in wait state %u", id, e.wait_state);
  return "";
}

// Walks the chain, marking every entry on it by its column a x 31 + s.
std::string check_chain(const Kgd* kgd, std::vector<bool>* on_chain) {
  Addr next = kgd->queue_head;
  uint32_t prty = 0xFFFF;
  for (uint32_t n = 0; next != 0; ++n) {
    const int32_t id = id_at(kgd, next);
    if (id < 0) return check_text("lock queue: link 0x%x is no client entry", next);
    const uint32_t column = static_cast<uint32_t>(app_index(static_cast<uint16_t>(id))) * kSlots + slot_of(id);
    if ((*on_chain)[column]) return check_text("lock queue: 0x%04x is linked twice", id);
    (*on_chain)[column] = true;
    const CptEntry& e = *at<CptEntry>(next);
    if (!live(e)) return check_text("lock queue: 0x%04x is not live", id);
    if (!in_wait_state(e.wait_state)) return check_text("lock queue: 0x%04x is in wait state %u", id, e.wait_state);
    if (next == kgd->lock_holder) return check_text("lock queue: 0x%04x holds the lock", id);
    if (e.prty > prty) return check_text("lock queue: 0x%04x of priority %u stands behind priority %u", id, e.prty, prty);
    prty = e.prty;
    next = e.link;
  }
  return "";
}

std::string check_app(const Kgd* kgd, uint32_t a, const std::vector<bool>& on_chain) {
  const AppBlock* app = app_block(kgd, a);
  uint32_t queued = 0;
  uint32_t by_state[kWaitEither] = {};
  for (uint32_t s = 0; s < kSlots; ++s) {
    const CptEntry& e = app->cpt[s];
    const uint32_t id = a << 8 | s;
    if (live(e) && (e.id != id || e.own_bit != 1u << s))
      return check_text("lock queue: slot 0x%04x holds id 0x%04x and own bit 0x%x", id, e.id, e.own_bit);
    const uint16_t state = e.wait_state;
    if (state == kNotWaiting) continue;
    if (!in_wait_state(state)) return check_text("lock queue: 0x%04x is in wait state %u", id, state);
    if (!live(e)) return check_text("lock queue: 0x%04x is in wait state %u but not live", id, state);
    if (!on_chain[a * kSlots + s]) return check_text("lock queue: 0x%04x is in wait state %u but not queued", id, state);
    queued |= 1u << s;
    by_state[state - 1] |= 1u << s;
  }
  if (app->queued != queued)
    return check_text("lock queue: application %u has queued mask 0x%x, its slots 0x%x", a, app->queued, queued);
  for (uint32_t i = 0; i < kWaitEither; ++i) {
    if (app->waiting[i] != by_state[i])
      return check_text("lock queue: application %u has mask 0x%x for wait state %u, its slots 0x%x", a, app->waiting[i],
                   i + 1, by_state[i]);
  }
  return "";
}

}  // namespace

std::string lock_check(const Kgd* kgd) {
  if (std::string f = check_holder(kgd); !f.empty()) return f;
  // A chain of distinct entries visits each at most once, so the walk ends.
  std::vector<bool> on_chain(kgd->napps * kSlots, false);
  if (std::string f = check_chain(kgd, &on_chain); !f.empty()) return f;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    if (std::string f = check_app(kgd, a, on_chain); !f.empty()) return f;
  }
  return "";
}

}  // namespace rk
