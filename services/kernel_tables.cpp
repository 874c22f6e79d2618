// Read-only views of the kernel's tables for monitoring processes, which
// need only be attached. The counts and the segment and memory entries are
// read without a lock (an entry being set up may show half done); the lock
// state and the type table are copied under the kernel mutex. Everything
// read lies in segment 0, which every attached process maps.
#include <algorithm>
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "rk.h"

namespace rk {

namespace {

// The client id of the entry at addr, or 0xFFFF when there is none.
uint16_t id_at(const Kgd* kgd, Addr addr) {
  const int32_t id = addr != 0 ? client_id_of(kgd, at<CptEntry>(addr)) : -1;
  return id >= 0 ? static_cast<uint16_t>(id) : 0xFFFF;
}

// Entry n of a table of `count` entries in use out of `capacity`.
bool in_table(int n, uint32_t count, uint32_t capacity) {
  return n >= 0 && static_cast<uint32_t>(n) < std::min(count, capacity);
}

}  // namespace

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_get_version(void) {
  const Kgd* kgd = attachment().kgd;
  return kgd != nullptr ? static_cast<int>(kgd->version) : -1;
}

RK_API int rk_get_app_globals(rk_client_id id, rk_globals* record) {
  if (record == nullptr) return -1;
  const AppBlock* app = resolve_app(id);
  if (app == nullptr || kmutex_take(kSelf) != 0) return -1;
  const Kgd* kgd = attachment().kgd;
  rk_globals g;
  g.lock_holder = id_at(kgd, kgd->lock_holder);
  g.queue_head = id_at(kgd, kgd->queue_head);
  g.registered = app->registered;
  g.queued = app->queued;
  for (int i = 0; i < 4; ++i) g.waiting[i] = app->waiting[i];
  g.lock_tick = kgd->lock_tick;
  kmutex_give(kSelf);
  *record = g;
  return 0;
}

RK_API int rk_get_globals(rk_globals* record) { return rk_get_app_globals(0, record); }

RK_API int rk_get_nsegs(void) {
  const Kgd* kgd = attachment().kgd;
  return kgd != nullptr ? static_cast<int>(kgd->nsegs) : -1;
}

RK_API int rk_get_seg(int n, rk_seg_record* record) {
  const Kgd* kgd = attachment().kgd;
  if (record == nullptr || kgd == nullptr || !in_table(n, kgd->nsegs, kgd->maxsegs)) return -1;
  const SegEntry seg = *seg_entry(kgd, static_cast<uint32_t>(n));
  if (seg.base == 0) return -1;
  *record = rk_seg_record{seg.base, seg.size, seg.used, seg.free};
  return 0;
}

RK_API int rk_get_nmems(void) {
  const Kgd* kgd = attachment().kgd;
  return kgd != nullptr ? static_cast<int>(kgd->nmems) : -1;
}

RK_API int rk_get_mem(int n, rk_mem_record* record) {
  const Kgd* kgd = attachment().kgd;
  if (record == nullptr || kgd == nullptr || !in_table(n, kgd->nmems, kgd->maxmems)) return -1;
  const MemEntry pool = at<MemEntry>(kgd->mem_table)[n];
  if (pool.base == 0) return -1;
  *record = pool;
  return 0;
}

RK_API int rk_get_ntypes(void) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr) return -1;
  if (kmutex_take(kSelfStrict) != 0) return 0;
  const uint32_t n = kgd->ntypes;
  kmutex_give(kSelf);
  return static_cast<int>(n);
}

RK_API int rk_get_type(int n, rk_type_entry* record) {
  const Kgd* kgd = attachment().kgd;
  if (record == nullptr || kgd == nullptr || n < 0 || kmutex_take(kSelfStrict) != 0) return -1;
  if (!in_table(n, kgd->ntypes, kTypeSlots)) {
    kmutex_give(kSelf);
    return -1;
  }
  const TypeEntry t = at<TypeEntry>(kgd->type_table)[n];
  kmutex_give(kSelf);
  // The array sizes and the shared array stay as the caller had them.
  record->stat = t.stat;
  record->max = t.max;
  record->usiz = t.usiz;
  record->ksiz = t.ksiz;
  record->type_class = t.type_class;
  record->per_app = t.per_app;
  memcpy(record->name, t.name, sizeof record->name);
  return 0;
}

RK_API int rk_get_nprocs(void) { return kSlots; }

}  // extern "C"
