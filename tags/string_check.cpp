#include "tags/string_check.h"

#include <cstring>

#include "core/segments.h"
#include "core/check_text.h"
#include "storage/dbrt_blocks.h"
#include "storage/kernel_memory.h"
#include "storage/layout_check.h"

namespace rk {

namespace {

bool is_pool(const Kgd* kgd, const SegEntry& seg) {
  for (uint32_t p = 0; p < kgd->nmems && p < kgd->maxmems; ++p) {
    if (mem_pool(kgd, p)->base == seg.base) return true;
  }
  return false;
}

std::string check_desc(const Kgd* kgd, const StringDesc& d) {
  if (d.buffer == 0) {
    if (d.size != 0 || d.length != 0) return check_text("no buffer, size %u, length %u", d.size, d.length);
    return "";
  }
  if (d.size == 0) return check_text("buffer 0x%x of size 0", d.buffer);
  if (d.length > d.size) return check_text("length %u above the size %u", d.length, d.size);
  const SegEntry* seg = mapped_segment_holding(kgd, d.buffer, d.size);
  if (seg == nullptr) return check_text("buffer 0x%x of %u bytes lies in no mapped segment", d.buffer, d.size);
  if (uint64_t{d.buffer} + d.size > uint64_t{seg->base} + seg->used)
    return check_text("buffer 0x%x of %u bytes reaches past the used part of segment 0x%x", d.buffer, d.size,
                      seg->base);
  if (is_dbrt(*seg) || is_pool(kgd, *seg))
    return check_text("buffer 0x%x lies in segment 0x%x, which hands out no space", d.buffer, seg->base);
  return "";
}

}  // namespace

std::string string_check(const Kgd* kgd) {
  return first_value_fault(kgd, kKindString, "string", [kgd](const uint8_t* value) {
    StringDesc d;
    memcpy(&d, value, sizeof d);
    return check_desc(kgd, d);
  });
}

}  // namespace rk
