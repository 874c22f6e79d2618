#include "services/signal_post.h"

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/name_rules.h"
#include "tags/wake.h"

namespace rk {

namespace {

// Marks the signal in the receiver and wakes it when it accepts the signal.
// 0 or an error number. Kernel mutex held as `as`.
int deliver(int32_t as, AppBlock* app, int32_t slot, int sig) {
  if (slot < 0) return kErrNoClient;
  CptEntry& to = app->cpt[slot];
  // A client of an application that has ended can no longer make a call,
  // so it would never receive the signal.
  if (app->active != 1 || (to.stat & kStatLive) == 0) return kErrNotRegistered;
  if (!valid_signal(sig)) return kErrRange;
  const uint32_t bit = 1u << sig;
  to.sig_pending |= bit;
  if (sig == kSigTerminate) to.stat |= kStatTermSeen;
  // A held signal waits for the receiver to accept and receive it.
  if (to.sig_accepted & bit) wake_clients(attachment().kgd, as, app, 1u << slot, kWakeAny);
  return 0;
}

// A client that posts to itself takes the kernel mutex as its process.
// 0 or an error number.
template <typename FindSlot>
int post_as(uint16_t id, AppBlock* target, bool to_self, FindSlot find_slot, int sig) {
  const int32_t as = to_self ? kSelf : id;
  if (kmutex_take(as) != 0) return kErrKernelMutex;
  // The slot is found under the mutex, so that no name changes meanwhile.
  const int error = deliver(as, target, find_slot(), sig);
  kmutex_give(as);
  return error;
}

template <typename FindSlot>
int post(uint16_t id, CptEntry* caller, AppBlock* target, bool to_self, FindSlot find_slot, int sig) {
  const int error = post_as(id, target, to_self, find_slot, sig);
  if (error == 0) return 0;
  caller->errnum = static_cast<int16_t>(error);
  return -1;
}

}  // namespace

int post_signal_by_name(uint16_t id, CptEntry* caller, AppBlock* target, const char* name, int sig) {
  if (target == nullptr) {
    caller->errnum = kErrNoApp;
    return -1;
  }
  // The caller is resolved, so its slot is one of the 31.
  const bool to_self = caller == &target->cpt[slot_of(id)] && has_task_name(*caller, name);
  return post(id, caller, target, to_self, [&] { return slot_in_app(target, name); }, sig);
}

int post_signal_to_slot(uint16_t id, CptEntry* caller, AppBlock* target, uint32_t slot, int sig) {
  return post(id, caller, target, caller == &target->cpt[slot], [&] { return static_cast<int32_t>(slot); }, sig);
}

int post_signal_to_id(uint16_t id, uint16_t target, int sig) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || !names_slot(kgd, target)) return kErrNotRegistered;
  AppBlock* app = app_block(kgd, static_cast<uint32_t>(app_index(target)));
  return post_as(id, app, target == id, [&] { return static_cast<int32_t>(slot_of(target)); }, sig);
}

}  // namespace rk
