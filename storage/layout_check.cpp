#include "storage/layout_check.h"

#include "core/client_ids.h"
#include "core/segments.h"
#include "core/check_text.h"
#include "storage/dbrt_blocks.h"
#include "storage/dbrt_build.h"

namespace rk {

namespace {

uint32_t types_in_use(const Kgd* kgd) {
  return kgd->ntypes < static_cast<uint32_t>(kTypeSlots) ? kgd->ntypes : kTypeSlots;
}

// An array of `bytes` at `array`: the payload of a dbrt block in use.
std::string check_array(const Kgd* kgd, const char* what, Addr array, uint64_t bytes) {
  const uint64_t block = uint64_t{array} - kDbrtBlockHeader;
  const SegEntry* seg =
      array >= kDbrtBlockHeader ? mapped_segment_holding(kgd, static_cast<Addr>(block), bytes + kDbrtBlockHeader)
                                : nullptr;
  if (seg == nullptr) return check_text("%s array 0x%x lies in no mapped segment", what, array);
  if (!is_dbrt(*seg)) return check_text("%s array 0x%x lies in segment 0x%x, no dbrt segment", what, array, seg->base);
  const DbrtBlockHeader* h = dbrt_block(static_cast<Addr>(block));
  if (h->owner != seg->base) return check_text("%s array 0x%x is no dbrt block", what, array);
  if (h->payload_bytes < bytes)
    return check_text("%s array 0x%x: block of %u bytes for %u", what, array, h->payload_bytes,
                      static_cast<uint32_t>(bytes));
  if (dbrt_is_free(*seg, static_cast<Addr>(block))) return check_text("%s array 0x%x lies in a free block", what, array);
  return "";
}

}  // namespace

std::string tag_arrays(const Kgd* kgd, uint32_t t, uint32_t a, TagArrays* out) {
  *out = TagArrays{};
  if (t >= types_in_use(kgd) || a >= kgd->napps) return "";
  const TypeEntry& type = at<TypeEntry>(kgd->type_table)[t];
  const uint32_t max = type.max;
  // A type given its tags but not laid out yet has no arrays to look at.
  if (type.usiz == 0 || !laid_out(type) || max == 0) return "";
  const int32_t ksiz = value_ksiz(type.stat, type.usiz);
  if (ksiz != type.ksiz) return check_text("ksiz %u for value kind %u of usiz %u", type.ksiz, type.stat, type.usiz);
  const uint64_t value_bytes = uint64_t{max} * (static_cast<uint32_t>(ksiz) + sizeof(ValueCellHeader));
  if (value_bytes != type.value_bytes) return check_text("%u value bytes for %u tags", type.value_bytes, max);

  const TagArrayPair pair = at<TagArrayPair>(app_block(kgd, a)->pairs)[t];
  const bool per_app = type.per_app != 0;
  const Addr values = per_app ? pair.value_array : type.shared_values;
  if (!per_app && pair.value_array != values)
    return check_text("value array 0x%x is not the shared one 0x%x", pair.value_array, values);
  // Arrays that are not placed hold no tags.
  if (pair.change_array == 0 || values == 0) return "";
  if (std::string f = check_array(kgd, "change", pair.change_array, uint64_t{max} * sizeof(ChangeEntry)); !f.empty())
    return f;
  if (std::string f = check_array(kgd, "value", values, value_bytes); !f.empty()) return f;
  *out = TagArrays{at<ChangeEntry>(pair.change_array), at<uint8_t>(values), max,
                   static_cast<uint32_t>(ksiz + sizeof(ValueCellHeader)), type.stat, per_app};
  return "";
}

std::string layout_check(const Kgd* kgd) {
  TagArrays arrays;
  for (uint32_t t = 0; t < types_in_use(kgd); ++t) {
    for (uint32_t a = 0; a < kgd->napps; ++a) {
      if (std::string f = tag_arrays(kgd, t, a, &arrays); !f.empty())
        return "tag arrays: " + type_label(kgd, t) + check_text(" app %u: ", a) + f;
    }
  }
  return "";
}

std::string type_label(const Kgd* kgd, uint32_t t) {
  const char* name = at<TypeEntry>(kgd->type_table)[t].name;
  std::string label;
  for (size_t i = 0; i < sizeof(TypeEntry::name) && name[i] != '\0'; ++i) {
    label += name[i] > ' ' && name[i] < 127 ? name[i] : '?';
  }
  return label.empty() ? check_text("type %u", t) : label;
}

std::string tag_label(const Kgd* kgd, uint32_t t, uint32_t i) { return type_label(kgd, t) + check_text("[%u]", i); }

std::string first_value_fault(const Kgd* kgd, uint16_t kind, const char* what,
                              const std::function<std::string(const uint8_t* value)>& check) {
  for (uint32_t t = 0; t < kgd->ntypes && t < static_cast<uint32_t>(kTypeSlots); ++t) {
    for (uint32_t a = 0; a < kgd->napps; ++a) {
      TagArrays arrays;
      if (!tag_arrays(kgd, t, a, &arrays).empty() || arrays.max == 0 || arrays.kind != kind) continue;
      for (uint32_t i = 0; i < arrays.max; ++i) {
        const std::string f = check(arrays.value(i));
        if (f.empty()) continue;
        const std::string where = arrays.per_app ? check_text(" app %u: ", a) : std::string(": ");
        return what + (" " + tag_label(kgd, t, i)) + where + f;
      }
      // A shared type's values are the same in every application.
      if (!arrays.per_app) break;
    }
  }
  return "";
}

}  // namespace rk
