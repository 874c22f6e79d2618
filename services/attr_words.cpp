// The attribute words of tags: changed and queried in the caller's
// application, in the frame of the tag calls. Changing a word sets no change
// bits; it wakes the clients that wait on the tag and want the changed bits.
#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "tags/change_marking.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"

using namespace rk;

namespace {

enum AttrOp : int { kOpSet = 0, kOpClear = 1, kOpToggle = 2 };

// The bits of value under mask that modify_attr needs for op.
void apply(Kgd* kgd, WriteWake& wake, const TagSite& site, uint32_t v, int op) {
  switch (op) {
    case kOpSet:
      modify_attr(kgd, wake, site, v, v, false);
      break;
    case kOpClear:
      modify_attr(kgd, wake, site, 0, v, false);
      break;
    default:
      modify_attr(kgd, wake, site, ~site.cell->attr_word, v, false);
  }
}

}  // namespace

extern "C" {

RK_API int rk_modify_attr(rk_client_id id, const rk_tag_ref* tags, uint32_t count, const uint32_t* values, int op) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  if (tags == nullptr || values == nullptr) return refuse_call(e, kErrNullArg);
  if (op < kOpSet || op > kOpToggle) return refuse_call(e, kErrRange);
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  WriteWake wake{call.app};
  walk_tags(call, call.app, tags, count, FixedElement<uint8_t>{nullptr},
            [&](const TypeRun&, const TagSite& site, uint8_t*, uint32_t i) {
              apply(call.kgd, wake, site, values[i], op);
              return Step::kNext;
            });
  wake_after_write(call.kgd, id, wake);
  return finish_tag_call(call);
}

RK_API int rk_query_attr(rk_client_id id, const rk_tag_ref* tags, uint32_t count, uint32_t* words_out) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  if (tags == nullptr || words_out == nullptr) return refuse_call(e, kErrNullArg);
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  walk_tags(call, call.app, tags, count, FixedElement<uint8_t>{nullptr},
            [&](const TypeRun&, const TagSite& site, uint8_t*, uint32_t i) {
              words_out[i] = site.cell->attr_word;
              return Step::kNext;
            });
  return finish_tag_call(call);
}

}  // extern "C"
