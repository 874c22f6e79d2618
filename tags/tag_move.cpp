// Moving a tag's value into another tag, rk_move: the value converted
// between the two type classes and written, one element at a time, with the
// caller's write into every application that keeps its own values of the
// destination type (else into the first), so the destination gets its
// change bits, wake-ups and statistics as from rk_write_app. Between tags
// of one class the destination takes the source's change word as well.
#include <cstring>

#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "tags/change_notify.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"
#include "tags/tag_write.h"
#include "tags/value_convert.h"

using namespace rk;

namespace {

// The type of a reference whose type is defined and whose index is below
// its max; else null.
const TypeEntry* type_in_range(const Kgd* kgd, const TagRef& ref) {
  if (ref.type >= kgd->ntypes || ref.type >= kTypeSlots) return nullptr;
  const TypeEntry* type = at<TypeEntry>(kgd->type_table) + ref.type;
  if (type->usiz == 0 || ref.index >= type->max) return nullptr;
  return type;
}

// The two types of a move, once its references are known to be good.
struct MoveTypes {
  int16_t from_class;
  int16_t to_class;
  bool from_per_app;
  bool to_per_app;
};

// The refusals of a move, in their order: 9 for a bad reference, the
// source's before the destination's; 55 when both are of class 5; 54 for
// per-application values into shared ones; 55 for a class the move does
// not convert, or a type whose value kind is not that of its class (a
// converted value must fit the destination's element, and a source is read
// by its class). 0 when the move may go on.
int16_t check_move(const Kgd* kgd, const TagRef& from, const TagRef& to, MoveTypes& types) {
  const TypeEntry* source = type_in_range(kgd, from);
  if (source == nullptr) return kErrBadTag;
  const TypeEntry* destination = type_in_range(kgd, to);
  if (destination == nullptr) return kErrBadTag;
  types.from_class = static_cast<int16_t>(source->type_class);
  types.to_class = static_cast<int16_t>(destination->type_class);
  types.from_per_app = source->per_app != 0;
  types.to_per_app = destination->per_app != 0;
  if (types.from_class == kClassUnmovable && types.to_class == kClassUnmovable) return kErrBothClass5;
  if (types.from_per_app && !types.to_per_app) return kErrAppToShared;
  if (!kind_suits_class(*source, types.from_class) || !kind_suits_class(*destination, types.to_class)) {
    return kErrBothClass5;
  }
  return 0;
}

// A tag's place in one application: false when its arrays are not placed
// there.
bool locate(const Kgd* kgd, const AppBlock* app, const TagRef& ref, TagSite& site) {
  TypeRun run;
  if (!run.select(kgd, app, ref.type) || ref.index >= run.max) return false;
  site = site_of(run, ref);
  return true;
}

// One application of the move: the converted value written into
// application a, then, between equal classes, the source's change word
// copied. 0, or the error that ends the move.
int16_t move_in_app(TagCall& call, uint32_t a, const TagRef& from, const TagRef& to, const MoveTypes& types) {
  const AppBlock* app = app_block(call.kgd, a);
  TagSite source{}, destination{};
  if (!locate(call.kgd, app, from, source) || !locate(call.kgd, app, to, destination)) return kErrBadTag;
  Converted value;
  if (!convert_value(types.from_class, source, types.to_class, value)) return 0;   // nothing to write here
  TagCall write;
  if (!begin_inner_tag_call(write, call) ||
      write_app_tags(write, static_cast<uint16_t>(a << 8), &to, 1, value.element, nullptr, nullptr) != 0) {
    const int16_t err = call.entry->errnum;
    return err != 0 ? err : static_cast<int16_t>(kErrKernelMutex);
  }
  if (types.from_class == types.to_class) {
    const uint32_t word = source.change->change_word;
    if (types.to_per_app) {
      destination.change->change_word = word;
    } else {
      change_broadcast(call.kgd, to, word);
    }
  }
  return 0;
}

}  // namespace

extern "C" RK_API int rk_move(rk_client_id id, const rk_tag_ref* source, const rk_tag_ref* destination) {
  TagCall call;
  if (!resolve_tag_call(call, id)) return -1;
  if (source == nullptr || destination == nullptr) return refuse_call(call.entry, kErrNullArg);
  const TagRef from = *source;
  const TagRef to = *destination;
  if (std::memcmp(&from, &to, sizeof from) == 0) return refuse_call(call.entry, kErrSameTag);
  if (!lock_tag_call(call)) return -1;
  MoveTypes types{};
  if (const int16_t err = check_move(call.kgd, from, to, types)) return fail_tag_call(call, err);
  // From the first application block on, whatever the caller's.
  const uint32_t apps = types.to_per_app ? call.kgd->napps : 1;
  for (uint32_t a = 0; a < apps; ++a) {
    if (const int16_t err = move_in_app(call, a, from, to, types)) {
      call.error = err;
      break;
    }
  }
  return finish_tag_call(call);
}
