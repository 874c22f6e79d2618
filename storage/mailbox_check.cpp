#include "storage/mailbox_check.h"

#include "core/client_ids.h"
#include "storage/check_text.h"
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
  for (uint32_t t = 0; t < kgd->ntypes && t < static_cast<uint32_t>(kTypeSlots); ++t) {
    for (uint32_t a = 0; a < kgd->napps; ++a) {
      TagArrays arrays;
      if (!tag_arrays(kgd, t, a, &arrays).empty() || arrays.max == 0 || arrays.kind != kKindMessage) continue;
      for (uint32_t i = 0; i < arrays.max; ++i) {
        const std::string f = check_queue(kgd, reinterpret_cast<const MsgQueue*>(arrays.value(i)));
        if (f.empty()) continue;
        const std::string where = arrays.per_app ? check_text(" app %u: ", a) : std::string(": ");
        return "mailbox " + tag_label(kgd, t, i) + where + f;
      }
      // A shared type's queues are the same in every application.
      if (!arrays.per_app) break;
    }
  }
  return "";
}

}  // namespace rk
