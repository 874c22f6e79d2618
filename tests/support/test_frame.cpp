#include "support/test_frame.h"

#include <cstring>

#include "core/attachment.h"
#include "core/kgd_segment.h"
#include "core/rtdb.h"

namespace rk::test {

TestFrame attach_test_frame(uint32_t maxsegs, uint32_t spare_bytes, uint16_t flags, uint32_t size) {
  const uint32_t table_end = kSegTableOffset + maxsegs * sizeof(SegEntry);
  if (size == 0) size = table_end + spare_bytes;
  os::Handle h = 0;
  Kgd* kgd = create_kgd(size, flags, &h);
  if (kgd == nullptr) return {};
  attach_kgd(kgd);
  attachment().kgd_handle = h;
  memcpy(kgd->name, "PLANT", 6);
  kgd->flags = flags;
  kgd->maxsegs = maxsegs;
  kgd->nsegs = 1;
  kgd->seg_table = addr_of(kgd) + kSegTableOffset;
  at<SegEntry>(kgd->seg_table)[0] = SegEntry{addr_of(kgd), size, table_end, size - table_end, h, 0};
  return TestFrame{kgd, addr_of(kgd) + table_end, size > table_end ? size - table_end : 0};
}

void detach_test_frame() {
  if (attachment().kgd != nullptr) detach_rtdb();
  attachment() = Attachment{};
}

}  // namespace rk::test
