// rk_set_chng, rk_clear_chng, rk_clear_all_chng, rk_set_wait and
// rk_clear_wait. A change bit set by hand is the caller's alone: nobody is
// woken and nobody else sees a change.
#include "tags/change_marks.h"

#include "core/errors.h"
#include "rk.h"
#include "tags/tag_walk.h"

namespace rk {

void mark_tags(TagCall& call, const TagRef* refs, uint32_t count, Mark mark) {
  const uint32_t own_bit = call.entry->own_bit;
  walk_tags(call, call.app, refs, count, FixedElement<uint8_t>{nullptr},
            [&](const TypeRun&, const TagSite& site, uint8_t*, uint32_t) {
              ChangeEntry* c = site.change;
              switch (mark) {
                case Mark::kSetChange: c->change_word |= own_bit; break;
                case Mark::kClearChange: c->change_word &= ~own_bit; break;
                // Bit 31 is a digital tag's value, not a change bit.
                case Mark::kClearAllChanges: c->change_word &= kDigitalBit; break;
                case Mark::kSetWait: c->wait_word |= own_bit; break;
                case Mark::kClearWait: c->wait_word &= ~own_bit; break;
              }
              return Step::kNext;
            });
}

}  // namespace rk

using namespace rk;

namespace {

int mark_call(rk_client_id id, const rk_tag_ref* refs, uint32_t count, Mark mark) {
  TagCall call;
  if (!begin_tag_call(call, id)) return -1;
  if (refs == nullptr) return fail_tag_call(call, kErrNullArg);
  mark_tags(call, refs, count, mark);
  return finish_tag_call(call);
}

}  // namespace

extern "C" {

RK_API int rk_set_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count) {
  return mark_call(id, refs, count, Mark::kSetChange);
}

RK_API int rk_clear_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count) {
  return mark_call(id, refs, count, Mark::kClearChange);
}

RK_API int rk_clear_all_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count) {
  return mark_call(id, refs, count, Mark::kClearAllChanges);
}

RK_API int rk_set_wait(rk_client_id id, const rk_tag_ref* refs, uint32_t count) {
  return mark_call(id, refs, count, Mark::kSetWait);
}

RK_API int rk_clear_wait(rk_client_id id, const rk_tag_ref* refs, uint32_t count) {
  return mark_call(id, refs, count, Mark::kClearWait);
}

// Kept for clients written against older kernels; the change bits need no
// synchronisation of their own, since every access to them holds the
// database lock. Arguments an old caller still passes are its to clean up.
RK_API int rk_set_sync(void) { return 0; }
RK_API int rk_clear_sync(void) { return 0; }

}  // extern "C"
