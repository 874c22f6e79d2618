#include "storage/mailbox_check.h"

#include "core/client_ids.h"
#include "core/check_text.h"
#include "storage/layout_check.h"
#include "storage/msg_queue_check.h"

namespace rk {

namespace {

std::string check_queue(const Kgd* kgd, const MsgQueue* queue) {
  if ((queue->flags & kMbxOwned) != 0 && !names_slot(kgd, queue->owner))
    return check_text("owner 0x%04x names no slot", queue->owner);
  return msg_queue_check(kgd, queue);
}

}  // namespace

std::string mailbox_check(const Kgd* kgd) {
  return first_value_fault(kgd, kKindMessage, "mailbox", [kgd](const uint8_t* value) {
    return check_queue(kgd, reinterpret_cast<const MsgQueue*>(value));
  });
}

}  // namespace rk
