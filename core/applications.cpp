// Application instances: started in a free block of their domain from a
// template of 31 slots, ended with their clients' queue places and the
// database lock given up. The last one to end deletes the RTDB.
#include <cstddef>
#include <cstring>

#include "core/attachment.h"
#include "core/client_events.h"
#include "core/client_exit.h"
#include "core/client_ids.h"
#include "core/dead_clients.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/kernel_objects.h"
#include "core/kgd_words.h"
#include "core/list_blocks.h"
#include "core/lock_queue.h"
#include "core/name_rules.h"
#include "core/rtdb.h"
#include "core/rtdb_lookup.h"
#include "core/segments.h"
#include "core/text_fields.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/format.h"
#include "rk.h"

namespace rk {

namespace {

constexpr uint32_t kExitPolls = 60;      // application 0 waits at most this many polls
constexpr uint32_t kExitPollMs = 1000;   // for the others to end

void write_banner() {
  char text[200];
  kfmt_n(text, sizeof text, "%s\n%s\n", rk_get_title(), rk_get_copyrt());
  console_write(text);
}

// The first free block of the domain.
AppBlock* free_block(const Kgd* kgd, const char* domain) {
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    if (app->active == 0 && app_in_domain(kgd, app, domain)) return app;
  }
  return nullptr;
}

// A slot as its template entry configures it; everything else starts at
// zero but the tag list an earlier client left, which stays until it is
// freed.
void configure_slot(CptEntry* e, const CptEntry& t, uint32_t slot) {
  auto* bytes = reinterpret_cast<char*>(e);
  memset(bytes, 0, offsetof(CptEntry, list_handle));
  memset(bytes + offsetof(CptEntry, id), 0, sizeof *e - offsetof(CptEntry, id));
  leave_list(e);
  e->type = t.type;
  // A slot becomes live only by registration: a template cannot make a
  // client out of nobody.
  e->stat = t.stat & static_cast<uint16_t>(~kStatLive);
  e->prty = t.prty;
  e->config = t.config;
  copy_text(e->name, sizeof e->name, t.name);
  copy_text(e->desc, sizeof e->desc, t.desc);
  copy_text(e->cmdline, sizeof e->cmdline, t.cmdline);
  copy_text(e->text2, sizeof e->text2, t.text2);
  memcpy(e->env_refs, t.env_refs, sizeof e->env_refs);
  // Segment 0 is mapped in the run manager's process, which slot 0 stands for.
  e->nmap = slot == 0 ? 1 : 0;
  e->sig_accepted = kAcceptedAtStart;
}

// Claims a free block of the domain and writes its table, all under the
// kernel mutex, so that no client registers into a half-written table. The
// application index, or a negated error number. A tag list an earlier
// instance left in a slot is freed at once when the database lock is free,
// else it stays in the slot, marked. Kernel mutex held.
int start_instance(Kgd* kgd, const char* domain, const char* instance, const CptEntry* table) {
  if (active_app_by_names(domain, instance) != nullptr) return -kErrInUse;
  AppBlock* app = free_block(kgd, domain);
  if (app == nullptr) return -kErrNoSlot;
  app->active = 1;
  copy_text(app->instance, sizeof app->instance, instance);
  ++kgd->running_apps;
  for (uint32_t s = 0; s < kSlots; ++s) {
    CptEntry* e = &app->cpt[s];
    if (e->wait_state != kNotWaiting || kgd->lock_holder == addr_of(e)) {
      if (queue_cleanup(kgd, e) != 0) return -e->errnum;
    }
    configure_slot(e, table[s], s);
    free_left_list_if_unlocked(kgd, e);
  }
  return static_cast<int>(app - app_block(kgd, 0));
}

// Application 0 ends the run: the others are given time to end first.
void await_other_apps(Kgd* kgd) {
  __atomic_store_n(state_word(kgd), 2, __ATOMIC_SEQ_CST);
  for (uint32_t n = 0; n < kExitPolls; ++n) {
    if (load_running_apps(kgd) <= 1) return;
    os::sleep_ms(kExitPollMs);
  }
  // Then it ends anyway; the kernel's messages are a fixed few, so silently.
}

// Every queued client of the application leaves the queue and is no longer
// live. Each one is woken as well: asleep in rk_lock or rk_wait it would
// otherwise never return; awake, it finds itself out of the queue without
// the lock and fails. Kernel mutex held.
void drop_queued_clients(Kgd* kgd, AppBlock* app, uint32_t a) {
  for (uint32_t s = 0; s < kSlots; ++s) {
    CptEntry* e = &app->cpt[s];
    if (e->wait_state == kNotWaiting) continue;
    unlink_queued(kgd, e);
    e->link = 0;
    e->wait_state = kNotWaiting;
    e->stat = 0;
    post_event(kSelfByName, static_cast<uint16_t>(a << 8 | s));
  }
}

void end_instance(Kgd* kgd, AppBlock* app, uint32_t a, rk_client_id giver) {
  // Clients whose process died leave as their exit trap would have made
  // them: their slots are free, and a lock one of them held goes on.
  reap_dead_clients(kgd, app);
  drop_queued_clients(kgd, app, a);
  if (kgd->lock_holder != 0 && app_of_entry(kgd, at<CptEntry>(kgd->lock_holder)) == app) hand_over(kgd, giver);
  app->active = 0;
  app->registered = app->queued = 0;
  memset(app->waiting, 0, sizeof app->waiting);
  app->instance1 = app->instance2 = 0;
  --kgd->running_apps;
}

}  // namespace

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_init_app(const char* rtdb_name, const char* domain, const char* instance, const rk_cpt_entry* table) {
  write_banner();
  if (rtdb_name == nullptr || domain == nullptr || instance == nullptr || table == nullptr) return -kErrNullArg;
  // Clients give the instance in RKUSER, at most 15 characters.
  if (instance[0] == '\0') return -kErrNoApp;
  if (strlen(instance) >= sizeof(AppBlock::instance)) return -kErrNullArg;
  bool attached_now = false;
  KgdRefusal why;
  Kgd* kgd = find_rtdb(rtdb_name, &attached_now, &why);
  if (kgd == nullptr) {
    why.report();
    return -kErrNoMoreRtdb;
  }
  int result = -kErrNoRtdb;
  if (rtdb_ready(kgd)) {
    open_mutexes(kgd);
    result = -kErrKernelMutex;
    if (kmutex_take(kSelf) == 0) {
      map_new_segments(nullptr);
      result = start_instance(kgd, domain, instance, table);
      kmutex_give(kSelf);
    }
    if (result >= 0) free_left_lists_when_unlocked(kgd, app_block(kgd, static_cast<uint32_t>(result)));
  }
  // A refused start leaves the process as it found it.
  if (result < 0 && attached_now) detach_rtdb();
  return result;
}

RK_API int rk_exit_app(rk_client_id id) {
  if (resolve_app(id) == nullptr) return -1;
  Kgd* kgd = attachment().kgd;
  const uint32_t a = static_cast<uint32_t>(app_index(id));
  if (a == 0) await_other_apps(kgd);
  if (kmutex_take(kSelf) != 0) return -1;
  // Another process may have ended the instance meanwhile: it ends once.
  AppBlock* app = resolve_app(id);
  int32_t left = -1;
  if (app != nullptr) {
    end_instance(kgd, app, a, id);
    left = kgd->running_apps;
  }
  kmutex_give(kSelf);
  if (app == nullptr) return -1;
  if (left == 0) rk_delete_rtdb(static_cast<int>(kgd->index));
  return 0;
}

}  // extern "C"
