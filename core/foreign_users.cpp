#include "core/foreign_users.h"

#include "core/client_ids.h"
#include "core/client_events.h"
#include "core/lock_queue.h"

namespace rk {

void note_foreign_user(Kgd* kgd, const CptEntry* entry) {
  const Addr a = addr_of(entry);
  const uint32_t self = os::process_id();
  ForeignUser* free_record = nullptr;
  for (ForeignUser& f : kgd->foreign) {
    if (f.entry == a && f.pid == self) return;
    if (f.entry == 0 && free_record == nullptr) free_record = &f;
  }
  if (free_record != nullptr) *free_record = ForeignUser{a, self, os::own_start_time()};
}

void forget_foreign_user(Kgd* kgd, const CptEntry* entry) {
  const Addr a = addr_of(entry);
  const uint32_t self = os::process_id();
  for (ForeignUser& f : kgd->foreign) {
    if (f.entry == a && f.pid == self) f = ForeignUser{};
  }
}

const ForeignUser* foreign_user_of(const Kgd* kgd, const CptEntry* entry) {
  const Addr a = addr_of(entry);
  for (const ForeignUser& f : kgd->foreign) {
    if (f.entry == a) return &f;
  }
  return nullptr;
}

bool release_dead_foreign_users(Kgd* kgd) {
  bool passed = false;
  for (ForeignUser& f : kgd->foreign) {
    if (f.entry == 0 || os::process_alive(f.pid, f.start)) continue;
    CptEntry* e = at<CptEntry>(f.entry);
    f = ForeignUser{};
    if (client_id_of(kgd, e) < 0) continue;
    if (kgd->lock_holder == addr_of(e)) {
      // Its nesting count went with it.
      e->lock = 0;
      hand_over(kgd, kSelfByName);
      passed = true;
    } else if (e->wait_state != kNotWaiting) {
      unlink_queued(kgd, e);
      e->link = 0;
      e->wait_state = kNotWaiting;
    }
  }
  return passed;
}

}  // namespace rk
