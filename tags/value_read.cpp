#include "tags/value_read.h"

#include <cstring>

#include "storage/msg_queue.h"
#include "tags/string_value.h"

namespace rk {

int16_t read_value(Kgd* kgd, const TypeRun& run, const TagSite& site, uint8_t* element, uint16_t id,
                   uint32_t own_bit) {
  switch (run.kind) {
    case kKindPlain:
      std::memcpy(element, site.value(), run.element);
      break;
    case kKindDigital: {
      const uint16_t v = (site.change->change_word & kDigitalBit) != 0 ? 1 : 0;
      std::memcpy(element, &v, sizeof v);
      break;
    }
    case kKindString:
      // A caller without a buffer receives nothing, and that is no error.
      string_assign(reinterpret_cast<rk_string_desc*>(element), reinterpret_cast<const StringDesc*>(site.value()));
      break;
    case kKindMessage: {
      auto* queue = reinterpret_cast<MsgQueue*>(site.value());
      const int err = msg_queue_take(id, site.change, reinterpret_cast<rk_message_record*>(element), queue, 0);
      if (err == 0) msg_queue_emptied(kgd, site.ref, queue);
      return static_cast<int16_t>(err);
    }
    default:
      return 0;
  }
  site.change->change_word &= ~own_bit;
  return 0;
}

int16_t read_changed_value(Kgd* kgd, const TypeRun& run, const TagSite& site, uint8_t* element, uint16_t id,
                           uint32_t own_bit) {
  if (run.kind != kKindMessage) return read_value(kgd, run, site, element, id, own_bit);
  uint32_t peeked = 0;
  return static_cast<int16_t>(msg_queue_peek(id, reinterpret_cast<rk_message_record*>(element),
                                             reinterpret_cast<const MsgQueue*>(site.value()), 0, 1, &peeked));
}

}  // namespace rk
