#include "core/client_ids.h"

#include "core/attachment.h"
#include "platform/process_info.h"

namespace rk {

int32_t client_id_of(const Kgd* kgd, const CptEntry* entry) {
  const uint32_t offset = addr_of(entry) - kgd->app_blocks;   // huge for addresses below
  if (offset >= kgd->napps * sizeof(AppBlock)) return -1;
  const uint32_t a = offset / sizeof(AppBlock);
  const uint32_t in_block = offset % sizeof(AppBlock);
  if (in_block < offsetof(AppBlock, cpt)) return -1;
  const uint32_t in_table = in_block - offsetof(AppBlock, cpt);
  if (in_table % sizeof(CptEntry) != 0 || in_table / sizeof(CptEntry) >= kSlots) return -1;
  return static_cast<int32_t>(a << 8 | in_table / sizeof(CptEntry));
}

AppBlock* resolve_app(uint16_t id) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || kgd->state == 0) return nullptr;
  const int32_t a = app_index(id);
  if (a < 0 || static_cast<uint32_t>(a) >= kgd->napps) return nullptr;
  AppBlock* app = app_block(kgd, static_cast<uint32_t>(a));
  return app->active == 1 ? app : nullptr;
}

CptEntry* resolve_entry(AppBlock* app, uint16_t id) {
  if (app == nullptr || slot_of(id) >= kSlots) return nullptr;
  CptEntry* entry = &app->cpt[slot_of(id)];
  // stat is a set of bits: registration leaves the configured bit set, and a
  // live client may carry the termination-seen or lock-revoked bit as well.
  return (entry->stat & kStatLive) != 0 ? entry : nullptr;
}

CptEntry* resolve_owned(AppBlock* app, uint16_t id) {
  CptEntry* entry = resolve_entry(app, id);
  const Kgd* kgd = attachment().kgd;
  if (entry == nullptr || kgd == nullptr) return nullptr;
  // The flags word is a set of bits too: rk_init ORs further ones in.
  if ((kgd->flags & kFlagOwnerCheck) != 0 && entry->pid != os::process_id()) return nullptr;
  return entry;
}

}  // namespace rk
