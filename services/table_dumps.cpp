// Text dumps of the kernel's four tables for monitoring tools: a title
// line, a column line and one row per entry, every line ending in CR LF.
// The caller passes no size: each dump stops at the largest text its
// table's limits allow (RK_DUMP_*_MAX), whatever the counts in shared
// memory say.
#include <algorithm>
#include <cstdarg>
#include <cstddef>

#include "core/kgd_check.h"
#include "core/records.h"
#include "core/text_fields.h"
#include "platform/format.h"
#include "services/proc_records.h"
#include "rk.h"

using namespace rk;

namespace {

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

// Writes the header, then a row for each index below count and below
// limit, the most rows the table can have, whose record get fills.
template <typename Record, typename Row>
int dump_table(char* text, size_t max, const char* header, int count, int limit, int (*get)(int, Record*),
               Row row) {
  if (text == nullptr) return -1;
  DumpText out(text, max);
  out.line(header);
  for (int i = 0; i < std::min(count, limit); ++i) {
    Record r;
    if (get(i, &r) == 0) row(out, i, r);
  }
  return 0;
}

// A slot of application 0 that is configured, as the process dump shows it.
int configured_slot(int slot, CptEntry* e) {
  return copy_slot(static_cast<uint16_t>(slot), e) && (e->stat & kStatConfigured) != 0 ? 0 : -1;
}

}  // namespace

extern "C" {

RK_API int rk_dump_segs(char* text) {
  return dump_table(text, RK_DUMP_SEGS_MAX,
                    "Dump of Kernel Segment Table:\n"
                    "###:   address  size  used  free\n",
                    rk_get_nsegs(), kMaxSegTable, rk_get_seg, [](DumpText& out, int i, const rk_seg_record& s) {
                      out.line("%3u: x%08lX %5lu %5lu %5lu\n", i, s.base, s.size, s.used, s.free);
                    });
}

RK_API int rk_dump_mems(char* text) {
  return dump_table(text, RK_DUMP_MEMS_MAX,
                    "Dump of Kernel Memory Table:\n"
                    "###:   address #used  used #free  free\n",
                    rk_get_nmems(), kMaxPools, rk_get_mem, [](DumpText& out, int i, const rk_mem_record& m) {
                      const uint32_t unit = m.unit_bytes;
                      out.line("%3u: x%08lX %5u %5lu %5u %5lu\n", i, m.base, m.nused, m.used_units * unit, m.nfree,
                               m.free_units * unit);
                    });
}

RK_API int rk_dump_types(char* text) {
  return dump_table(text, RK_DUMP_TYPES_MAX,
                    "Dump of Kernel Data Type Table:\n"
                    "type:   address  stat   max  usiz  ksiz\n",
                    rk_get_ntypes(), kTypeSlots, rk_get_type, [](DumpText& out, int i, const rk_type_entry& t) {
                      out.line("%4u: x%04X %5u %5u %5u\n", i, t.stat, t.max, t.usiz, t.ksiz);
                    });
}

// Application 0 only: client ids 0..30.
RK_API int rk_dump_procs(char* text) {
  return dump_table(text, RK_DUMP_PROCS_MAX,
                    "Dump of Client Process Table:\n"
                    "id:  type  stat errno   pid   tid  prty  lock  link   req   sig name\n",
                    kSlots, kSlots, configured_slot, [](DumpText& out, int slot, const CptEntry& e) {
                      // At most 31 characters, as a copied record holds the name.
                      char name[sizeof e.name];
                      copy_text(name, sizeof name, e.name);
                      // errno and the wait state go out sign-extended.
                      out.line("%2d: x%04X x%04X %5d %5lu x%04X %5u %5u x%04X %s\n", slot, e.type, e.stat,
                               static_cast<int32_t>(e.errnum), e.pid, e.prty, e.lock,
                               static_cast<int32_t>(static_cast<int16_t>(e.wait_state)), e.sig_pending, name);
                    });
}

}  // extern "C"
