#include "storage/segment_check.h"

#include "core/check_text.h"
#include "storage/dbrt_blocks.h"

namespace rk {

namespace {

std::string check_entry(const Kgd* kgd, uint32_t i, uint64_t* end) {
  const SegEntry& seg = *seg_entry(kgd, i);
  const uint64_t base = seg.base, size = seg.size;
  if (size == 0) return "size 0";
  if (uint64_t{seg.used} + seg.free > size)
    return check_text("used %u and free %u exceed the size %u", seg.used, seg.free, seg.size);
  if ((seg.flags & ~kSegDbrt) != 0 || (i == 0 && is_dbrt(seg))) return check_text("flags 0x%x", seg.flags);
  if (i == 0) {
    if (seg.base != addr_of(kgd)) return check_text("base 0x%x is not the kgd's", seg.base);
  } else {
    if (base % 0x10000 != 0 || size % 2 != 0) return check_text("base 0x%x, size %u", seg.base, seg.size);
    if (base < *end) return check_text("base 0x%x lies below the end of the segment before", seg.base);
  }
  *end = base + size;
  if (*end > 0x100000000ull) return check_text("base 0x%x, size %u reach past 4 GiB", seg.base, seg.size);
  return "";
}

}  // namespace

std::string segment_check(const Kgd* kgd) {
  const uint32_t n = kgd->nsegs;
  if (n == 0 || n > kgd->maxsegs) return check_text("segment table: %u entries of %u in use", n, kgd->maxsegs);
  uint64_t end = 0;
  uint32_t dbrt = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (std::string f = check_entry(kgd, i, &end); !f.empty()) return check_text("segment %u: ", i) + f;
    if (is_dbrt(*seg_entry(kgd, i))) ++dbrt;
  }
  if (end > kgd->next_free)
    return check_text("segment table: the last segment ends above the next free address 0x%x", kgd->next_free);
  if (dbrt != kgd->ndbrt || kgd->ndbrt > kgd->maxdbrt || kgd->nextra > kgd->maxextra)
    return check_text("segment table: %u dbrt segments flagged, %u counted of %u; %u extra of %u", dbrt, kgd->ndbrt,
                      kgd->maxdbrt, kgd->nextra, kgd->maxextra);
  // Every segment after the kgd's is a dbrt segment, an extra segment or a
  // memory pool, counted as it is made.
  if (uint64_t{1} + kgd->ndbrt + kgd->nextra + kgd->nmems != n)
    return check_text("segment table: %u entries for 1 + %u dbrt + %u extra + %u pools", n, kgd->ndbrt, kgd->nextra,
                      kgd->nmems);
  return "";
}

}  // namespace rk
