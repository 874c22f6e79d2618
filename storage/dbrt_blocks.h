// Walking a dbrt segment: a DbrtSegHeader at the base, then blocks that tile
// the rest of the segment, each a DbrtBlockHeader followed by its payload.
// A block is free when it is on its segment's free list.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

constexpr uint32_t kDbrtBlockHeader = sizeof(DbrtBlockHeader);

inline bool is_dbrt(const SegEntry& seg) { return (seg.flags & kSegDbrt) != 0; }

inline DbrtSegHeader* dbrt_seg_header(const SegEntry& seg) { return at<DbrtSegHeader>(seg.base); }
inline DbrtBlockHeader* dbrt_block(Addr block) { return at<DbrtBlockHeader>(block); }
inline Addr dbrt_first_block(const SegEntry& seg) { return seg.base + sizeof(DbrtSegHeader); }

// One past the segment's last byte; 64 bits so that sums with it cannot wrap.
inline uint64_t dbrt_seg_end(const SegEntry& seg) { return uint64_t{seg.base} + seg.size; }

// Where the block after `block` starts if there is one (64 bits: a damaged
// payload count must not wrap around).
inline uint64_t dbrt_block_end(Addr block) {
  return uint64_t{block} + kDbrtBlockHeader + dbrt_block(block)->payload_bytes;
}

// The block after `block` in address order, or 0 for the last one.
inline Addr dbrt_next_block(const SegEntry& seg, Addr block) {
  const uint64_t next = dbrt_block_end(block);
  return next < dbrt_seg_end(seg) ? static_cast<Addr>(next) : 0;
}

inline bool dbrt_is_free(const SegEntry& seg, Addr block) {
  const DbrtBlockHeader* b = dbrt_block(block);
  return b->owner != 0 &&
         (b->prev_free != 0 || b->next_free != 0 || dbrt_seg_header(seg)->free_head == block);
}

}  // namespace rk
