#include "storage/pool_check.h"

#include <algorithm>

#include "core/check_text.h"
#include "storage/kernel_memory.h"
#include "storage/memory_pool.h"

namespace rk {

namespace {

struct Tally {
  uint32_t used_blocks = 0, free_blocks = 0, used_units = 0, free_units = 0;
  Addr lowest_free = 0;
  Addr last = 0;
};

// Only a pool that is a whole segment of the RTDB is read at all.
std::string check_segment(const Kgd* kgd, const MemEntry& pool) {
  for (uint32_t i = 0; i < kgd->nsegs; ++i) {
    const SegEntry& seg = *seg_entry(kgd, i);
    if (seg.base != pool.base) continue;
    if (seg.size != kPoolBytes || seg.used != kPoolBytes || seg.free != 0)
      return check_text("segment %u has size %u, used %u, free %u", i, seg.size, seg.used, seg.free);
    return "";
  }
  return check_text("base 0x%x is no segment", pool.base);
}

std::string check_fixed_fields(const MemEntry& pool) {
  if (pool.first_block != pool.base + kPoolFirstBlock) return check_text("first block 0x%x", pool.first_block);
  if (pool.unit_bytes != kPoolUnitBytes || pool.slots != kPoolSlots)
    return check_text("unit bytes %u, slots %u", pool.unit_bytes, pool.slots);
  if (pool.generation % kGenerationStep != 0) return check_text("generation %u", pool.generation);
  return "";
}

std::string check_block(const MemEntry& pool, uint32_t unit, Tally* t) {
  const Addr block = block_at(pool, unit);
  const PoolBlockHeader* h = pool_block(block);
  if (h->size_units == 0) return check_text("block at unit %u has size 0", unit);
  if (unit + h->size_units > kPoolUnits) return check_text("block at unit %u runs past the pool", unit);
  if (std::any_of(h->reserved, h->reserved + sizeof h->reserved, [](uint8_t c) { return c != 0; }))
    return check_text("block at unit %u has reserved bytes set", unit);
  t->last = block;
  if (h->slot_word == kPoolFree) {
    ++t->free_blocks;
    t->free_units += h->size_units;
    if (t->lowest_free == 0) t->lowest_free = block;
    return "";
  }
  const uint16_t slot = h->slot_word & kSlotNumberMask;
  if (slot >= kPoolSlots) return check_text("block at unit %u names slot %u", unit, slot);
  if (pool_slots(pool)[slot] != unit)
    return check_text("block at unit %u names slot %u, which holds %u", unit, slot, pool_slots(pool)[slot]);
  ++t->used_blocks;
  t->used_units += h->size_units;
  return "";
}

std::string check_tally(const MemEntry& pool, const Tally& t) {
  if (t.last != pool.last_block) return check_text("last block 0x%x, expected 0x%x", pool.last_block, t.last);
  if (pool.nused != t.used_blocks || pool.nfree != t.free_blocks)
    return check_text("counts %u used and %u free blocks, found %u and %u", pool.nused, pool.nfree, t.used_blocks,
                      t.free_blocks);
  if (pool.used_units != t.used_units || pool.free_units != t.free_units)
    return check_text("counts %u used and %u free units, found %u and %u", pool.used_units, pool.free_units,
                      t.used_units, t.free_units);
  if (pool.first_free != t.lowest_free)
    return check_text("first free block 0x%x, lowest free block 0x%x", pool.first_free, t.lowest_free);
  // Each allocated block owns the slot it names, so no more than kPoolSlots
  // blocks can pass; any further slot in use is stale.
  const uint16_t* slots = pool_slots(pool);
  const auto in_use = std::count_if(slots, slots + kPoolSlots, [](uint16_t s) { return s != kPoolFree; });
  if (static_cast<uint32_t>(in_use) != t.used_blocks)
    return check_text("%u slots in use for %u allocated blocks", static_cast<uint32_t>(in_use), t.used_blocks);
  if (pool.next_slot == kPoolFree) {
    if (t.used_blocks != kPoolSlots) return check_text("no next slot with %u blocks allocated", t.used_blocks);
  } else if (pool.next_slot >= kPoolSlots || slots[pool.next_slot] != kPoolFree) {
    return check_text("next slot %u is not a free slot", pool.next_slot);
  }
  return "";
}

std::string check_pool(const Kgd* kgd, const MemEntry& pool) {
  std::string fault = check_segment(kgd, pool);
  if (fault.empty()) fault = check_fixed_fields(pool);
  Tally t;
  for (uint32_t unit = 0; fault.empty() && unit < kPoolUnits; unit += pool_block(block_at(pool, unit))->size_units) {
    fault = check_block(pool, unit, &t);
  }
  return fault.empty() ? check_tally(pool, t) : fault;
}

}  // namespace

std::string pool_check(const Kgd* kgd) {
  if (kgd->nmems > kgd->maxmems) return check_text("%u pools in a table of %u", kgd->nmems, kgd->maxmems);
  for (uint32_t i = 0; i < kgd->nmems; ++i) {
    const std::string fault = check_pool(kgd, *mem_pool(kgd, i));
    if (!fault.empty()) return check_text("pool %u: ", i) + fault;
  }
  return "";
}

}  // namespace rk
