#include "storage/memory_pool.h"

#include <algorithm>
#include <cstring>

namespace rk {

namespace {

void write_free_header(Addr block, uint16_t units) { *pool_block(block) = PoolBlockHeader{kPoolFree, units, {}}; }

// The first free block above `block`, or 0.
Addr next_free_block(const MemEntry& pool, Addr block) {
  Addr b = next_block(pool, block);
  while (b != 0 && !block_is_free(b)) b = next_block(pool, b);
  return b;
}

}  // namespace

Addr next_block(const MemEntry& pool, Addr block) {
  const uint16_t units = pool_block(block)->size_units;
  if (block >= pool.last_block || units == 0) return 0;
  const Addr next = block + units * kPoolUnitBytes;
  return next <= pool.last_block ? next : 0;
}

void mem_format(MemEntry* pool, Addr base) {
  const Addr first = base + kPoolFirstBlock;
  *pool = MemEntry{base, first, first, first, kPoolUnitBytes, kPoolSlots, 0, 0, 0, 1, 0, kPoolUnits};
  std::fill_n(pool_slots(*pool), kPoolSlots, kPoolFree);
  write_free_header(first, kPoolUnits);
}

Addr mem_find_fit(const MemEntry& pool, uint16_t units) {
  Addr kept = 0;
  for (Addr b = pool.first_free; b != 0; b = next_block(pool, b)) {
    if (!block_is_free(b)) continue;
    const uint16_t size = pool_block(b)->size_units;
    if (size < units) continue;
    if (kept == 0 || size < pool_block(kept)->size_units) kept = b;
    if (size == units) break;
  }
  return kept;
}

uint16_t mem_take(MemEntry* pool, Addr block, uint16_t units) {
  PoolBlockHeader* taken = pool_block(block);
  if (taken->size_units > units) {
    const Addr rest = block + units * kPoolUnitBytes;
    write_free_header(rest, static_cast<uint16_t>(taken->size_units - units));
    taken->size_units = units;
    ++pool->nfree;
    if (pool->last_block == block) pool->last_block = rest;
  }
  const uint16_t word = pool->next_slot | pool->generation;
  taken->slot_word = word;
  pool_slots(*pool)[word & kSlotNumberMask] = unit_of(*pool, block);
  memset(at<uint8_t>(block_payload(block)), 0, block_capacity(block));

  ++pool->nused;
  --pool->nfree;
  pool->used_units += units;
  pool->free_units -= units;
  if (pool->nfree == 0) {
    pool->first_free = 0;
  } else if (pool->first_free == block) {
    pool->first_free = next_free_block(*pool, block);
  }
  mem_next_slot(pool);
  return word;
}

void mem_next_slot(MemEntry* pool) {
  if (pool->nused >= kPoolSlots) {
    pool->next_slot = kPoolFree;
    return;
  }
  const uint16_t* slots = pool_slots(*pool);
  const uint16_t start = pool->next_slot < kPoolSlots ? pool->next_slot : 0;
  for (uint16_t i = 0; i < kPoolSlots; ++i) {
    const uint16_t s = static_cast<uint16_t>((start + i) % kPoolSlots);
    if (slots[s] == kPoolFree) {
      pool->generation = static_cast<uint16_t>(pool->generation + kGenerationStep);
      pool->next_slot = s;
      return;
    }
  }
  pool->next_slot = kPoolFree;
}

void mem_release(MemEntry* pool, Addr block) {
  PoolBlockHeader* freed = pool_block(block);
  pool_slots(*pool)[freed->slot_word & kSlotNumberMask] = kPoolFree;
  freed->slot_word = kPoolFree;
  if (pool->first_free == 0 || pool->first_free > block) pool->first_free = block;
  --pool->nused;
  ++pool->nfree;
  pool->used_units -= freed->size_units;
  pool->free_units += freed->size_units;
  if (pool->next_slot == kPoolFree) mem_next_slot(pool);
}

void mem_merge(MemEntry* pool, Addr block) {
  uint16_t count = 0;
  uint16_t units = 0;
  Addr end = block;
  for (Addr b = block; b != 0 && block_is_free(b); b = next_block(*pool, b)) {
    ++count;
    units += pool_block(b)->size_units;
    end = b;
  }
  if (count < 2) return;
  pool_block(block)->size_units = units;
  pool->nfree -= count - 1;
  if (end == pool->last_block) pool->last_block = block;
}

void mem_compact(MemEntry* pool) {
  if (pool->first_free == 0 || !block_is_free(pool->first_free)) return;
  Addr hole = pool->first_free;
  while (hole < pool->last_block) {
    const Addr next = next_block(*pool, hole);
    if (next == 0) return;   // damaged: leave the pool as it is
    if (block_is_free(next)) {
      mem_merge(pool, hole);
      continue;
    }
    // The used block moves down, header and all; the hole moves up behind it.
    const uint16_t hole_units = pool_block(hole)->size_units;
    const uint16_t moved_units = pool_block(next)->size_units;
    memmove(at<uint8_t>(hole), at<uint8_t>(next), moved_units * kPoolUnitBytes);
    pool_slots(*pool)[pool_block(hole)->slot_word & kSlotNumberMask] = unit_of(*pool, hole);
    const Addr moved_hole = hole + moved_units * kPoolUnitBytes;
    write_free_header(moved_hole, hole_units);
    if (pool->first_free == hole) pool->first_free = moved_hole;
    if (pool->last_block == next) pool->last_block = moved_hole;
    hole = moved_hole;
  }
  pool->nfree = 1;
  pool->first_free = pool->last_block = hole;
}

}  // namespace rk
