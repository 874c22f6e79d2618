#include "storage/mailbox_call.h"

#include "core/client_ids.h"
#include "core/errors.h"

namespace rk {

AppBlock* mailbox_target(const TagCall& call, uint16_t target) {
  return app_index(target) == app_index(call.id) ? call.app : resolve_app(target);
}

int16_t find_mailbox(const Kgd* kgd, const AppBlock* app, TagRef ref, Mailbox* box) {
  // The kind is judged before the element size, so the type entry is read
  // here before TypeRun, which refuses a type without a size first.
  if (ref.type >= kgd->ntypes || ref.type >= kTypeSlots || kgd->type_table == 0) return kErrBadTag;
  if (at<TypeEntry>(kgd->type_table)[ref.type].stat != kKindMessage) return kErrNotMailbox;
  if (!box->run.select(kgd, app, ref.type) || ref.index >= box->run.max) return kErrBadTag;
  box->site = site_of(box->run, ref);
  return 0;
}

int16_t find_target_mailbox(const TagCall& call, uint16_t target, const void* record, TagRef ref, AppBlock** app,
                            Mailbox* box) {
  *app = mailbox_target(call, target);
  if (*app == nullptr) return kErrAppInactive;
  if (record == nullptr) return kErrNullArg;
  return find_mailbox(call.kgd, *app, ref, box);
}

int end_mailbox_call(TagCall& call, int err) {
  if (err != 0) call.record(static_cast<int16_t>(err));
  return finish_tag_call(call);
}

}  // namespace rk
