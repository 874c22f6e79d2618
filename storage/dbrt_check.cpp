#include "storage/dbrt_check.h"

#include <algorithm>
#include <vector>

#include "core/check_text.h"
#include "storage/dbrt_blocks.h"

namespace rk {

namespace {

bool all_zero(Addr start, uint32_t bytes) {
  const uint8_t* p = at<uint8_t>(start);
  return std::all_of(p, p + bytes, [](uint8_t c) { return c == 0; });
}

// The blocks in address order, or a fault when they do not tile the segment.
std::string walk_blocks(const SegEntry& seg, std::vector<Addr>* blocks) {
  const uint64_t end = dbrt_seg_end(seg);
  Addr prev = 0;
  uint64_t b = dbrt_first_block(seg);
  while (b < end) {
    const Addr block = static_cast<Addr>(b);
    if (b + kDbrtBlockHeader > end) return check_text("block at 0x%x: header runs past the end", block);
    const DbrtBlockHeader* h = dbrt_block(block);
    if (h->owner != seg.base) return check_text("block at 0x%x: owner 0x%x is not the base", block, h->owner);
    if (h->prev_block != prev)
      return check_text("block at 0x%x: previous block 0x%x, expected 0x%x", block, h->prev_block, prev);
    if (dbrt_block_end(block) > end) return check_text("block at 0x%x: payload runs past the end", block);
    blocks->push_back(block);
    prev = block;
    b = dbrt_block_end(block);
  }
  return "";
}

// Marks the blocks on the free list, or gives the fault in the list.
std::string walk_free_list(const SegEntry& seg, const std::vector<Addr>& blocks,
                           std::vector<bool>* on_list) {
  Addr prev = 0;
  for (Addr f = dbrt_seg_header(seg)->free_head; f != 0; f = dbrt_block(f)->next_free) {
    const auto it = std::lower_bound(blocks.begin(), blocks.end(), f);
    if (it == blocks.end() || *it != f) return check_text("free list names 0x%x, which is no block", f);
    const size_t n = it - blocks.begin();
    if ((*on_list)[n]) return check_text("free list loops at 0x%x", f);
    (*on_list)[n] = true;
    const Addr back = dbrt_block(f)->prev_free;
    if (back != prev) return check_text("free block 0x%x: previous free link 0x%x, expected 0x%x", f, back, prev);
    prev = f;
  }
  return "";
}

std::string check_segment(const SegEntry& seg) {
  if (seg.size < kDbrtSegOverhead) return check_text("size %u is below the overhead", seg.size);
  if (seg.used != seg.size || seg.free != 0)
    return check_text("table entry has used %u and free %u of %u", seg.used, seg.free, seg.size);
  if (dbrt_seg_header(seg)->seg_entry != addr_of(&seg))
    return check_text("header names entry 0x%x, not 0x%x", dbrt_seg_header(seg)->seg_entry, addr_of(&seg));

  std::vector<Addr> blocks;
  std::string fault = walk_blocks(seg, &blocks);
  if (!fault.empty()) return fault;
  std::vector<bool> on_list(blocks.size());
  fault = walk_free_list(seg, blocks, &on_list);
  if (!fault.empty()) return fault;

  for (size_t n = 0; n < blocks.size(); ++n) {
    const DbrtBlockHeader* h = dbrt_block(blocks[n]);
    if (!on_list[n]) {
      if (h->prev_free != 0 || h->next_free != 0)
        return check_text("block at 0x%x is not on the free list but has free links", blocks[n]);
      continue;
    }
    if (!all_zero(blocks[n] + kDbrtBlockHeader, h->payload_bytes))
      return check_text("free block 0x%x: payload is not zero", blocks[n]);
    if (n > 0 && on_list[n - 1])
      return check_text("free blocks 0x%x and 0x%x are neighbours", blocks[n - 1], blocks[n]);
  }
  return "";
}

}  // namespace

std::string dbrt_check(const Kgd* kgd) {
  for (uint32_t i = 0; i < kgd->nsegs; ++i) {
    const SegEntry& seg = *seg_entry(kgd, i);
    if (!is_dbrt(seg)) continue;
    const std::string fault = check_segment(seg);
    if (!fault.empty()) return check_text("segment %u: ", i) + fault;
  }
  return "";
}

}  // namespace rk
