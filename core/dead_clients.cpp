#include "core/dead_clients.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/client_exit.h"
#include "core/client_ids.h"
#include "core/foreign_users.h"
#include "core/lock_queue.h"
#include "platform/process_info.h"

namespace rk {

namespace {

struct Slot {
  uint32_t app;
  uint32_t slot;
};

Slot slot_of_entry(const Kgd* kgd, const CptEntry* entry) {
  const uint16_t id = static_cast<uint16_t>(client_id_of(kgd, entry));
  return Slot{static_cast<uint32_t>(app_index(id)), slot_of(id)};
}

uint32_t started(const Kgd* kgd, Slot s) { return app_data_of(kgd, s.app)->started[s.slot]; }

bool live(const CptEntry& e) { return (e.stat & kStatLive) != 0; }

}  // namespace

void note_registered(Kgd* kgd, CptEntry* entry) {
  if (client_id_of(kgd, entry) < 0) return;
  const Slot s = slot_of_entry(kgd, entry);
  app_data_of(kgd, s.app)->started[s.slot] = os::own_start_time();
}

void forget_start(Kgd* kgd, const CptEntry* entry) {
  if (client_id_of(kgd, entry) < 0) return;
  const Slot s = slot_of_entry(kgd, entry);
  app_data_of(kgd, s.app)->started[s.slot] = 0;
}

bool client_alive(const Kgd* kgd, const CptEntry* entry) {
  if (client_id_of(kgd, entry) < 0) return false;
  const uint32_t pid = entry->pid;
  if (pid == os::process_id()) return true;
  return os::process_alive(pid, started(kgd, slot_of_entry(kgd, entry)));
}

void reap_process_of(Kgd* kgd, const CptEntry* entry) {
  if (client_id_of(kgd, entry) < 0) return;
  const uint32_t pid = entry->pid;
  const uint32_t start = started(kgd, slot_of_entry(kgd, entry));
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    for (uint32_t s = 0; s < kSlots; ++s) {
      CptEntry& e = app->cpt[s];
      if (live(e) && e.pid == pid && started(kgd, Slot{a, s}) == start) client_exit(kgd, app, &e);
    }
  }
}

namespace {
GoneHolderHook g_gone_holder_hook = nullptr;
}  // namespace

void set_gone_holder_hook(GoneHolderHook hook) { g_gone_holder_hook = hook; }

void after_gone_holder(Kgd* kgd) {
  if (g_gone_holder_hook != nullptr) g_gone_holder_hook(kgd);
}

bool pass_lock_of_gone_holder(Kgd* kgd) {
  if (kgd->lock_holder == 0) return false;
  CptEntry* holder = at<CptEntry>(kgd->lock_holder);
  if (client_id_of(kgd, holder) < 0 || !live(*holder)) {
    hand_over(kgd, kSelfByName);
    return true;
  }
  // The lock is held under the id by a process other than the registered
  // one: that process's death releases it.
  if (const ForeignUser* f = foreign_user_of(kgd, holder); f != nullptr && f->pid != holder->pid) {
    return release_dead_foreign_users(kgd);
  }
  if (client_alive(kgd, holder)) return false;
  reap_process_of(kgd, holder);
  return true;
}

uint32_t reap_dead_clients(Kgd* kgd, AppBlock* only) {
  release_dead_foreign_users(kgd);
  // One look per process, however many clients it has.
  std::vector<std::pair<uint32_t, uint32_t>> alive, dead;
  uint32_t ended = 0;
  const uint32_t self = os::process_id();
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    if ((only != nullptr && app != only) || app->active != 1) continue;
    for (uint32_t s = 0; s < kSlots; ++s) {
      CptEntry& e = app->cpt[s];
      const uint32_t pid = e.pid;
      if (!live(e) || pid == self) continue;
      const uint32_t start = started(kgd, Slot{a, s});
      const std::pair<uint32_t, uint32_t> key{pid, start};
      bool is_dead = false;
      if (std::find(dead.begin(), dead.end(), key) != dead.end()) {
        is_dead = true;
      } else if (std::find(alive.begin(), alive.end(), key) == alive.end()) {
        is_dead = !os::process_alive(pid, start);
        (is_dead ? dead : alive).push_back(key);
      }
      if (is_dead) {
        client_exit(kgd, app, &e);
        ++ended;
      }
    }
  }
  return ended;
}

}  // namespace rk
