#include "services/rtdb_check.h"

#include "core/attachment.h"
#include "core/intent_record.h"
#include "core/kgd_check.h"
#include "core/lock_check.h"
#include "core/segments.h"
#include "platform/mapping.h"
#include "services/attr_check.h"
#include "services/tag_list_check.h"
#include "core/check_text.h"
#include "storage/dbrt_check.h"
#include "storage/layout_check.h"
#include "storage/mailbox_check.h"
#include "storage/pool_check.h"
#include "storage/segment_check.h"
#include "tags/change_check.h"
#include "tags/string_check.h"

namespace rk {

namespace {

void add(std::vector<std::string>* lines, std::string fault) {
  if (!fault.empty()) lines->push_back(std::move(fault));
}

// Whether every segment is mapped here as far as its table entry says it
// reaches: the checks after this one walk whole segments.
bool mapped_as_recorded(const Kgd* kgd, std::vector<std::string>* lines) {
  for (uint32_t i = 0; i < kgd->nsegs; ++i) {
    const SegEntry* seg = seg_entry(kgd, i);
    if (mapped_segment_holding(kgd, seg->base, seg->size) != seg) {
      lines->push_back(check_text("segment %u: its %u bytes are not all mapped in this process", i, seg->size));
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> rtdb_check(const Kgd* kgd) {
  std::vector<std::string> lines;
  const Attachment& att = attachment();
  // What every other check starts from, as an attach checks it.
  const uint32_t size = kgd == att.kgd ? os::mapping_size(att.kgd_handle) : seg_entry(kgd, 0)->size;
  if (!kgd_trusted(kgd, size, kgd->index, true)) {
    lines.push_back("kgd: its marker, counts or table addresses are not those its creation laid out");
    return lines;
  }
  bool segments_readable = true;
  if (!map_new_segments(nullptr)) {
    lines.push_back(check_text("segment table: segment %u cannot be mapped in this process", att.mapped));
    segments_readable = false;
  }
  const std::string segments = segment_check(kgd);
  add(&lines, segments);
  segments_readable = segments_readable && segments.empty() && mapped_as_recorded(kgd, &lines);
  if (segments_readable) {
    const std::string dbrt = dbrt_check(kgd);
    if (!dbrt.empty()) lines.push_back("dbrt " + dbrt);
    const std::string pools = pool_check(kgd);
    add(&lines, pools);
    add(&lines, layout_check(kgd));
    add(&lines, change_check(kgd));
    add(&lines, string_check(kgd));
    // Messages and lists are reached through the pools' handle tables.
    if (pools.empty()) {
      add(&lines, mailbox_check(kgd));
      add(&lines, tag_list_check(kgd));
    }
  }
  add(&lines, lock_check(kgd));
  add(&lines, intent_check(kgd));
  add(&lines, attr_check(kgd));
  return lines;
}

}  // namespace rk
