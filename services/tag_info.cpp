// What a list of tag references means before any value is read: the type
// class of each tag, or why it names none, and where its value lies in a
// buffer that packs the values of the list one after another, each taking
// its size in this process (element_bytes), as every batch steps.
#include "core/attachment.h"
#include "core/records.h"
#include "rk.h"

namespace {

constexpr uint16_t kNone = 0xFFFF;       // a type or index number that names nothing
constexpr int16_t kNoType = -1;
constexpr int16_t kBadIndex = -2;
constexpr int16_t kNoneGiven = -3;       // the reference says "none" outright

}  // namespace

extern "C" RK_API int rk_get_tag_info(const rk_tag_ref* tags, uint32_t n, int16_t* classes, uint16_t* offsets) {
  if (tags == nullptr || rk::attachment().kgd == nullptr) return -1;
  uint16_t offset = 0;
  int result = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const rk_tag_ref ref = tags[i];
    if (offsets != nullptr) offsets[i] = offset;
    rk_type_entry type;
    int16_t code;
    if (rk_get_type(ref.type, &type) != 0) {
      code = ref.type == kNone ? kNoneGiven : kNoType;
    } else {
      offset = static_cast<uint16_t>(offset + rk::element_bytes(type.stat, type.usiz));
      code = ref.index < type.max ? static_cast<int16_t>(type.type_class)
                                  : (ref.index == kNone ? kNoneGiven : kBadIndex);
    }
    if (classes != nullptr) classes[i] = code;
    if (code < 0) result = -1;
  }
  return result;
}
