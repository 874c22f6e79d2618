#include "core/client_ids.h"

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

}  // namespace rk
