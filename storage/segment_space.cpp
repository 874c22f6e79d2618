#include "storage/segment_space.h"

#include <algorithm>

#include "core/attachment.h"
#include "core/crash_point.h"
#include "core/intent_record.h"
#include "core/segments.h"

namespace rk {

namespace {

Addr take(SegEntry* seg, uint32_t bytes) {
  const Addr start = seg->base + seg->used;
  RK_LOGGED(seg, used, seg->used + bytes);
  RK_CRASH_POINT("space.used");
  RK_LOGGED(seg, free, seg->free - bytes);
  return start;
}

}  // namespace

Addr seg_reserve(uint32_t bytes) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr) return 0;
  if (bytes != 0) {
    for (uint32_t i = 0; i < kgd->nsegs; ++i) {
      SegEntry* seg = seg_entry(kgd, i);
      if (seg->free >= bytes) return take(seg, bytes);
    }
  }
  if (kgd->nextra >= kgd->maxextra) return 0;
  if (new_segment(std::max(bytes, kExtraSegBytes)) == 0) return 0;
  RK_LOGGED(kgd, nextra, kgd->nextra + 1);
  return take(seg_entry(kgd, kgd->nsegs - 1), bytes);
}

int seg_reserve_string(StringDesc* desc, uint16_t bytes) {
  if (desc == nullptr) return -1;
  const Addr buffer = bytes != 0 ? seg_reserve(bytes) : 0;
  RK_LOGGED(desc, buffer, buffer);
  RK_CRASH_POINT("space.string");
  RK_LOGGED(desc, size, buffer != 0 ? bytes : 0);
  return buffer != 0 ? 0 : -1;
}

}  // namespace rk
