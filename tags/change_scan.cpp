// Reading the next changed tag of a list: rk_change_read and
// rk_change_read_attr.
#include "tags/change_scan.h"

#include "core/errors.h"
#include "rk.h"
#include "tags/attr_handlers.h"
#include "tags/tag_walk.h"
#include "tags/value_read.h"

namespace rk {

bool begin_change_scan(TagCall& call, uint16_t id, const TagRef* refs, uint32_t count, const uint32_t* position,
                       const void* buffer, uint32_t& start, int& rc) {
  rc = -1;
  if (!begin_tag_call(call, id)) return false;
  if (refs == nullptr || position == nullptr || buffer == nullptr) {
    rc = fail_tag_call(call, kErrNullArg);
    return false;
  }
  start = *position;
  if (start >= count) {
    rc = fail_tag_call(call, kErrRange);
    return false;
  }
  return true;
}

uint32_t change_scan(TagCall& call, const TagRef* refs, uint32_t count, uint32_t start, void* buffer,
                     uint32_t* attribute) {
  const uint32_t read_mask = call.entry->read_mask;
  const uint32_t own_bit = call.entry->own_bit;
  call.error = kErrNoChange;
  const uint32_t ended = walk_tags(
      call, call.app, refs + start, count - start, FixedElement<uint8_t>{static_cast<uint8_t*>(buffer)},
      [&](const TypeRun& run, const TagSite& site, uint8_t* element, uint32_t) {
        if ((site.change->change_word & own_bit) == 0) return Step::kNext;
        switch (screen_element(call, site, element, read_mask, kDirRead)) {
          case Screen::kStop: return Step::kStop;
          case Screen::kSkip: return Step::kNext;   // it stays changed
          case Screen::kProceed: break;
        }
        // A bad index passed on the way is what the call reports.
        if (const int16_t err = read_changed_value(call.kgd, run, site, element, call.id, own_bit)) {
          if (call.error != kErrBadTag) call.error = err;
        }
        if (attribute != nullptr) *attribute = site.cell->attr_word;
        if (call.error == kErrNoChange) call.error = 0;
        return Step::kStop;
      });
  if (call.error == 0) {
    ++call.entry->stats[kStatReadCalls];
    ++call.entry->stats[kStatReadTags];
  }
  return start + ended;
}

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_change_read_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                               void* buffer, uint32_t* attribute) {
  TagCall call;
  uint32_t start = 0;
  int rc = -1;
  if (!begin_change_scan(call, id, refs, count, position, buffer, start, rc)) return rc;
  *position = change_scan(call, refs, count, start, buffer, attribute);
  return finish_tag_call(call);
}

RK_API int rk_change_read(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                          void* buffer) {
  return rk_change_read_attr(id, refs, count, position, buffer, nullptr);
}

}  // extern "C"
