// Mailbox limits: each mailbox's own (rk_limit_mbx, rk_limit_app_mbx) and
// the RTDB's default (rk_limit_mbx_default), all in KiB, 0 meaning the
// default for a mailbox and no limit for the default. Setting a limit never
// touches what is queued: it only refuses later writes.
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "rk.h"
#include "storage/mailbox_call.h"

using namespace rk;

namespace {

constexpr uint16_t kSetLimit = 1;   // mode: set; any other mode gets

}  // namespace

extern "C" {

RK_API int rk_limit_app_mbx(rk_client_id id, rk_client_id target, uint16_t mode, const rk_tag_ref* refs, uint32_t n,
                            uint16_t* limits) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  AppBlock* app = mailbox_target(call, target);
  if (app == nullptr) return end_mailbox_call(call, kErrAppInactive);
  if (n > 0 && (refs == nullptr || limits == nullptr)) return end_mailbox_call(call, kErrNullArg);
  // The first bad reference ends the loop; the mailboxes before it stay done.
  int err = 0;
  for (uint32_t i = 0; i < n && err == 0; ++i) {
    Mailbox box;
    err = find_mailbox(call.kgd, app, refs[i], &box);
    if (err != 0) break;
    MsgQueue* queue = box.queue();
    if (mode == kSetLimit) {
      queue->limit_kib = limits[i];
    } else {
      limits[i] = queue->limit_kib;
    }
  }
  return end_mailbox_call(call, err);
}

RK_API int rk_limit_mbx(rk_client_id id, uint16_t mode, const rk_tag_ref* refs, uint32_t n, uint16_t* limits) {
  return rk_limit_app_mbx(id, id, mode, refs, n, limits);
}

RK_API int rk_limit_mbx_default(uint16_t mode, uint16_t* limit) {
  if (limit == nullptr) return -1;
  if (kmutex_take(kSelf) != 0) return -1;
  Kgd* kgd = attachment().kgd;
  if (mode == kSetLimit) {
    kgd->mbx_limit = *limit;
  } else {
    *limit = kgd->mbx_limit;
  }
  kmutex_give(kSelf);
  return 0;
}

}  // extern "C"
