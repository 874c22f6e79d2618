// Waiting for the next changed tag of a list: rk_change_wait and
// rk_change_wait_attr. The scan starts at the caller's position and wraps
// round to the start of the list; when nothing is changed the caller marks
// its wait on every tag of the list, sleeps once, unmarks them and scans
// round the list once more. There is no time-out: a writer of one of the
// tags, a wake-up or a signal ends the sleep.
#include "core/errors.h"
#include "rk.h"
#include "tags/change_marks.h"
#include "tags/change_scan.h"
#include "tags/change_sleep.h"
#include "tags/tag_call.h"

using namespace rk;

namespace {

// One scan round the list from start: start..count-1, then 0..start-1.
// Leaves the position where the last scan ended.
void scan_round(TagCall& call, const TagRef* refs, uint32_t count, uint32_t start, uint32_t* position,
                void* buffer, uint32_t* attribute) {
  *position = change_scan(call, refs, count, start, buffer, attribute);
  if (call.error != kErrNoChange || start == 0) return;
  *position = change_scan(call, refs, start, 0, buffer, attribute);
}

}  // namespace

namespace rk {

int16_t sleep_on_changes(TagCall& call, const TagRef* refs, uint32_t count) {
  // The scans have been over every reference, so the marks meet no bad one;
  // the call's own result is the scan's all the same.
  const int16_t scanned = call.error;
  mark_tags(call, refs, count, Mark::kSetWait);
  CptEntry* e = call.entry;
  e->errnum = 0;
  const int rc = rk_wait(call.id, 1);
  int16_t err = rc == 0 ? 0 : e->errnum;
  // rk_wait stores nothing only when the kernel mutex failed or the client
  // was made to leave meanwhile; either way the wait did not happen.
  if (rc != 0 && err == 0) err = kErrKernelMutex;
  mark_tags(call, refs, count, Mark::kClearWait);
  call.error = scanned;
  return err;
}

}  // namespace rk

extern "C" {

RK_API int rk_change_wait_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                               void* buffer, uint32_t* attribute) {
  TagCall call;
  uint32_t start = 0;
  int rc = -1;
  if (!begin_change_scan(call, id, refs, count, position, buffer, start, rc)) return rc;
  // The scans find nothing with 11, which a successful wait must not leave
  // behind: the caller's number is given back.
  const int16_t before = call.entry->errnum;
  scan_round(call, refs, count, start, position, buffer, attribute);
  if (call.error == kErrNoChange) {
    if (const int16_t err = sleep_on_changes(call, refs, count)) {
      call.error = err;
    } else {
      // Once only: a wake-up that left nothing changed ends with 11.
      scan_round(call, refs, count, start, position, buffer, attribute);
    }
  }
  rc = finish_tag_call(call);
  if (rc == 0) call.entry->errnum = before;
  return rc;
}

RK_API int rk_change_wait(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                          void* buffer) {
  return rk_change_wait_attr(id, refs, count, position, buffer, nullptr);
}

}  // extern "C"
