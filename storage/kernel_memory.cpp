#include "storage/kernel_memory.h"

#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/crash_point.h"
#include "core/errors.h"
#include "core/intent_record.h"
#include "core/segments.h"
#include "storage/memory_pool.h"
#include "rk.h"

namespace rk {

namespace {

// Handles name pools by a u16 index.
constexpr uint32_t kMaxPools = 65536;

// Adds a pool at the end of the Kernel Memory Table; its index, or -1.
int32_t add_pool(Kgd* kgd) {
  if (kgd->mem_table == 0 || kgd->nmems >= kgd->maxmems || kgd->nmems >= kMaxPools) return -1;
  const Addr base = new_segment(kPoolBytes);
  if (base == 0) return -1;
  // Nothing of it is left for seg_reserve. Undone, the segment stays as
  // segment space, which seg_reserve hands out.
  SegEntry* seg = seg_entry(kgd, kgd->nsegs - 1);
  RK_CRASH_POINT("pool.add.segment");
  RK_LOGGED(seg, used, kPoolBytes);
  RK_LOGGED(seg, free, 0);
  // The pool's entry is not counted yet: nothing else reads it.
  const uint32_t index = kgd->nmems;
  mem_format(mem_pool(kgd, index), base);
  RK_CRASH_POINT("pool.add.formatted");
  RK_LOGGED(kgd, nmems, index + 1);
  return static_cast<int32_t>(index);
}

// The pool an allocation of `units` goes to: the first with enough free
// units and a free slot, else a new one. -1 when none can be added.
int32_t choose_pool(Kgd* kgd, uint16_t units) {
  for (uint32_t i = 0; i < kgd->nmems; ++i) {
    const MemEntry* pool = mem_pool(kgd, i);
    if (pool->free_units >= units && pool->next_slot != kPoolFree) return static_cast<int32_t>(i);
  }
  return add_pool(kgd);
}

}  // namespace

int mem_alloc(Kgd* kgd, uint32_t bytes, uint32_t* handle) {
  if (bytes > kMaxMemBytes) return kErrRange;
  const uint16_t units = mem_units(bytes);
  const int32_t index = choose_pool(kgd, units);
  if (index < 0) return kErrNoMemory;
  MemEntry* pool = mem_pool(kgd, static_cast<uint32_t>(index));
  Addr block = mem_find_fit(*pool, units);
  if (block == 0) {
    mem_compact(pool);
    block = mem_find_fit(*pool, units);
    if (block == 0) return kErrNoBlock;
  }
  *handle = mem_handle(static_cast<uint16_t>(index), mem_take(pool, block, units));
  return 0;
}

Addr mem_block(const Kgd* kgd, uint32_t handle, MemEntry** pool) {
  const uint16_t index = handle_pool(handle);
  const uint16_t word = handle_slot_word(handle);
  const uint16_t slot = word & kSlotNumberMask;
  if (kgd->mem_table == 0 || index >= kgd->nmems || slot >= kPoolSlots) return 0;
  MemEntry* p = mem_pool(kgd, index);
  // A free slot holds kPoolFree, which is no unit offset either.
  const uint16_t unit = pool_slots(*p)[slot];
  if (unit >= kPoolUnits) return 0;
  const Addr block = block_at(*p, unit);
  if (pool_block(block)->slot_word != word) return 0;
  if (pool != nullptr) *pool = p;
  return block;
}

int mem_access(const Kgd* kgd, uint32_t handle, Addr* payload, uint32_t* bytes) {
  const Addr block = mem_block(kgd, handle);
  if (block == 0) return kErrRange;
  if (payload != nullptr) *payload = block_payload(block);
  if (bytes != nullptr) *bytes = block_capacity(block);
  return 0;
}

int mem_free(Kgd* kgd, uint32_t handle) {
  MemEntry* pool = nullptr;
  const Addr block = mem_block(kgd, handle, &pool);
  if (block == 0) return kErrRange;
  mem_release(pool, block);
  mem_merge(pool, block);
  return 0;
}

namespace {

// Runs a kernel memory operation (0 or an error number) for a client under
// its database lock. An id that does not resolve, or a lock that fails,
// gives -1 with nothing stored by this call; the operation's own error is
// stored once the lock is given back; a failed release after a success
// gives -1 with the unlock's error.
template <typename Op>
int under_db_lock(rk_client_id id, Op op) {
  CptEntry* e = resolve_entry(resolve_app(id), id);
  if (e == nullptr || rk_lock(id) != 0) return -1;
  const int error = op(attachment().kgd);
  const int released = rk_unlock(id);
  if (error == 0) return released == 0 ? 0 : -1;
  e->errnum = static_cast<int16_t>(error);
  return -1;
}

}  // namespace

}  // namespace rk

using namespace rk;

extern "C" {

RK_API int rk_alloc_mem(rk_client_id id, uint32_t bytes, rk_mem_handle* handle) {
  uint32_t made = 0;
  const int r = under_db_lock(id, [&](Kgd* kgd) {
    if (bytes > kMaxMemBytes) return int{kErrRange};
    if (handle == nullptr) return int{kErrNullArg};
    Update update(kgd, kDataIntent);
    return mem_alloc(kgd, bytes, &made);
  });
  // Written as two u16, pool index first, only once the lock is given back.
  if (r == 0) {
    const uint16_t words[2] = {handle_pool(made), handle_slot_word(made)};
    memcpy(handle, words, sizeof words);
  }
  return r;
}

RK_API int rk_access_mem(rk_client_id id, rk_mem_handle handle, void** address, uint32_t* bytes) {
  Addr payload = 0;
  uint32_t capacity = 0;
  const int r = under_db_lock(id, [&](Kgd* kgd) { return mem_access(kgd, handle, &payload, &capacity); });
  if (r == 0) {
    if (address != nullptr) *address = at<void>(payload);
    if (bytes != nullptr) *bytes = capacity;
  }
  return r;
}

RK_API int rk_free_mem(rk_client_id id, rk_mem_handle handle) {
  return under_db_lock(id, [&](Kgd* kgd) {
    Update update(kgd, kDataIntent);
    return mem_free(kgd, handle);
  });
}

}  // extern "C"
