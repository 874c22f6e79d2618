#include "tags/value_write.h"

#include <cstring>

#include "core/attachment.h"
#include "core/errors.h"
#include "core/intent_record.h"
#include "storage/msg_queue.h"
#include "storage/segment_space.h"
#include "tags/string_value.h"

namespace rk {

namespace {

Written write_digital(const TagSite& site, const uint8_t* element) {
  uint16_t v;
  std::memcpy(&v, element, sizeof v);
  const bool set = (site.change->change_word & kDigitalBit) != 0;
  Written w;
  w.changed = (v != 0) != set;
  w.word = v != 0 ? kChangeBits | kDigitalBit : kChangeBits;
  return w;
}

Written write_string(const TagSite& site, const uint8_t* element) {
  auto* cell = reinterpret_cast<StringDesc*>(site.value());
  const rk_string_desc offered = *reinterpret_cast<const rk_string_desc*>(element);
  if (cell->buffer == 0 && offered.buffer == nullptr && offered.size != 0) {
    // Making room for later writes, which is no change of the value.
    Written w;
    Update update(attachment().kgd, kDataIntent);
    if (seg_reserve_string(cell, offered.size) != 0) w.error = kErrNoMemory;
    return w;
  }
  return assign_string(site, element);
}

}  // namespace

Written assign_string(const TagSite& site, const uint8_t* element) {
  const rk_string_desc offered = *reinterpret_cast<const rk_string_desc*>(element);
  const int r = string_assign(reinterpret_cast<StringDesc*>(site.value()), &offered, true);
  Written w;
  if (r == kStringNoMemory) w.error = kErrNoMemory;
  w.changed = r == kStringChanged;
  return w;
}

Written write_message(const TagSite& site, const uint8_t* element, uint16_t id) {
  Written w;
  Update update(attachment().kgd, kDataIntent);
  w.error = static_cast<int16_t>(msg_queue_put(id, site.change, reinterpret_cast<MsgQueue*>(site.value()),
                                               reinterpret_cast<const rk_message_record*>(element)));
  w.changed = w.error == 0;
  return w;
}

Written write_kind_value(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id) {
  switch (run.kind) {
    case kKindDigital: return write_digital(site, element);
    case kKindString: return write_string(site, element);
    case kKindMessage: return write_message(site, element, id);
    default: return Written{};
  }
}

}  // namespace rk
