#include "tags/change_notify.h"

#include <bit>

#include "core/client_ids.h"

namespace rk {

namespace {

// The type of a reference that lies inside the table. Callers have checked
// their references; this keeps a bad one from reaching past an array.
const TypeEntry* type_of(const Kgd* kgd, const TagRef& ref) {
  if (ref.type >= kgd->ntypes || ref.type >= kTypeSlots) return nullptr;
  const TypeEntry* type = at<TypeEntry>(kgd->type_table) + ref.type;
  return ref.index < type->max ? type : nullptr;
}

// The tag's change entry in one application; null when the application has
// no change array for the type.
ChangeEntry* change_entry(const AppBlock* app, const TagRef& ref) {
  if (app->pairs == 0) return nullptr;
  const Addr changes = at<TagArrayPair>(app->pairs)[ref.type].change_array;
  return changes == 0 ? nullptr : at<ChangeEntry>(changes) + ref.index;
}

uint32_t collect_attr_waiters(AppBlock* app, const TagRef& ref, uint32_t changed) {
  const ChangeEntry* change = change_entry(app, ref);
  if (change == nullptr) return 0;
  uint32_t count = 0;
  for (uint32_t waiters = change->wait_word & kChangeBits; waiters != 0; waiters &= waiters - 1) {
    if ((app->cpt[std::countr_zero(waiters)].change_mask & changed) == 0) continue;
    app->pending_wake |= waiters & (0u - waiters);   // the slot's bit, its client's own bit
    ++count;
  }
  return count;
}

}  // namespace

uint32_t change_broadcast(Kgd* kgd, const TagRef& ref, uint32_t word) {
  if (type_of(kgd, ref) == nullptr) return 0;
  uint32_t count = 0;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    ChangeEntry* change = change_entry(app, ref);
    if (change == nullptr) continue;
    if (change->wait_word != 0) {
      app->pending_wake |= change->wait_word;
      ++count;
    }
    change->change_word = word;
  }
  return count;
}

uint32_t notify_attr_change(Kgd* kgd, AppBlock* app, const TagRef& ref, uint32_t changed) {
  const TypeEntry* type = type_of(kgd, ref);
  if (type == nullptr) return 0;
  if (type->per_app != 0) return app != nullptr ? collect_attr_waiters(app, ref, changed) : 0;
  uint32_t count = 0;
  for (uint32_t a = 0; a < kgd->napps; ++a) count += collect_attr_waiters(app_block(kgd, a), ref, changed);
  return count;
}

}  // namespace rk
