#include "core/client_ids.h"

namespace rk {

int32_t client_id_of(const Kgd* kgd, const CptEntry* entry) {
  // Compared as pointers: an entry that is not in the application blocks
  // (anywhere in the process) must not alias one by its low 32 bits.
  const uintptr_t p = reinterpret_cast<uintptr_t>(entry);
  const uintptr_t base = reinterpret_cast<uintptr_t>(at<AppBlock>(kgd->app_blocks));
  if (p < base || p - base >= uintptr_t{kgd->napps} * sizeof(AppBlock)) return -1;
  const auto offset = static_cast<uint32_t>(p - base);
  const uint32_t a = offset / sizeof(AppBlock);
  const uint32_t in_block = offset % sizeof(AppBlock);
  if (in_block < offsetof(AppBlock, cpt)) return -1;
  const uint32_t in_table = in_block - offsetof(AppBlock, cpt);
  if (in_table % sizeof(CptEntry) != 0 || in_table / sizeof(CptEntry) >= kSlots) return -1;
  return static_cast<int32_t>(a << 8 | in_table / sizeof(CptEntry));
}

}  // namespace rk
