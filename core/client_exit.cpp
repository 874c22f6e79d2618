// Clients leave in order with rk_proc_exit, or all at once as their process
// ends with rk_exit_trap.
#include "core/client_exit.h"

#include "core/attachment.h"
#include "core/client_events.h"
#include "core/client_ids.h"
#include "core/dead_clients.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/kgd_words.h"
#include "core/lock_queue.h"
#include "platform/process_info.h"
#include "rk.h"

namespace rk {

namespace {

// Gives back every kernel mutex level this process still holds, whatever
// id it took them for. A give that changes nothing means another thread of
// the process holds the mutex: that one is left alone.
void give_back_kernel_mutex(Kgd* kgd, uint32_t self) {
  while (kgd->mtx_pid == self && kgd->mtx_depth > 0) {
    const uint32_t depth = kgd->mtx_depth;
    kmutex_give(kgd->mtx_owner);
    if (kgd->mtx_depth == depth) return;
  }
}

}  // namespace

void leave_queue(Kgd* kgd, CptEntry* entry, int32_t giver) {
  unlink_queued(kgd, entry);
  entry->link = 0;
  entry->wait_state = kNotWaiting;
  if (kgd->lock_holder == addr_of(entry)) hand_over(kgd, giver);
}

int queue_cleanup(Kgd* kgd, CptEntry* entry) {
  if (kmutex_take(kSelf) != 0) {
    entry->errnum = kErrKernelMutex;
    return -1;
  }
  // Neither the caller's row nor the gone client's may hold handles of this
  // process: the post goes by name.
  leave_queue(kgd, entry, kSelfByName);
  kmutex_give(kSelf);
  return 0;
}

void client_exit(Kgd* kgd, AppBlock* app, CptEntry* entry) {
  const int32_t id = client_id_of(kgd, entry);
  if (id < 0) return;
  const bool ours = entry->pid == os::process_id();
  const bool queued = entry->wait_state != kNotWaiting;
  const bool held = kgd->lock_holder == addr_of(entry);
  entry->stat &= static_cast<uint16_t>(~kStatLive);
  entry->pid = 0;
  forget_start(kgd, entry);
  const uint32_t bit = 1u << slot_of(static_cast<uint16_t>(id));
  app->registered &= ~bit;
  app->queued &= ~bit;
  for (uint32_t i = 0; i < kWaitEither; ++i) app->waiting[i] &= ~bit;
  // The pending-wake mask is the waker's: its next wake clears the bit, and
  // releases nobody for it, since the slot no longer sleeps.
  leave_queue(kgd, entry, id);
  // A process that died holding the lock may have died inside a write.
  if (held && !ours) after_gone_holder(kgd);
  // A queued client is asleep in rk_lock or rk_wait, in another process or
  // another thread of this one: woken, it finds itself out of the queue and
  // fails, where it would otherwise sleep for ever.
  if (queued) post_event(kSelfByName, static_cast<uint16_t>(id));
  // Handle values mean something only in the process that opened them. A
  // thread of ours asleep on the row keeps it: its handles go with the process.
  if (ours && !queued) close_events(entry);
}

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_proc_exit(rk_client_id id) {
  AppBlock* app = resolve_app(id);
  CptEntry* entry = resolve_owned(app, id);
  if (entry == nullptr) return -1;
  // Slot 0 is the run manager's: it leaves with its application.
  if (slot_of(id) == 0) return 0;
  if (kmutex_take(id) != 0) return -1;
  client_exit(attachment().kgd, app, entry);
  kmutex_give(id);
  return 0;
}

RK_API void rk_exit_trap(void) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || !rtdb_ready(kgd)) return;
  const uint32_t self = os::process_id();
  give_back_kernel_mutex(kgd, self);
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    for (CptEntry& entry : app->cpt) {
      if (entry.pid != self) continue;
      if (kmutex_take(kSelf) != 0) {
        entry.errnum = kErrKernelMutex;
        continue;
      }
      client_exit(kgd, app, &entry);
      kmutex_give(kSelf);
    }
  }
}

}  // extern "C"
