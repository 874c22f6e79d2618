#include "services/attr_check.h"

#include <algorithm>
#include <cstring>

#include "core/check_text.h"

namespace rk {

namespace {

bool used(const AttrRecord& r) { return r.name[0] != 0; }

bool all_zero(const AttrRecord& r) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&r);
  return std::all_of(p, p + sizeof r, [](uint8_t c) { return c == 0; });
}

std::string check_slot(const AttrRecord* table, int s, bool after_unused) {
  const AttrRecord& r = table[s];
  if (!used(r)) return all_zero(r) ? "" : "unused, but not zero";
  if (after_unused) return "used after an unused slot";
  const int32_t length = r.length;
  if (length < 0 || length > kAttrNameBytes) return check_text("length %d", length);
  for (int before = 0; before < s; ++before) {
    if (table[before].length == length && memcmp(table[before].name, r.name, static_cast<size_t>(length)) == 0)
      return check_text("the attribute of slot %d again", before);
  }
  return "";
}

}  // namespace

std::string attr_check(const Kgd* kgd) {
  bool unused_seen = false;
  for (int s = 0; s < kAttrSlots; ++s) {
    if (std::string f = check_slot(kgd->attrs, s, unused_seen); !f.empty())
      return check_text("attribute table: slot %d: ", s) + f;
    unused_seen = unused_seen || !used(kgd->attrs[s]);
  }
  return "";
}

}  // namespace rk
