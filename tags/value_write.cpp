#include "tags/value_write.h"

#include <cstring>

#include "core/errors.h"
#include "storage/msg_queue.h"
#include "storage/segment_space.h"
#include "tags/string_value.h"

namespace rk {

int16_t double_error(const uint8_t* bytes) {
  uint64_t bits;
  std::memcpy(&bits, bytes, sizeof bits);
  constexpr uint64_t kExponent = 0x7FF0000000000000ull;
  constexpr uint64_t kFraction = 0x000FFFFFFFFFFFFFull;
  if ((bits & kExponent) != kExponent) return 0;
  if ((bits & kFraction) != 0) return kErrNaN;
  return (bits >> 63) != 0 ? kErrMinusInf : kErrPlusInf;
}

namespace {

Written write_plain(const TypeRun& run, const TagSite& site, const uint8_t* element) {
  Written w;
  if (std::memcmp(site.value(), element, run.usiz) == 0) return w;
  if (run.usiz == 8 && (w.error = double_error(element)) != 0) return w;
  std::memcpy(site.value(), element, run.usiz);
  w.changed = true;
  return w;
}

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
  const StringDesc offered = *reinterpret_cast<const StringDesc*>(element);
  if (cell->buffer == 0 && offered.buffer == 0 && offered.size != 0) {
    // Making room for later writes, which is no change of the value.
    Written w;
    if (seg_reserve_string(cell, offered.size) != 0) w.error = kErrNoMemory;
    return w;
  }
  return assign_string(site, element);
}

}  // namespace

Written assign_string(const TagSite& site, const uint8_t* element) {
  const StringDesc offered = *reinterpret_cast<const StringDesc*>(element);
  const int r = string_assign(reinterpret_cast<StringDesc*>(site.value()), &offered, true);
  Written w;
  if (r == kStringNoMemory) w.error = kErrNoMemory;
  w.changed = r == kStringChanged;
  return w;
}

Written write_message(const TagSite& site, const uint8_t* element, uint16_t id) {
  Written w;
  w.error = static_cast<int16_t>(msg_queue_put(id, site.change, reinterpret_cast<MsgQueue*>(site.value()),
                                               reinterpret_cast<const MessageRecord*>(element)));
  w.changed = w.error == 0;
  return w;
}

Written write_value(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id) {
  switch (run.kind) {
    case kKindPlain: return write_plain(run, site, element);
    case kKindDigital: return write_digital(site, element);
    case kKindString: return write_string(site, element);
    case kKindMessage: return write_message(site, element, id);
    default: return Written{};
  }
}

}  // namespace rk
