#include "core/rtdb_lookup.h"

#include "core/attachment.h"
#include "core/kgd_segment.h"
#include "core/rtdb.h"

namespace rk {

Kgd* find_rtdb(const char* name, bool* attached_now, KgdRefusal* why) {
  *attached_now = false;
  // An empty name is that of a deleted RTDB: it names nothing.
  if (name == nullptr || name[0] == '\0') return nullptr;
  if (Kgd* kgd = attachment().kgd) return rtdb_name_is(kgd, name) ? kgd : nullptr;
  for (uint32_t i = 0; i < kMaxKgds; ++i) {
    Kgd* kgd = open_kgd(i, why);
    if (kgd == nullptr) continue;
    if (rtdb_name_is(kgd, name)) {
      attach_kgd(kgd);
      *attached_now = true;
      return kgd;
    }
    unmap_all(kgd);
  }
  return nullptr;
}

}  // namespace rk
