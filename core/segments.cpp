#include "core/segments.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "core/attachment.h"
#include "core/crash_point.h"
#include "core/intent_record.h"
#include "core/kernel_objects.h"
#include "core/rtdb_names.h"
#include "platform/mapping.h"

namespace rk {

namespace {

// The per-process view table is written by whichever thread maps: one that
// holds the database lock, or the kernel mutex, or creates the RTDB. Two
// threads of one process can be each of these at once.
std::recursive_mutex g_views_mutex;

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
  char name[kObjectNameBytes];
  segment_name(name, kgd, n);
  os::Handle h = os::mapping_open(name, object_owner(kgd));
  if (h == 0) return;
  void* view = os::map_view(h, seg_entry(kgd, n)->base);
  const uint32_t bytes = os::mapping_size(h);
  if (view == nullptr || bytes < seg_entry(kgd, n)->size) {
    if (view != nullptr) os::unmap_view(view);
    os::close_handle(h);
    return;
  }
  v = SegmentView{h, view, false, bytes};
}

}  // namespace

Addr new_segment(uint32_t size) {
  std::lock_guard<std::recursive_mutex> g(g_views_mutex);
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || size == 0 || size > 0xFFFFFFFEu) return 0;
  size = (size + 1) & ~1u;
  const uint32_t n = kgd->nsegs;
  if (n >= kgd->maxsegs || !ensure_view_table(kgd)) return 0;
  const uint64_t base = segment_base_after(kgd->next_free);
  if (kgd->next_free >= 0xFFFF0000u || base + size > 0xFFFFFFFFull) return 0;

  char name[kObjectNameBytes];
  segment_name(name, kgd, n);
  // A client that died making this segment left it uncounted: it is made anew.
  os::Handle h = create_replacing(name, [&] { return os::mapping_create(name, size, wants_everyone(kgd->flags)); });
  if (h == 0) return 0;
  void* view = os::map_view(h, static_cast<uint32_t>(base));
  if (view == nullptr) {
    os::close_handle(h);
    os::object_remove(name);
    return 0;
  }
  // A new mapping is all zero already.
  kgd->next_free = static_cast<uint32_t>(base) + size;
  *seg_entry(kgd, n) = SegEntry{static_cast<Addr>(base), size, 0, size, h, 0};
  map_new_segments(nullptr);
  attachment().views[n] = SegmentView{h, view, true, size};
  // Published last: other processes act only on entries below the count.
  // Inside an update the publication is undone with it; the segment is then
  // made anew by the next one to add a segment.
  intent_log(&kgd->next_free, sizeof kgd->next_free);
  intent_log(&kgd->nsegs, sizeof kgd->nsegs);
  publish_nsegs(kgd, n + 1);
  RK_CRASH_POINT("segment.published");
  if (attachment().mapped == n) attachment().mapped = n + 1;
  return static_cast<Addr>(base);
}

const SegEntry* mapped_segment_holding(const Kgd* kgd, Addr a, uint64_t bytes) {
  const Attachment& att = attachment();
  if (kgd == nullptr || kgd != att.kgd) return nullptr;
  std::lock_guard<std::recursive_mutex> g(g_views_mutex);
  const uint32_t capacity = kgd->maxsegs;
  const uint32_t n = std::min(load_nsegs(kgd), capacity);
  if (n == 0) return nullptr;
  // The last segment whose base is not above a, or segment 0.
  uint32_t lo = 0, hi = n;
  while (hi - lo > 1) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (seg_entry(kgd, mid)->base <= a) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  const SegEntry* seg = seg_entry(kgd, lo);
  uint64_t reach = seg->size;
  if (lo == 0) {
    reach = std::min<uint64_t>(reach, os::mapping_size(att.kgd_handle));
  } else if (att.views != nullptr && lo < att.nviews && att.views[lo].view != nullptr) {
    reach = std::min<uint64_t>(reach, att.views[lo].bytes);
  } else {
    return nullptr;
  }
  const uint64_t base = seg->base;
  return a >= base && a + bytes <= base + reach ? seg : nullptr;
}

void forget_unpublished_views() {
  std::lock_guard<std::recursive_mutex> g(g_views_mutex);
  Attachment& att = attachment();
  if (att.kgd == nullptr || att.views == nullptr) return;
  const uint32_t n = load_nsegs(att.kgd);
  for (uint32_t i = n; i < att.nviews; ++i) {
    SegmentView& v = att.views[i];
    if (v.view != nullptr) os::unmap_view(v.view);
    if (v.handle != 0) os::close_handle(v.handle);
    v = SegmentView{};
  }
  if (att.mapped > n) att.mapped = n;
}

bool map_missing_segments(CptEntry* entry, uint32_t n) {
  Attachment& att = attachment();
  Kgd* kgd = att.kgd;
  std::lock_guard<std::recursive_mutex> g(g_views_mutex);
  if (!ensure_view_table(kgd)) return false;
  if (n > attachment().nviews) n = attachment().nviews;

  SegmentView* views = attachment().views;
  uint32_t first = 1;
  while (first < n && views[first].view != nullptr) ++first;
  uint32_t missing = n;
  for (uint32_t i = first; i < n; ++i) {
    // Views this process already has are kept, not mapped a second time.
    if (views[i].view == nullptr) map_segment(kgd, i);
    if (views[i].view == nullptr && missing == n) missing = i;
  }
  att.mapped = missing;
  if (entry != nullptr) entry->nmap = static_cast<uint16_t>(missing);
  return missing == n;
}

}  // namespace rk
