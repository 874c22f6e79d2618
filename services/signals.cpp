// Posting, receiving, holding and accepting signals.
#include <bit>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/name_rules.h"
#include "services/signal_post.h"
#include "rk.h"

using namespace rk;

namespace {

constexpr int kFirstConsumed = 2;   // signals 0 and 1 stay pending once posted

}  // namespace

extern "C" {

RK_API int rk_send_sig(rk_client_id id, const char* name, int sig) {
  AppBlock* own = resolve_app(id);
  CptEntry* e = resolve_owned(own, id);
  if (e == nullptr) return -1;
  return post_signal_by_name(id, e, own, name, sig);
}

RK_API int rk_send_sig_ex(rk_client_id id, const char* kusr_name, const char* inst_name, const char* name,
                          int sig) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  return post_signal_by_name(id, e, app_by_names(kusr_name, inst_name), name, sig);
}

// Posts to the slot that target_id names; checked again under the kernel
// mutex, so a client that leaves meanwhile is not posted to.
RK_API int rk_send_app_sig(rk_client_id id, rk_client_id target_id, int sig) {
  CptEntry* e = resolve_entry(resolve_app(id), id);
  if (e == nullptr) return -1;
  AppBlock* target = resolve_app(target_id);
  if (target == nullptr) {
    e->errnum = kErrAppInactive;
    return -1;
  }
  if (resolve_entry(target, target_id) == nullptr) {
    e->errnum = kErrNotRegistered;
    return -1;
  }
  return post_signal_to_slot(id, e, target, slot_of(target_id), sig);
}

RK_API int rk_recv_sig(rk_client_id id) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr || kmutex_take(id) != 0) return -1;
  const uint32_t ready = e->sig_pending & e->sig_accepted;
  const int sig = ready != 0 ? std::countr_zero(ready) : -1;
  if (sig >= kFirstConsumed) e->sig_pending &= ~(1u << sig);
  kmutex_give(id);
  if (sig < 0) e->errnum = kErrNoSignal;
  return sig;
}

// Accepting a signal that is pending already wakes nobody: the receiver
// meets it at its next rk_recv_sig or rk_wait.
RK_API int rk_hold_sig(rk_client_id id, int sig, int hold) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  if (!valid_signal(sig)) {
    e->errnum = kErrRange;
    return -1;
  }
  if (kmutex_take(id) != 0) return -1;
  const uint32_t bit = 1u << sig;
  const int was_held = (e->sig_accepted & bit) == 0;
  e->sig_accepted = hold != 0 ? e->sig_accepted & ~bit : e->sig_accepted | bit;
  kmutex_give(id);
  return was_held;
}

// Signal queues are not supported; both calls always fail.
RK_API int rk_attach_queue(void) { return -1; }
RK_API int rk_detach_queue(void) { return -1; }

}  // extern "C"
