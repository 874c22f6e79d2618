// The non-overwriting write: rk_write_no_overwrite and its variant that
// reports the elements it kept. The writer's own change bit stays clear
// after its change, and a protected element does not replace a value the
// writer has not seen yet (its own bit set on the tag). No handler runs and
// no attribute word is touched.
#include <cstring>

#include "core/errors.h"
#include "rk.h"
#include "tags/change_marking.h"
#include "tags/string_value.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"
#include "tags/value_write.h"

using namespace rk;

namespace {

// True when storing the element would change the tag's value. Mailboxes
// are not asked: a message is always appended.
bool would_change(const TypeRun& run, const TagSite& site, const uint8_t* element) {
  switch (run.kind) {
    case kKindPlain: return std::memcmp(site.value(), element, run.element) != 0;
    case kKindDigital: {
      uint16_t v;
      std::memcpy(&v, element, sizeof v);
      return (v != 0) != ((site.change->change_word & kDigitalBit) != 0);
    }
    case kKindString: {
      const rk_string_desc offered = *reinterpret_cast<const rk_string_desc*>(element);
      return string_differs(reinterpret_cast<const StringDesc*>(site.value()), &offered) != 0;
    }
    default: return false;
  }
}

// One element. `keep`: protected and not yet seen by the writer, so its
// value stays; a mailbox appends all the same. Strings are assigned without
// the reservation case of rk_write.
Written write_unless_kept(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id, bool keep,
                          bool& kept) {
  if (run.kind == kKindMessage) return write_message(site, element, id);
  if (keep) {
    kept = would_change(run, site, element);
    return Written{};
  }
  if (run.kind == kKindString) return assign_string(site, element);
  return write_value(run, site, element, id);
}

}  // namespace

extern "C" {

RK_API int rk_write_no_overwrite_kept(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values,
                                      const uint8_t* no_overwrite, uint8_t* kept_out) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  if (refs == nullptr || values == nullptr) return fail_tag_call(call, kErrNullArg);
  if (kept_out != nullptr) std::memset(kept_out, 0, count);
  const uint32_t own_bit = call.entry->own_bit;
  WriteWake wake;
  wake.target = call.app;
  const uint32_t walked =
      walk_tags(call, call.app, refs, count, static_cast<const uint8_t*>(values),
                [&](const TypeRun& run, const TagSite& site, const uint8_t* element, uint32_t i) {
                  const bool keep = no_overwrite != nullptr && no_overwrite[i] != 0 &&
                                    (site.change->change_word & own_bit) != 0;
                  bool kept = false;
                  const Written w = write_unless_kept(run, site, element, id, keep, kept);
                  if (w.error != 0) call.record(w.error);
                  if (w.changed) mark_changed(call.kgd, wake, run, site, w.word & ~own_bit);
                  if (kept && kept_out != nullptr) kept_out[i] = 1;
                  return Step::kNext;
                });
  // Every element walked is counted, a bad index too.
  return end_write_call(call, wake, walked);
}

RK_API int rk_write_no_overwrite(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values,
                                 const uint8_t* no_overwrite) {
  return rk_write_no_overwrite_kept(id, refs, count, values, no_overwrite, nullptr);
}

}  // extern "C"
