#include "storage/memory_pool.h"

#include <algorithm>
#include <cstring>

#include "core/crash_point.h"
#include "core/intent_record.h"

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
    // The rest's header lies in free space until the split takes effect.
    const Addr rest = block + units * kPoolUnitBytes;
    write_free_header(rest, static_cast<uint16_t>(taken->size_units - units));
    RK_CRASH_POINT("pool.take.rest");
    RK_LOGGED(taken, size_units, units);
    RK_LOGGED(pool, nfree, pool->nfree + 1);
    if (pool->last_block == block) RK_LOGGED(pool, last_block, rest);
    RK_CRASH_POINT("pool.take.split");
  }
  const uint16_t word = pool->next_slot | pool->generation;
  RK_LOGGED(taken, slot_word, word);
  RK_CRASH_POINT("pool.take.header");
  logged_store(&pool_slots(*pool)[word & kSlotNumberMask], unit_of(*pool, block));
  RK_CRASH_POINT("pool.take.slot");
  memset(at<uint8_t>(block_payload(block)), 0, block_capacity(block));

  RK_LOGGED(pool, nused, pool->nused + 1);
  RK_LOGGED(pool, nfree, pool->nfree - 1);
  RK_LOGGED(pool, used_units, pool->used_units + units);
  RK_LOGGED(pool, free_units, pool->free_units - units);
  RK_CRASH_POINT("pool.take.counted");
  if (pool->nfree == 0) {
    RK_LOGGED(pool, first_free, 0);
  } else if (pool->first_free == block) {
    RK_LOGGED(pool, first_free, next_free_block(*pool, block));
  }
  mem_next_slot(pool);
  return word;
}

void mem_next_slot(MemEntry* pool) {
  if (pool->nused >= kPoolSlots) {
    RK_LOGGED(pool, next_slot, kPoolFree);
    return;
  }
  const uint16_t* slots = pool_slots(*pool);
  const uint16_t start = pool->next_slot < kPoolSlots ? pool->next_slot : 0;
  for (uint16_t i = 0; i < kPoolSlots; ++i) {
    const uint16_t s = static_cast<uint16_t>((start + i) % kPoolSlots);
    if (slots[s] == kPoolFree) {
      RK_LOGGED(pool, generation, pool->generation + kGenerationStep);
      RK_CRASH_POINT("pool.next_slot");
      RK_LOGGED(pool, next_slot, s);
      return;
    }
  }
  RK_LOGGED(pool, next_slot, kPoolFree);
}

void mem_release(MemEntry* pool, Addr block) {
  PoolBlockHeader* freed = pool_block(block);
  logged_store(&pool_slots(*pool)[freed->slot_word & kSlotNumberMask], kPoolFree);
  RK_CRASH_POINT("pool.release.slot");
  RK_LOGGED(freed, slot_word, kPoolFree);
  RK_CRASH_POINT("pool.release.header");
  if (pool->first_free == 0 || pool->first_free > block) RK_LOGGED(pool, first_free, block);
  RK_LOGGED(pool, nused, pool->nused - 1);
  RK_LOGGED(pool, nfree, pool->nfree + 1);
  RK_LOGGED(pool, used_units, pool->used_units - freed->size_units);
  RK_LOGGED(pool, free_units, pool->free_units + freed->size_units);
  RK_CRASH_POINT("pool.release.counted");
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
  RK_LOGGED(pool_block(block), size_units, units);
  RK_CRASH_POINT("pool.merge.size");
  RK_LOGGED(pool, nfree, pool->nfree - (count - 1));
  if (end == pool->last_block) RK_LOGGED(pool, last_block, block);
}

namespace {

// Slides the used block `next` down into the hole in front of it, header
// and all, and puts the hole behind it; returns where the hole is now. The
// copy is announced with what follows it (the block's slot, the hole's new
// header, the pool's first free and last block), so that a repair finishes
// the slide from where it stopped.
Addr slide_down(MemEntry* pool, Addr hole, Addr next) {
  const uint16_t hole_units = pool_block(hole)->size_units;
  const uint16_t moved_units = pool_block(next)->size_units;
  const uint16_t word = pool_block(next)->slot_word;
  const Addr moved_hole = hole + moved_units * kPoolUnitBytes;
  const PoolBlockHeader free_header{kPoolFree, hole_units, {}};
  uint32_t header_words[sizeof free_header / 4];
  memcpy(header_words, &free_header, sizeof free_header);

  IntentWord redo[kIntentRedo];
  uint16_t n = 0;
  redo[n++] = IntentWord{addr_of(&pool_slots(*pool)[word & kSlotNumberMask]), unit_of(*pool, hole), 2};
  for (uint32_t i = 0; i < sizeof free_header / 4; ++i) redo[n++] = IntentWord{moved_hole + 4 * i, header_words[i], 4};
  if (pool->first_free == hole) redo[n++] = IntentWord{addr_of(pool) + static_cast<Addr>(offsetof(MemEntry, first_free)), moved_hole, 4};
  if (pool->last_block == next) redo[n++] = IntentWord{addr_of(pool) + static_cast<Addr>(offsetof(MemEntry, last_block)), moved_hole, 4};
  intent_move_begin(at<void>(hole), at<void>(next), moved_units * kPoolUnitBytes, redo, n);
  RK_CRASH_POINT("pool.slide.begin");
  intent_move_run();
  RK_CRASH_POINT("pool.slide.done");
  return moved_hole;
}

}  // namespace

void mem_compact(MemEntry* pool) {
  if (pool->first_free == 0 || !block_is_free(pool->first_free)) return;
  // Each merge and each slide leaves the pool whole: what one of them did
  // is final once it is done, and nothing before them is undone with it.
  Addr hole = pool->first_free;
  while (hole < pool->last_block) {
    const Addr next = next_block(*pool, hole);
    if (next == 0) return;   // damaged: leave the pool as it is
    if (block_is_free(next)) {
      mem_merge(pool, hole);
    } else {
      hole = slide_down(pool, hole, next);
    }
    intent_settle();
  }
  RK_LOGGED(pool, nfree, 1);
  RK_LOGGED(pool, first_free, hole);
  RK_LOGGED(pool, last_block, hole);
}

}  // namespace rk
