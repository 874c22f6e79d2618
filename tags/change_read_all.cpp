// Reading every changed tag of a list at once: rk_change_read_all. Each
// reference gets a flag, 1 for a tag that changed for the caller, which is
// then read into its place in the packed buffer.
#include "core/errors.h"
#include "rk.h"
#include "tags/attr_handlers.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"
#include "tags/value_read.h"

using namespace rk;

extern "C" RK_API int rk_change_read_all(rk_client_id id, const rk_tag_ref* refs, uint32_t count,
                                         uint16_t* change_flags, void* buffer) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  if (refs == nullptr || change_flags == nullptr || buffer == nullptr) return fail_tag_call(call, kErrNullArg);
  const uint32_t read_mask = call.entry->read_mask;
  const uint32_t own_bit = call.entry->own_bit;
  walk_tags(call, call.app, refs, count, static_cast<uint8_t*>(buffer),
            [&](const TypeRun& run, const TagSite& site, uint8_t* element, uint32_t i) {
              const bool changed = (site.change->change_word & own_bit) != 0;
              change_flags[i] = changed ? 1 : 0;
              if (!changed) return Step::kNext;
              switch (screen_element(call, site, element, read_mask, kDirRead)) {
                case Screen::kStop: return Step::kStop;
                case Screen::kSkip: return Step::kNext;   // unread, still changed, flagged
                case Screen::kProceed: break;
              }
              if (const int16_t err = read_changed_value(call.kgd, run, site, element, id, own_bit)) call.record(err);
              return Step::kNext;
            });
  // Finding nothing changed is a success too.
  if (call.error == 0) {
    ++call.entry->stats[kStatReadCalls];
    ++call.entry->stats[kStatReadTags];
  }
  return finish_tag_call(call);
}
