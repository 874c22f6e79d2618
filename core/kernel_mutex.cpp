#include "core/kernel_mutex.h"

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/intent_record.h"
#include "core/lock_queue.h"
#include "core/lock_repair.h"
#include "core/lock_word.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/process_info.h"
#include "platform/user_emulation.h"

namespace rk {

namespace {

// Set while this thread holds the system mutex. The kgd's owner record names
// a process, not a thread, and outlives an owner that was killed: only this
// mark tells that the calling thread itself holds the mutex. The process id
// covers a forked child, the handle a later attachment.
struct HeldMark {
  uint32_t pid;
  os::Handle mutex;
};
thread_local HeldMark t_held{0, 0};

void remember(Kgd* kgd, int32_t key, uint32_t pid) {
  const uint32_t cap = kgd->hist_cap;
  if (cap == 0 || kgd->hist_ids == 0 || kgd->hist_pids == 0) return;
  uint32_t i = kgd->hist_next;
  if (i >= cap) i = 0;
  at<Unaligned<uint16_t>>(kgd->hist_ids)[i] = static_cast<uint16_t>(key);
  at<Unaligned<uint32_t>>(kgd->hist_pids)[i] = pid;
  kgd->hist_next = i + 1 == cap ? 0 : i + 1;
  ++kgd->hist_count;
}

}  // namespace

void record_failure(Kgd* kgd, int code, int32_t id, uint32_t pid) {
  // The first failure stays for diagnosis; the kernel never clears it.
  if (kgd->mtx_fail_code != 0) return;
  kgd->mtx_fail_code = static_cast<uint32_t>(code);
  kgd->mtx_fail_id = id;
  kgd->mtx_fail_pid = pid;
  kgd->mtx_fail_tick = os::tick_count();
}

int kmutex_take(int32_t id) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr) return -1;
  const uint32_t self = os::process_id();
  const os::Handle mutex = attachment().mutexes[kKernelMutex];
  int32_t key = kSelf;
  uint32_t pid = self;
  CptEntry* entry = nullptr;
  if (id >= 0) {
    if (id > 0xFFFF || !names_slot(kgd, static_cast<uint16_t>(id))) return -1;
    entry = slot_entry(kgd, static_cast<uint16_t>(id));
    key = id;
    pid = entry->pid;
  } else if (id < kSelfByName) {
    return -1;
  }

  const bool held = t_held.pid == self && t_held.mutex == mutex;
  if (held && id != kSelfStrict && kgd->mtx_owner == key && kgd->mtx_pid == pid) {
    ++kgd->mtx_depth;
    return 0;
  }
  bool abandoned = false;
  if (!held) {
    const int rc = os::mutex_wait(mutex, &abandoned);
    if (rc != 0) {
      record_failure(kgd, rc, key, pid);
      if (entry != nullptr) entry->errnum = kErrKernelMutex;
      return -1;
    }
    t_held = HeldMark{self, mutex};
    // From here until the last give, takes and gives of the database lock
    // come through this mutex too.
    mark_lock_slow(kgd);
    // Whatever depth is left belongs to an owner that died holding the mutex.
    kgd->mtx_depth = 0;
  }
  // A strict take, or one under another identity, by the thread that holds
  // the mutex already: counted and recorded as an acquisition, but the
  // system mutex stays held once, so the last give really releases it.
  kgd->mtx_owner = key;
  kgd->mtx_pid = pid;
  ++kgd->mtx_count;
  remember(kgd, key, pid);
  ++kgd->mtx_depth;
  // The owner died inside: what it was changing is made whole before
  // anything else reads it, its own tables first.
  if (abandoned) {
    intent_repair(kgd, kMutexIntent, false);
    // Nobody holding the database lock, the owner may have been updating
    // the data under this mutex alone; nobody takes the lock meanwhile.
    if (kgd->lock_holder == 0) intent_repair(kgd, kDataIntent, true);
    repair_lock_state(kgd);
  }
  return 0;
}

int kmutex_give(int32_t id) {
  Kgd* kgd = attachment().kgd;
  const uint32_t self = os::process_id();
  const os::Handle mutex = attachment().mutexes[kKernelMutex];
  // Only the holding thread gives: any other caller would take nesting
  // levels, or the owner record, away from the holder.
  if (kgd == nullptr || t_held.pid != self || t_held.mutex != mutex || kgd->mtx_depth == 0) return 0;
  if (--kgd->mtx_depth > 0) return 0;
  kgd->mtx_owner = kSelf;
  kgd->mtx_pid = 0;
  // With nobody queued, the holder may give the lock back without this
  // mutex, and the next taker take it so; a queued client keeps every
  // give on this side, where the lock is handed over.
  // Under an emulator the mark stays set: its locked instructions on the
  // holder word, which the layout does not align, are not atomic between
  // processes, so every take and give goes through this mutex there.
  if (!lock_waiters(kgd) && !os::under_user_emulation()) clear_lock_slow(kgd);
  const int rc = os::mutex_release(mutex);
  if (rc == 0) {
    t_held = HeldMark{0, 0};
  } else {
    record_failure(kgd, rc, id, self);
  }
  post_deferred_wakes();
  return 0;
}

}  // namespace rk
