// Writing batches of tags: rk_write, rk_write_app, rk_write_attr and the
// forced writes. One walk for all of them; the forced ones differ only in
// the per-kind rules and in writing the caller's own application.
#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "tags/attr_handlers.h"
#include "tags/change_marking.h"
#include "tags/plain_run_write.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"
#include "tags/tag_write.h"
#include "tags/value_write.h"

namespace rk {

namespace {

using WriteRule = Written (*)(const TypeRun&, const TagSite&, const uint8_t*, uint16_t);

// target: the application written, resolved by the caller; null when it
// does not run.
template <WriteRule rule>
int write_batch(TagCall& call, AppBlock* target, const TagRef* refs, uint32_t count, const void* values,
                const uint32_t* attr_values, const uint32_t* attr_masks) {
  if (target == nullptr) return fail_tag_call(call, kErrAppInactive);
  if (refs == nullptr || values == nullptr || (attr_values != nullptr && attr_masks == nullptr)) {
    return fail_tag_call(call, kErrNullArg);
  }
  const uint32_t write_mask = call.entry->write_mask;
  WriteWake wake;
  wake.target = target;
  uint32_t counted = 0;
  // Without a write mask no handler can apply, and without attribute
  // values nothing but the value is written: runs of plain tags then take
  // the tight loop.
  const bool plain_runs = rule == write_value && write_mask == 0 && attr_values == nullptr;
  walk_tag_runs(call, target, refs, count, static_cast<const uint8_t*>(values),
        [&](const TypeRun& run, uint32_t i, const uint8_t*& element) {
          return plain_runs ? write_plain_run_of(call, wake, run, refs, i, count, element, &counted) : i;
        },
        [&](const TypeRun& run, const TagSite& site, const uint8_t* element, uint32_t i) {
          // The handler may look at the caller's element; it is the caller's own buffer.
          switch (screen_element(call, site, const_cast<uint8_t*>(element), write_mask, kDirWrite)) {
            case Screen::kStop: return Step::kStop;
            case Screen::kSkip: return Step::kNext;
            case Screen::kProceed: break;
          }
          const Written w = rule(run, site, element, call.id);
          if (w.error != 0) call.record(w.error);
          if (w.changed) mark_changed(call.kgd, wake, run, site, w.word);
          if (attr_values != nullptr) modify_attr(call.kgd, wake, site, attr_values[i], attr_masks[i], w.changed);
          ++counted;
          return Step::kNext;
        });
  return end_write_call(call, wake, counted);
}

}  // namespace

int write_app_tags(TagCall& call, uint16_t target, const TagRef* refs, uint32_t count, const void* values,
                   const uint32_t* attr_values, const uint32_t* attr_masks) {
  AppBlock* app = app_index(target) == app_index(call.id) ? call.app : resolve_app(target);
  return write_batch<write_value>(call, app, refs, count, values, attr_values, attr_masks);
}

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_write_attr(rk_client_id id, rk_client_id target, const rk_tag_ref* refs, uint32_t count,
                         const void* values, const uint32_t* attribute_values, const uint32_t* attribute_masks) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  return write_app_tags(call, target, refs, count, values, attribute_values, attribute_masks);
}

RK_API int rk_write(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values) {
  return rk_write_attr(id, id, refs, count, values, nullptr, nullptr);
}

RK_API int rk_write_app(rk_client_id id, rk_client_id target, const rk_tag_ref* refs, uint32_t count,
                        const void* values) {
  return rk_write_attr(id, target, refs, count, values, nullptr, nullptr);
}

RK_API int rk_forced_write_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values,
                                const uint32_t* attribute_values, const uint32_t* attribute_masks) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  return write_batch<forced_write_value>(call, call.app, refs, count, values, attribute_values, attribute_masks);
}

RK_API int rk_forced_write(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values) {
  return rk_forced_write_attr(id, refs, count, values, nullptr, nullptr);
}

}  // extern "C"
