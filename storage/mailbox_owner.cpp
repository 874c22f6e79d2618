// rk_set_owner_mbx: a mailbox private to one reading client. Ownership is
// of the slot's client id: it stays when that client leaves, and whoever
// takes the slot next owns the mailbox.
#include "core/errors.h"
#include "rk.h"
#include "storage/mailbox_call.h"

using namespace rk;

extern "C" {

RK_API int rk_set_owner_mbx(rk_client_id id, rk_tag_ref ref, uint32_t own) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  Mailbox box;
  int err = find_mailbox(call.kgd, call.app, ref, &box);
  if (err == 0) {
    MsgQueue* queue = box.queue();
    if ((queue->flags & kMbxOwned) != 0 && static_cast<int16_t>(queue->owner) != static_cast<int16_t>(id)) {
      err = kErrOtherOwner;
    } else if (own != 0) {
      queue->flags = static_cast<uint16_t>(queue->flags | kMbxOwned);
      queue->owner = id;
    } else {
      queue->flags = static_cast<uint16_t>(queue->flags & ~kMbxOwned);
      queue->owner = 0;
    }
  }
  return end_mailbox_call(call, err);
}

}  // extern "C"
