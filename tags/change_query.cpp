// Testing change bits without clearing them: rk_test_chng and
// rk_test_app_chng, which looks at another client's bits in that client's
// application.
#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"

using namespace rk;

extern "C" {

RK_API int rk_test_app_chng(rk_client_id id, rk_client_id other, const rk_tag_ref* refs, uint32_t count,
                            uint16_t* change_flags) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  AppBlock* app = app_index(other) == app_index(id) ? call.app : resolve_app(other);
  if (app == nullptr) return fail_tag_call(call, kErrAppInactive);
  const CptEntry* of = resolve_entry(app, other);
  if (of == nullptr) return fail_tag_call(call, kErrNotRegistered);
  if (refs == nullptr || change_flags == nullptr) return fail_tag_call(call, kErrNullArg);
  const uint32_t bit = of->own_bit;
  for (uint32_t i = 0; i < count; ++i) change_flags[i] = 0;
  walk_tags(call, app, refs, count, FixedElement<uint8_t>{nullptr},
            [&](const TypeRun&, const TagSite& site, uint8_t*, uint32_t i) {
              change_flags[i] = (site.change->change_word & bit) != 0 ? 1 : 0;
              return Step::kNext;
            });
  return finish_tag_call(call);
}

RK_API int rk_test_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint16_t* change_flags) {
  return rk_test_app_chng(id, id, refs, count, change_flags);
}

}  // extern "C"
