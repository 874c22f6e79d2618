// Looking into a mailbox and taking from it: rk_count_mbx, rk_query_mbx,
// rk_read_mbx and rk_read_app_mbx. None of them wakes anybody.
#include "core/errors.h"
#include "core/intent_record.h"
#include "rk.h"
#include "storage/mailbox_call.h"
#include "storage/msg_queue.h"

using namespace rk;

extern "C" {

RK_API int rk_count_mbx(rk_client_id id, rk_tag_ref ref, uint32_t* count) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  if (count == nullptr) return end_mailbox_call(call, kErrNullArg);
  Mailbox box;
  int err = find_mailbox(call.kgd, call.app, ref, &box);
  if (err == 0) err = msg_queue_count(box.queue(), count);
  return end_mailbox_call(call, err);
}

RK_API int rk_query_mbx(rk_client_id id, rk_tag_ref ref, rk_message_record* records, uint32_t start, uint32_t n,
                        uint32_t* n_out) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  if (records == nullptr || n_out == nullptr) return end_mailbox_call(call, kErrNullArg);
  Mailbox box;
  int err = find_mailbox(call.kgd, call.app, ref, &box);
  if (err == 0) err = msg_queue_peek(id, records, box.queue(), start, n, n_out);
  return end_mailbox_call(call, err);
}

RK_API int rk_read_app_mbx(rk_client_id id, rk_client_id target, rk_tag_ref ref, rk_message_record* record,
                           uint32_t index) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  AppBlock* app = nullptr;
  Mailbox box;
  int err = find_target_mailbox(call, target, record, ref, &app, &box);
  if (err == 0) {
    // The owner is judged by the caller's id, whichever application it reads.
    Update update(call.kgd, kDataIntent);
    err = msg_queue_take(id, box.site.change, record, box.queue(), index);
    // A shared mailbox emptied here is empty in every application.
    if (err == 0) msg_queue_emptied(call.kgd, ref, box.queue());
  }
  return end_mailbox_call(call, err);
}

RK_API int rk_read_mbx(rk_client_id id, rk_tag_ref ref, rk_message_record* record, uint32_t index) {
  return rk_read_app_mbx(id, id, ref, record, index);
}

}  // extern "C"
