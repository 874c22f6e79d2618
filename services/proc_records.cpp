// Reading a slot of a Client Process Table, and configuring a slot before a
// client registers into it.
#include "services/proc_records.h"

#include <cstring>

#include "core/attachment.h"
#include "core/client_exit.h"
#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "core/list_blocks.h"
#include "core/lock_queue.h"
#include "core/text_fields.h"
#include "rk.h"

namespace rk {

namespace {

// The slot id names in the attached RTDB, live or not; null for none.
CptEntry* named_slot(uint16_t id) {
  const Kgd* kgd = attachment().kgd;
  return kgd != nullptr && names_slot(kgd, id) ? slot_entry(kgd, id) : nullptr;
}

// What a slot starts a configuration with, in the slot and in the caller's
// record alike: no queue, no lock, no process, no history.
void clear_run_state(CptEntry* e) {
  e->errnum = 0;
  e->nmap = 0;
  e->pid = 0;
  e->lock = 0;
  e->link = 0;
  e->wait_state = kNotWaiting;
  e->stamp = 0;
  memset(e->stats, 0, sizeof e->stats);
}

}  // namespace

bool copy_slot(uint16_t id, CptEntry* copy) {
  const CptEntry* e = named_slot(id);
  if (e == nullptr || kmutex_take(kSelf) != 0) return false;
  memcpy(copy, e, sizeof *copy);
  kmutex_give(kSelf);
  return true;
}

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_get_proc(rk_client_id id, rk_cpt_entry* record) {
  CptEntry e;
  if (record == nullptr || !copy_slot(id, &e)) return -1;
  // Only these fields: the signal masks, the tag list, the attribute masks
  // and handlers stay as the caller had them.
  record->link = e.link;
  copy_text(record->name, sizeof record->name, e.name);
  copy_text(record->desc, sizeof record->desc, e.desc);
  copy_text(record->cmdline, sizeof record->cmdline, e.cmdline);
  copy_text(record->args, sizeof record->args, e.args);
  copy_text(record->text2, sizeof record->text2, e.text2);
  copy_text(record->modpath, sizeof record->modpath, e.modpath);
  record->type = e.type;
  record->stat = e.stat;
  record->nmap = e.nmap;
  record->prty = e.prty;
  record->config = e.config;
  record->lock = e.lock;
  record->wait_state = e.wait_state;
  record->errnum = e.errnum;
  record->id = e.id;
  record->pid = e.pid;
  record->stamp = e.stamp;
  memcpy(record->stats, e.stats, sizeof record->stats);
  record->env_refs[0] = e.env_refs[0];
  return 0;
}

RK_API int rk_set_proc(rk_client_id id, rk_cpt_entry* record) {
  CptEntry* e = named_slot(id);
  if (record == nullptr || e == nullptr) return -1;
  // Under the kernel mutex, so that no client registers into the slot
  // between the test and the writes.
  if (kmutex_take(kSelf) != 0) return -1;
  if ((e->stat & kStatLive) != 0) {
    kmutex_give(kSelf);
    return -1;
  }
  Kgd* kgd = attachment().kgd;
  // A slot left in the queue would take the queue's links with it.
  if (e->wait_state != kNotWaiting || kgd->lock_holder == addr_of(e)) queue_cleanup(kgd, e);
  e->type = record->type;
  // A slot becomes live only by registration.
  e->stat = record->stat & static_cast<uint16_t>(~kStatLive);
  e->prty = record->prty;
  copy_text(e->name, sizeof e->name, record->name);
  copy_text(e->desc, sizeof e->desc, record->desc);
  clear_run_state(e);
  e->sig_pending = 0;
  e->sig_accepted = kAcceptedAtStart;
  // The old list, if any, stays in the slot until the next client of the
  // slot frees it: this process need not map the pools.
  leave_list(e);
  kmutex_give(kSelf);
  clear_run_state(record);
  return 0;
}

}  // extern "C"
