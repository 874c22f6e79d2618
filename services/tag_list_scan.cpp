// The next changed tag of the caller's own tag list, found by the tag
// engine's change scan over a copy of the list: rk_change_read_tag_list
// looks from the start of the list, rk_change_wait_tag_list from the
// caller's position and, when nothing changed, sleeps once and looks again
// from that same position.
#include <vector>

#include "core/errors.h"
#include "rk.h"
#include "services/tag_list.h"
#include "tags/change_scan.h"
#include "tags/change_sleep.h"

using namespace rk;

namespace {

// One scan of list from start; on success the tag found goes out.
void scan_list(TagCall& call, const std::vector<TagRef>& list, uint32_t start, rk_tag_ref* tag_out,
               uint32_t* index, void* value) {
  const uint32_t count = static_cast<uint32_t>(list.size());
  if (start >= count) {
    call.error = kErrRange;
    return;
  }
  const uint32_t found = change_scan(call, list.data(), count, start, value, nullptr);
  *index = found;
  if (call.error == 0) *tag_out = list[found];
}

void wait_list(TagCall& call, rk_tag_ref* tag_out, uint32_t* index, void* value) {
  const uint32_t start = *index;
  std::vector<TagRef> list;
  if ((call.error = copy_own_list(call, list)) != 0) return;
  scan_list(call, list, start, tag_out, index, value);
  if (call.error != kErrNoChange) return;
  // Marked and unmarked on the same copy: the list may be replaced, and its
  // block freed, while the caller sleeps.
  if (const int16_t err = sleep_on_changes(call, list.data(), static_cast<uint32_t>(list.size()))) {
    call.error = err;
    return;
  }
  // Once only, from where the caller asked, over the list as it is now.
  if ((call.error = copy_own_list(call, list)) != 0) return;
  scan_list(call, list, start, tag_out, index, value);
}

}  // namespace

extern "C" {

RK_API int rk_change_read_tag_list(rk_client_id id, rk_tag_ref* tag_out, uint32_t* index, void* value) {
  TagCall call;
  if (!begin_list_call(call, id, tag_out != nullptr && index != nullptr && value != nullptr)) return -1;
  std::vector<TagRef> list;
  call.error = copy_own_list(call, list);
  if (call.error == 0) scan_list(call, list, 0, tag_out, index, value);
  return finish_tag_call(call);
}

RK_API int rk_change_wait_tag_list(rk_client_id id, rk_tag_ref* tag_out, uint32_t* index, void* value) {
  TagCall call;
  if (!begin_list_call(call, id, tag_out != nullptr && index != nullptr && value != nullptr)) return -1;
  // The first scan's 11 must not outlast a wait that then finds a tag: the
  // number is the caller's as it was (the lock, when it succeeds, stores none).
  const int16_t before = call.entry->errnum;
  wait_list(call, tag_out, index, value);
  const int rc = finish_tag_call(call);
  if (rc == 0) call.entry->errnum = before;
  return rc;
}

}  // extern "C"
