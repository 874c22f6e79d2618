// Reading batches of tags: rk_read and rk_read_attr.
#include "core/errors.h"
#include "rk.h"
#include "tags/attr_handlers.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"
#include "tags/value_read.h"

using namespace rk;

extern "C" RK_API int rk_read_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, void* buffer,
                                   uint32_t* attributes) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  if (refs == nullptr || buffer == nullptr) return fail_tag_call(call, kErrNullArg);
  const uint32_t read_mask = call.entry->read_mask;
  const uint32_t own_bit = call.entry->own_bit;
  uint32_t counted = 0;
  walk_tags(call, call.app, refs, count, static_cast<uint8_t*>(buffer),
            [&](const TypeRun& run, const TagSite& site, uint8_t* element, uint32_t i) {
              switch (screen_element(call, site, element, read_mask, kDirRead)) {
                case Screen::kStop: return Step::kStop;
                case Screen::kSkip: return Step::kNext;
                case Screen::kProceed: break;
              }
              if (const int16_t err = read_value(call.kgd, run, site, element, id, own_bit)) call.record(err);
              if (attributes != nullptr) attributes[i] = site.cell->attr_word;
              ++counted;
              return Step::kNext;
            });
  return end_tag_call(call, kStatReadCalls, kStatReadTags, counted);
}

extern "C" RK_API int rk_read(rk_client_id id, const rk_tag_ref* refs, uint32_t count, void* buffer) {
  return rk_read_attr(id, refs, count, buffer, nullptr);
}
