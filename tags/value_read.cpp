#include "tags/value_read.h"

#include <cstring>

#include "tags/string_value.h"

namespace rk {

int16_t read_value(const TypeRun& run, const TagSite& site, uint8_t* element, uint16_t id, uint32_t own_bit) {
  switch (run.kind) {
    case kKindPlain:
      std::memcpy(element, site.value(), run.usiz);
      break;
    case kKindDigital: {
      const uint16_t v = (site.change->change_word & kDigitalBit) != 0 ? 1 : 0;
      std::memcpy(element, &v, sizeof v);
      break;
    }
    case kKindString:
      // A caller without a buffer receives nothing, and that is no error.
      string_assign(reinterpret_cast<StringDesc*>(element), reinterpret_cast<const StringDesc*>(site.value()),
                    false);
      break;
    default:
      return 0;
  }
  site.change->change_word &= ~own_bit;
  return 0;
}

}  // namespace rk
