// The non-clearing read, rk_read_no_clear: the values as rk_read gives them,
// while the reader's change bits stay, so a later change scan still
// reports the tags. A mailbox read still takes its first message. No
// handler runs.
#include "core/errors.h"
#include "rk.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"
#include "tags/value_read.h"

using namespace rk;

extern "C" RK_API int rk_read_no_clear(rk_client_id id, const rk_tag_ref* refs, uint32_t count, void* buffer) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  if (refs == nullptr || buffer == nullptr) return fail_tag_call(call, kErrNullArg);
  constexpr uint32_t kNoBitCleared = 0;   // in place of the reader's own bit
  uint32_t counted = 0;
  walk_tags(call, call.app, refs, count, static_cast<uint8_t*>(buffer),
            [&](const TypeRun& run, const TagSite& site, uint8_t* element, uint32_t) {
              if (const int16_t err = read_value(call.kgd, run, site, element, id, kNoBitCleared)) call.record(err);
              ++counted;
              return Step::kNext;
            });
  return end_tag_call(call, kStatReadCalls, kStatReadTags, counted);
}
