// Appending to a mailbox: rk_write_mbx and rk_write_app_mbx. An accepted
// message marks the mailbox changed for every client of the application
// written (of every application, for a shared type) and releases the
// clients waiting on it, as a tag change does: wake reason 2, so a client
// that waits for a mailbox alone (rk_wait mode 2) is not released by a
// write. A refused message wakes nobody.
#include "core/intent_record.h"
#include "rk.h"
#include "storage/mailbox_call.h"
#include "storage/msg_queue.h"
#include "tags/change_marking.h"

using namespace rk;

extern "C" {

RK_API int rk_write_app_mbx(rk_client_id id, rk_client_id target, rk_tag_ref ref, const rk_message_record* record) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  AppBlock* app = nullptr;
  Mailbox box;
  int err = find_target_mailbox(call, target, record, ref, &app, &box);
  if (err == 0) {
    Update update(call.kgd, kDataIntent);
    err = msg_queue_put(id, box.site.change, box.queue(), record);
  }
  if (err == 0) {
    WriteWake wake;
    wake.target = app;
    mark_changed(call.kgd, wake, box.run, box.site, kChangeBits);
    wake_after_write(call.kgd, id, wake);
  }
  return end_mailbox_call(call, err);
}

RK_API int rk_write_mbx(rk_client_id id, rk_tag_ref ref, const rk_message_record* record) {
  return rk_write_app_mbx(id, id, ref, record);
}

}  // extern "C"
