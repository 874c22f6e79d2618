// Describing a type slot that exists but has no arrays yet, for the
// configuring process before clients run. The space it reserves is not
// recorded anywhere: the type gets its tags only when the layout build
// places its arrays (rk_dbrt_adjust with at least this max), and until then
// every tag call refuses it as a bad type.
#include <cstdint>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "storage/dbrt_build.h"
#include "storage/segment_space.h"
#include "rk.h"

using namespace rk;

namespace {

// Bytes reserved per tag besides its kernel value.
constexpr uint64_t kReservedPerTag = 12;

// Reserves the space the type's tags would take. A reservation that opened a
// segment keeps the whole segment: nothing else is handed out of it. False
// when no space can be had.
bool reserve_type_space(Kgd* kgd, uint64_t bytes) {
  // Nothing to reserve for no tags (a reservation of 0 would open a segment).
  if (bytes == 0) return true;
  if (bytes > UINT32_MAX) return false;
  const uint32_t before = kgd->nsegs;
  if (seg_reserve(static_cast<uint32_t>(bytes)) == 0) return false;
  if (kgd->nsegs != before) {
    SegEntry* seg = seg_entry(kgd, kgd->nsegs - 1);
    seg->used = static_cast<uint32_t>(bytes);
    seg->free = 0;
  }
  return true;
}

int set_type_locked(Kgd* kgd, uint32_t n, rk_type_entry* record) {
  if (n >= kgd->ntypes || n >= kTypeSlots) return -1;
  TypeEntry* type = at<TypeEntry>(kgd->type_table) + n;
  if (type->change_bytes != 0) return -1;   // laid out already
  const uint16_t stat = record->stat;
  const uint16_t max = record->max;
  const uint16_t usiz = record->usiz;
  const uint16_t type_class = record->type_class;
  const int32_t ksiz = value_ksiz(stat, usiz);
  if (ksiz < 0 || !reserve_type_space(kgd, uint64_t{max} * (static_cast<uint64_t>(ksiz) + kReservedPerTag))) {
    return -1;
  }
  type->stat = stat;
  type->max = max;
  type->usiz = usiz;
  type->ksiz = static_cast<uint16_t>(ksiz);
  type->type_class = type_class;
  // The caller learns ksiz.
  record->ksiz = static_cast<uint16_t>(ksiz);
  return 0;
}

}  // namespace

extern "C" RK_API int rk_set_type(int n, rk_type_entry* record) {
  Kgd* kgd = attachment().kgd;
  if (record == nullptr || kgd == nullptr || n < 0) return -1;
  // The type table changes only under the kernel mutex, so that no layout
  // build runs meanwhile.
  if (kmutex_take(kSelfStrict) != 0) return -1;
  const int result = set_type_locked(kgd, static_cast<uint32_t>(n), record);
  kmutex_give(kSelf);
  return result;
}
