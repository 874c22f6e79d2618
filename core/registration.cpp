// A process becomes a client by registering under a task name in one
// application instance; RKNAME, RKDOMAIN and RKUSER say where.
#include <cstring>
#include <string>

#include "core/attachment.h"
#include "core/client_events.h"
#include "core/client_exit.h"
#include "core/client_handlers.h"
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
#include "core/text_fields.h"
#include "platform/process_info.h"
#include "rk.h"

namespace rk {

namespace {

constexpr size_t kEnvValueBytes = 16;   // what the name fields hold, NUL included

bool has_blank(const char* text) { return strpbrk(text, " \t") != nullptr; }

// The process's own command line after its first blank.
std::string own_arguments() {
  const std::string line = os::command_line();
  const size_t blank = line.find(' ');
  return blank == std::string::npos ? std::string() : line.substr(blank + 1);
}

// The application and the slot; a slot held by a client whose process died
// is taken back from it. The slot, or a negated error number. Kernel mutex
// held.
int32_t choose_slot(const char* task, const char* domain, const char* instance, AppBlock** app) {
  *app = active_app_by_names(domain, instance);
  if (*app == nullptr) return -kErrNotRegistered;
  int32_t slot = slot_by_name(*app, task);
  if (slot < 0) slot = free_slot(*app);
  // The numeric form may name another application or no slot at all.
  if (slot < 0 || slot >= kSlots) return -kErrNoSlot;
  CptEntry* e = &(*app)->cpt[slot];
  if (e->stat & kStatLive) {
    // A slot whose process died is free: its clients leave first.
    Kgd* kgd = attachment().kgd;
    if (client_alive(kgd, e)) return -kErrInUse;
    reap_process_of(kgd, e);
  }
  return slot;
}

// Makes the slot the calling process's client. The id, or a negated error
// number. The slot's old tag list is freed here when nobody holds the
// database lock, else left in the slot, marked, for the new client to free
// under the lock. Kernel mutex held.
int32_t take_slot(Kgd* kgd, AppBlock* app, uint32_t slot, const char* task, const char* desc) {
  CptEntry* e = &app->cpt[slot];
  const uint32_t a = static_cast<uint32_t>(app - app_block(kgd, 0));
  const uint16_t id = static_cast<uint16_t>(a << 8 | slot);
  const uint32_t bit = 1u << slot;
  e->id = id;
  e->own_bit = bit;
  // Who registered, before the slot is live: a registration cut off by the
  // death of its process leaves a slot that names the dead process.
  e->pid = os::process_id();
  note_registered(kgd, e);
  e->stat = kStatConfigured | kStatLive;
  e->errnum = 0;
  e->nmap = 1;
  // An earlier client of the slot may have left it queued, or holding the lock.
  if (e->wait_state != kNotWaiting || kgd->lock_holder == addr_of(e)) {
    if (queue_cleanup(kgd, e) != 0) return -e->errnum;
  }
  e->lock = 0;
  e->link = 0;
  e->wait_state = kNotWaiting;
  e->stamp = 0;
  e->sig_pending = 0;
  e->sig_accepted = kAcceptedAtStart;
  leave_list(e);
  free_left_list_if_unlocked(kgd, e);
  copy_text(e->name, sizeof e->name, task);
  copy_text(e->desc, sizeof e->desc, desc);
  memset(e->stats, 0, sizeof e->stats);
  copy_text(e->modpath, sizeof e->modpath, os::executable_path().c_str());
  copy_text(e->args, sizeof e->args, own_arguments().c_str());
  // Masks and handlers of an earlier client are its own: never inherited.
  e->read_mask = e->write_mask = e->change_mask = 0;
  memset(e->handlers, 0, sizeof e->handlers);
  clear_client_handlers(id);
  open_events(e);
  set_own_event(id, false);
  app->registered |= bit;
  app->queued &= ~bit;
  for (uint32_t i = 0; i < kWaitEither; ++i) app->waiting[i] &= ~bit;
  app->pending_wake &= ~bit;
  return id;
}

}  // namespace

}  // namespace rk

using namespace rk;

extern "C" {

// A value that does not fit with its NUL is not cut, since a cut name could
// name another RTDB, domain or instance: the buffer is left empty and the
// result is null, as for a variable that is not set.
RK_API char* rk_getvar(const char* name, char* buffer, uint32_t size) {
  if (name == nullptr || buffer == nullptr) return nullptr;
  const char* value = os::env_var(name);
  if (value == nullptr) return nullptr;
  const size_t length = strlen(value);
  if (length >= size) {
    if (size > 0) buffer[0] = '\0';
    return nullptr;
  }
  memcpy(buffer, value, length + 1);
  return buffer;
}

RK_API int16_t rk_proc_init(const char* task, const char* desc) {
  char domain[kEnvValueBytes], name[kEnvValueBytes], user[kEnvValueBytes];
  if (rk_getvar("RKDOMAIN", domain, sizeof domain) == nullptr || rk_getvar("RKNAME", name, sizeof name) == nullptr ||
      rk_getvar("RKUSER", user, sizeof user) == nullptr) {
    return -kErrNullArg;
  }
  return rk_proc_init_app(task, desc, name, domain, user);
}

RK_API int16_t rk_proc_init_app(const char* task, const char* desc, const char* rtdb_name, const char* domain,
                                const char* instance) {
  if (task == nullptr || desc == nullptr || rtdb_name == nullptr || domain == nullptr || instance == nullptr ||
      has_blank(rtdb_name) || has_blank(domain) || has_blank(instance)) {
    return -kErrNullArg;
  }
  if (task[0] == '\0') return -kErrNoClient;
  if (instance[0] == '\0') return -kErrNoApp;
  bool attached_now = false;
  KgdRefusal why;
  Kgd* kgd = find_rtdb(rtdb_name, &attached_now, &why);
  if (kgd == nullptr) why.report();
  int32_t result = -kErrNoRtdb;
  if (kgd != nullptr && rtdb_ready(kgd)) {
    open_mutexes(kgd);
    open_process_events();
    result = -kErrKernelMutex;
    AppBlock* app = nullptr;
    if (kmutex_take(kSelf) == 0) {
      result = choose_slot(task, domain, instance, &app);
      if (result >= 0) {
        result = take_slot(kgd, app, static_cast<uint32_t>(result), task, desc);
        attached_now = false;   // the process has an entry in the RTDB now
      }
      kmutex_give(kSelf);
    }
    // A list still left could not be freed under the kernel mutex, which
    // never waits for the database lock.
    if (result >= 0) {
      const uint16_t id = static_cast<uint16_t>(result);
      free_left_list_as(kgd, &app->cpt[slot_of(id)], id);
    }
  }
  // A refused registration leaves the process as it found it.
  if (attached_now) detach_rtdb();
  return static_cast<int16_t>(result);
}

}  // extern "C"
