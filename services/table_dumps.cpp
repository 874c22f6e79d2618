// Text dumps of the kernel's four tables for monitoring tools: a title
// line, a column line and one row per entry, every line ending in CR LF.
// The caller passes no size: each dump stops at the largest text its
// table's limits allow (RK_DUMP_*_MAX), whatever the counts in shared
// memory say.
#include <algorithm>
#include <cstdarg>
#include <cstddef>

#include "core/records.h"
#include "core/text_fields.h"
#include "platform/format.h"
#include "services/proc_records.h"
#include "rk.h"

using namespace rk;

namespace {

// The rows a dump shows at most: segment and pool indexes are printed as
// 16-bit numbers, and the type table and a Client Process Table have fixed
// sizes.
constexpr int kMaxTableRows = 65535;

// Appends formatted lines to the caller's text, never beyond cap bytes.
class DumpText {
 public:
  DumpText(char* text, size_t cap) : text_(text), cap_(cap) { text_[0] = '\0'; }

  void line(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    used_ += static_cast<size_t>(kvfmt_n(text_ + used_, cap_ - used_, fmt, ap));
    va_end(ap);
  }

 private:
  char* text_;
  size_t cap_;
  size_t used_ = 0;
};

int rows(int count, int limit) { return std::min(count, limit); }

}  // namespace

extern "C" {

RK_API int rk_dump_segs(char* text) {
  if (text == nullptr) return -1;
  DumpText out(text, RK_DUMP_SEGS_MAX);
  out.line("Dump of Kernel Segment Table:\n");
  out.line("###:   address  size  used  free\n");
  const int n = rows(rk_get_nsegs(), kMaxTableRows);
  for (int i = 0; i < n; ++i) {
    rk_seg_record s;
    if (rk_get_seg(i, &s) != 0) continue;
    out.line("%3u: x%08lX %5lu %5lu %5lu\n", i, s.base, s.size, s.used, s.free);
  }
  return 0;
}

RK_API int rk_dump_mems(char* text) {
  if (text == nullptr) return -1;
  DumpText out(text, RK_DUMP_MEMS_MAX);
  out.line("Dump of Kernel Memory Table:\n");
  out.line("###:   address #used  used #free  free\n");
  const int n = rows(rk_get_nmems(), kMaxTableRows);
  for (int i = 0; i < n; ++i) {
    rk_mem_record m;
    if (rk_get_mem(i, &m) != 0) continue;
    const uint32_t unit = m.unit_bytes;
    out.line("%3u: x%08lX %5u %5lu %5u %5lu\n", i, m.base, m.nused, m.used_units * unit, m.nfree,
             m.free_units * unit);
  }
  return 0;
}

RK_API int rk_dump_types(char* text) {
  if (text == nullptr) return -1;
  DumpText out(text, RK_DUMP_TYPES_MAX);
  out.line("Dump of Kernel Data Type Table:\n");
  out.line("type:   address  stat   max  usiz  ksiz\n");
  const int n = rows(rk_get_ntypes(), kTypeSlots);
  for (int i = 0; i < n; ++i) {
    rk_type_entry t;
    if (rk_get_type(i, &t) != 0) continue;
    out.line("%4u: x%04X %5u %5u %5u\n", i, t.stat, t.max, t.usiz, t.ksiz);
  }
  return 0;
}

RK_API int rk_dump_procs(char* text) {
  if (text == nullptr) return -1;
  DumpText out(text, RK_DUMP_PROCS_MAX);
  out.line("Dump of Client Process Table:\n");
  out.line("id:  type  stat errno   pid   tid  prty  lock  link   req   sig name\n");
  // Application 0 only: client ids 0..30.
  for (uint16_t slot = 0; slot < kSlots; ++slot) {
    CptEntry e;
    if (!copy_slot(slot, &e) || (e.stat & kStatConfigured) == 0) continue;
    // The name as a copied record holds it: at most 31 characters.
    char name[sizeof e.name];
    copy_text(name, sizeof name, e.name);
    out.line("%2d: x%04X x%04X %5d %5lu x%04X %5u %5u x%04X %s\n", slot, e.type, e.stat,
             static_cast<int32_t>(e.errnum), e.pid, e.prty, e.lock, static_cast<int32_t>(static_cast<int16_t>(e.wait_state)),
             e.sig_pending, name);
  }
  return 0;
}

}  // extern "C"
