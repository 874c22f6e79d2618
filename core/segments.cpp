#include "core/segments.h"

#include <new>

#include "core/attachment.h"
#include "platform/format.h"
#include "core/kernel_objects.h"
#include "platform/mapping.h"

namespace rk {

namespace {

void segment_name(char* buf, const Kgd* kgd, uint32_t n) {
  kfmt(buf, "%s_%02d_SEG%02d", RtdbName(kgd).text, kgd->index, n);
}

bool ensure_view_table(const Kgd* kgd) {
  Attachment& att = attachment();
  if (att.views != nullptr) return true;
  att.views = new (std::nothrow) SegmentView[kgd->maxsegs]();
  if (att.views == nullptr) return false;
  att.nviews = kgd->maxsegs;
  return true;
}

// Opens segment n and maps it at its recorded base. A segment that cannot
// be mapped keeps no handle: the next pass opens it afresh.
void map_segment(const Kgd* kgd, uint32_t n) {
  SegmentView& v = attachment().views[n];
  char name[48];
  segment_name(name, kgd, n);
  os::Handle h = os::mapping_open(name);
  if (h == 0) return;
  void* view = os::map_view(h, seg_entry(kgd, n)->base);
  if (view == nullptr) {
    os::close_handle(h);
    return;
  }
  v = SegmentView{h, view, false};
}

}  // namespace

Addr new_segment(uint32_t size) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || size == 0 || size > 0xFFFFFFFEu) return 0;
  size = (size + 1) & ~1u;
  const uint32_t n = kgd->nsegs;
  if (n >= kgd->maxsegs || !ensure_view_table(kgd)) return 0;
  const uint64_t base = segment_base_after(kgd->next_free);
  if (kgd->next_free >= 0xFFFF0000u || base + size > 0xFFFFFFFFull) return 0;

  char name[48];
  segment_name(name, kgd, n);
  os::Handle h = os::mapping_create(name, size, wants_everyone(kgd->flags));
  if (h == 0) return 0;
  void* view = os::map_view(h, static_cast<uint32_t>(base));
  if (view == nullptr) {
    os::close_handle(h);
    return 0;
  }
  // A new mapping is all zero already.
  kgd->next_free = static_cast<uint32_t>(base) + size;
  *seg_entry(kgd, n) = SegEntry{static_cast<Addr>(base), size, 0, size, h, 0};
  map_new_segments(nullptr);
  attachment().views[n] = SegmentView{h, view, true};
  // Published last: other processes act only on entries below the count.
  __atomic_store_n(&kgd->nsegs, n + 1, __ATOMIC_RELEASE);
  return static_cast<Addr>(base);
}

bool map_new_segments(CptEntry* entry) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || !ensure_view_table(kgd)) return false;
  uint32_t n = __atomic_load_n(&kgd->nsegs, __ATOMIC_ACQUIRE);
  if (n > attachment().nviews) n = attachment().nviews;
  if (entry != nullptr && entry->nmap >= n) return true;

  SegmentView* views = attachment().views;
  uint32_t first = 1;
  while (first < n && views[first].view != nullptr) ++first;
  uint32_t missing = n;
  for (uint32_t i = first; i < n; ++i) {
    // Views this process already has are kept, not mapped a second time.
    if (views[i].view == nullptr) map_segment(kgd, i);
    if (views[i].view == nullptr && missing == n) missing = i;
  }
  if (entry != nullptr) entry->nmap = static_cast<uint16_t>(missing);
  return missing == n;
}

}  // namespace rk
