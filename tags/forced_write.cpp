// The forced rules: every value stored is a change, whatever was there.
#include <cstring>

#include "core/errors.h"
#include "tags/string_value.h"
#include "tags/value_store.h"
#include "tags/value_write.h"

namespace rk {

Written forced_write_value(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id) {
  Written w;
  switch (run.kind) {
    case kKindPlain:
      if (run.element == 8 && (w.error = double_error(element)) != 0) return w;
      store_value_bytes(site.value(), element, run.element);
      break;
    case kKindDigital: {
      uint16_t v;
      std::memcpy(&v, element, sizeof v);
      if (v != 0) w.word |= kDigitalBit;
      break;
    }
    case kKindString:
      if (string_assign(reinterpret_cast<StringDesc*>(site.value()),
                        reinterpret_cast<const rk_string_desc*>(element), true) == kStringNoMemory) {
        w.error = kErrNoMemory;
        return w;
      }
      break;
    case kKindMessage:
      return write_message(site, element, id);
    default:
      return w;
  }
  w.changed = true;
  return w;
}

}  // namespace rk
