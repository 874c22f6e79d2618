// One kernel memory pool: a 64 KiB segment with a table of kPoolSlots u16
// slots at its base and kPoolUnits units of 16 bytes from kPoolFirstBlock,
// tiled by blocks. A block is one PoolBlockHeader and its payload. An
// allocated block's header holds the slot word of its handle and its slot
// holds the block's unit offset, so blocks can slide during compaction while
// their handles stay. Everything here runs under the database lock.
//
// The 12 reserved bytes of a header carry nothing: every header the pool
// makes is written whole with them zero, and they move with their block.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

inline uint16_t* pool_slots(const MemEntry& pool) { return at<uint16_t>(pool.base); }
inline PoolBlockHeader* pool_block(Addr block) { return at<PoolBlockHeader>(block); }
inline bool block_is_free(Addr block) { return pool_block(block)->slot_word == kPoolFree; }
inline Addr block_at(const MemEntry& pool, uint32_t unit) { return pool.first_block + unit * kPoolUnitBytes; }
inline uint16_t unit_of(const MemEntry& pool, Addr block) {
  return static_cast<uint16_t>((block - pool.first_block) / kPoolUnitBytes);
}
inline Addr block_payload(Addr block) { return block + sizeof(PoolBlockHeader); }
inline uint32_t block_capacity(Addr block) { return (pool_block(block)->size_units - 1u) * kPoolUnitBytes; }

// The block after `block` in address order, 0 after the last block. A
// header damaged by a payload overrun (size 0, or reaching past the last
// block) also ends the walk, so no walk loops or leaves the pool.
Addr next_block(const MemEntry& pool, Addr block);

// Makes the pool at `base` fresh: every slot free, one free block of all
// units, the next allocation taking slot 0 with generation 0.
void mem_format(MemEntry* pool, Addr base);

// Best fit from the first free block on: the smallest free block of at
// least `units`, the lowest one on a tie; an exact fit ends the search.
// 0 when there is none.
Addr mem_find_fit(const MemEntry& pool, uint16_t units);

// Splits `units` off the front of a free block large enough for them,
// allocates them under the pool's next slot and generation, zeroes the
// payload and returns the slot word of the new handle.
uint16_t mem_take(MemEntry* pool, Addr block, uint16_t units);

// Chooses the slot the next allocation takes: the first free slot from the
// current next slot on, circularly, and advances the generation. Leaves
// kPoolFree there when every slot is in use.
void mem_next_slot(MemEntry* pool);

// Frees an allocated block and its slot; merging is mem_merge's.
void mem_release(MemEntry* pool, Addr block);

// Joins the free block at `block` with the free blocks that follow it.
// Blocks in front are left alone: their own merges or compaction join them.
void mem_merge(MemEntry* pool, Addr block);

// Slides every allocated block down over the free space in front of it,
// keeping their order and updating their slots, until one free block at
// the end holds all free units.
void mem_compact(MemEntry* pool);

}  // namespace rk
