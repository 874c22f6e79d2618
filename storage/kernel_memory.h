// Kernel memory: the RTDB's shared heap of movable blocks, reached through
// handles. The heap is the pools of the Kernel Memory Table, added on demand
// and never removed. These run under the caller's database lock, on the
// attached RTDB's kgd; rk_alloc_mem, rk_access_mem and rk_free_mem wrap them
// for clients.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// A handle: pool index in the low half, slot word in the high half.
constexpr uint32_t mem_handle(uint16_t pool, uint16_t slot_word) { return pool | uint32_t{slot_word} << 16; }
constexpr uint16_t handle_pool(uint32_t handle) { return static_cast<uint16_t>(handle); }
constexpr uint16_t handle_slot_word(uint32_t handle) { return static_cast<uint16_t>(handle >> 16); }

// Units a block for `bytes` takes, its header included (bytes <= kMaxMemBytes).
constexpr uint16_t mem_units(uint32_t bytes) { return static_cast<uint16_t>((bytes + 15) / kPoolUnitBytes + 1); }

inline MemEntry* mem_pool(const Kgd* kgd, uint32_t index) { return at<MemEntry>(kgd->mem_table) + index; }

// Allocates a zeroed block of at least `bytes` and stores its handle.
// The first pool with enough free units and a free slot is the only one
// tried, compacted if no single free block fits; a new pool is added when
// none qualifies. 0, or kErrRange (more than kMaxMemBytes), kErrNoMemory
// (no pool can be added) or kErrNoBlock.
int mem_alloc(Kgd* kgd, uint32_t bytes, uint32_t* handle);

// The allocated block a handle names, with its pool; 0 when the handle names
// none (pool or slot out of range, free slot, or another generation).
Addr mem_block(const Kgd* kgd, uint32_t handle, MemEntry** pool = nullptr);

// The payload address and capacity in bytes of the block a handle names;
// either pointer may be null. 0, or kErrRange for a handle naming no block.
// The address holds until the next allocation in the same pool.
int mem_access(const Kgd* kgd, uint32_t handle, Addr* payload, uint32_t* bytes);

// Frees the block a handle names, merged with the free blocks after it.
// 0, or kErrRange for a handle naming no block.
int mem_free(Kgd* kgd, uint32_t handle);

}  // namespace rk
