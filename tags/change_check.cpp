#include "tags/change_check.h"

#include "core/check_text.h"
#include "storage/layout_check.h"

namespace rk {

namespace {

std::string check_type(const Kgd* kgd, uint32_t t) {
  TagArrays first;   // a shared digital type's values, as the first application holds them
  uint32_t first_app = 0;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    TagArrays arrays;
    if (!tag_arrays(kgd, t, a, &arrays).empty() || arrays.max == 0) continue;
    const bool digital = arrays.kind == kKindDigital;
    const bool compare = digital && !arrays.per_app && first.max == arrays.max;
    for (uint32_t i = 0; i < arrays.max; ++i) {
      const uint32_t change = arrays.changes[i].change_word;
      const uint32_t wait = arrays.changes[i].wait_word;
      std::string f;
      if (!digital && (change & kDigitalBit) != 0) {
        f = check_text("change word 0x%x has bit 31 set", change);
      } else if ((wait & kDigitalBit) != 0) {
        f = check_text("wait word 0x%x has bit 31 set", wait);
      } else if (compare && ((change ^ first.changes[i].change_word) & kDigitalBit) != 0) {
        f = check_text("value %u, in application %u %u", change >> 31, first_app,
                       static_cast<uint32_t>(first.changes[i].change_word) >> 31);
      }
      if (!f.empty()) return "change words: " + tag_label(kgd, t, i) + check_text(" app %u: ", a) + f;
    }
    if (first.max == 0) {
      first = arrays;
      first_app = a;
    }
  }
  return "";
}

}  // namespace

std::string change_check(const Kgd* kgd) {
  for (uint32_t t = 0; t < kgd->ntypes && t < static_cast<uint32_t>(kTypeSlots); ++t) {
    if (std::string f = check_type(kgd, t); !f.empty()) return f;
  }
  return "";
}

}  // namespace rk
