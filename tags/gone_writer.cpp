// What a writer whose process died holding the database lock leaves
// behind: tags it changed whose waiters it never woke, because it died
// before its write's one wake (or collected them into a pending-wake mask
// and died before releasing them). Once its lock has gone on, the clients
// asleep in a tag wait that have an unseen change on a tag they wait on are
// released, as that wake would have released them; nobody else is.
#include "core/client_ids.h"
#include "core/lock_queue.h"
#include "core/records.h"
#include "core/segments.h"
#include "tags/gone_writer.h"
#include "tags/wake.h"

namespace rk {

namespace {

// The slots of app with a change they have not seen on a tag they wait on
// (a mailbox is a tag here too: its writes wake as any write does). Every
// change entry of every laid-out type is looked at: this runs only after a
// writer died.
uint32_t unseen_changes(const Kgd* kgd, const AppBlock* app) {
  uint32_t found = 0;
  if (app->pairs == 0) return 0;
  const uint32_t ntypes = kgd->ntypes < static_cast<uint32_t>(kTypeSlots) ? kgd->ntypes : kTypeSlots;
  const TypeEntry* types = at<TypeEntry>(kgd->type_table);
  const TagArrayPair* pairs = at<TagArrayPair>(app->pairs);
  for (uint32_t t = 0; t < ntypes; ++t) {
    const TypeEntry& type = types[t];
    const Addr changes = pairs[t].change_array;
    if (type.usiz == 0 || !laid_out(type) || changes == 0) continue;
    const ChangeEntry* change = at<ChangeEntry>(changes);
    const uint32_t max = type.max;
    for (uint32_t i = 0; i < max; ++i) found |= change[i].change_word & change[i].wait_word;
  }
  return found;
}

}  // namespace

void wake_for_gone_writer(Kgd* kgd) {
  // The arrays may lie in segments made since this process last mapped;
  // where they cannot be mapped, only what the writer had collected goes.
  const bool mapped = map_new_segments(nullptr);
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    if (app->active != 1) continue;
    uint32_t wake = app->pending_wake;
    app->pending_wake = 0;
    const uint32_t sleepers = app->waiting[kWaitTag - 1] | app->waiting[kWaitEither - 1];
    if (mapped && sleepers != 0) wake |= unseen_changes(kgd, app);
    if (wake != 0) wake_clients_held(kgd, kSelfByName, app, wake, kWakeTag);
  }
}

}  // namespace rk
