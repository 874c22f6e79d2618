#include "storage/dbrt_allocator.h"

#include <algorithm>
#include <cstring>

#include "core/attachment.h"
#include "core/crash_point.h"
#include "core/errors.h"
#include "core/intent_record.h"
#include "core/segments.h"
#include "storage/dbrt_blocks.h"

namespace rk {

namespace {

// Takes `block` off its segment's free list. A nonzero `substitute`, which
// already carries block's free links, takes its place on the list.
void take_off_free_list(const SegEntry& seg, Addr block, Addr substitute) {
  const DbrtBlockHeader* b = dbrt_block(block);
  const Addr prev = b->prev_free;
  const Addr next = b->next_free;
  if (prev != 0) RK_LOGGED(dbrt_block(prev), next_free, substitute != 0 ? substitute : next);
  if (next != 0) RK_LOGGED(dbrt_block(next), prev_free, substitute != 0 ? substitute : prev);
  DbrtSegHeader* header = dbrt_seg_header(seg);
  if (header->free_head == block) RK_LOGGED(header, free_head, substitute != 0 ? substitute : next);
}

void push_free(const SegEntry& seg, Addr block) {
  DbrtSegHeader* header = dbrt_seg_header(seg);
  DbrtBlockHeader* b = dbrt_block(block);
  RK_LOGGED(b, prev_free, 0);
  RK_LOGGED(b, next_free, header->free_head);
  if (header->free_head != 0) RK_LOGGED(dbrt_block(header->free_head), prev_free, block);
  RK_LOGGED(header, free_head, block);
}

// True when a whole block header fits at `block` inside the segment's blocks.
bool header_fits(const SegEntry& seg, Addr block) {
  return block >= dbrt_first_block(seg) && uint64_t{block} + kDbrtBlockHeader <= dbrt_seg_end(seg);
}

// The segment in which `payload` belongs to an allocated block, or null.
// Memory is read only inside dbrt segments, and the block must agree with
// both its neighbours, so a stray or stale address cannot pass for a block.
const SegEntry* allocated_block_segment(const Kgd* kgd, Addr payload) {
  if (payload < kDbrtBlockHeader) return nullptr;
  const Addr block = payload - kDbrtBlockHeader;
  for (uint32_t i = 0; i < kgd->nsegs; ++i) {
    const SegEntry& seg = *seg_entry(kgd, i);
    if (!is_dbrt(seg) || !header_fits(seg, block)) continue;
    const DbrtBlockHeader* b = dbrt_block(block);
    if (b->owner != seg.base || dbrt_block_end(block) > dbrt_seg_end(seg)) return nullptr;
    if (b->prev_block == 0) {
      if (block != dbrt_first_block(seg)) return nullptr;
    } else if (!header_fits(seg, b->prev_block) || b->prev_block >= block ||
               dbrt_block_end(b->prev_block) != block) {
      return nullptr;
    }
    const Addr next = dbrt_next_block(seg, block);
    if (next != 0 && (!header_fits(seg, next) || dbrt_block(next)->prev_block != block)) return nullptr;
    return dbrt_is_free(seg, block) ? nullptr : &seg;
  }
  return nullptr;
}

}  // namespace

Addr dbrt_alloc(Kgd* kgd, uint32_t bytes) {
  // Room for the request and the header of the block split off behind it.
  if (bytes > UINT32_MAX - kDbrtBlockHeader) return 0;
  const uint32_t need = bytes + kDbrtBlockHeader;
  const SegEntry* best_seg = nullptr;
  Addr best = 0;
  for (uint32_t i = 0; i < kgd->nsegs; ++i) {
    const SegEntry& seg = *seg_entry(kgd, i);
    if (!is_dbrt(seg)) continue;
    for (Addr b = dbrt_seg_header(seg)->free_head; b != 0; b = dbrt_block(b)->next_free) {
      const uint32_t payload = dbrt_block(b)->payload_bytes;
      if (payload >= need && (best == 0 || payload < dbrt_block(best)->payload_bytes)) {
        best = b;
        best_seg = &seg;
      }
    }
  }
  if (best == 0) return 0;

  DbrtBlockHeader* taken = dbrt_block(best);
  if (taken->payload_bytes == need) {
    take_off_free_list(*best_seg, best, 0);
  } else {
    // The rest stays free as a block of its own, in the taken block's place
    // on the free list. Its payload lies in zeroed memory already.
    // Its header lies in the free payload, which must be zero again if
    // the split is undone.
    const Addr rest = best + need;
    const Addr after = dbrt_next_block(*best_seg, best);
    const DbrtBlockHeader rest_header{best_seg->base, best, taken->prev_free, taken->next_free,
                                      taken->payload_bytes - need};
    logged_copy(dbrt_block(rest), &rest_header, sizeof rest_header);
    RK_CRASH_POINT("dbrt.alloc.rest");
    if (after != 0) RK_LOGGED(dbrt_block(after), prev_block, rest);
    take_off_free_list(*best_seg, best, rest);
    RK_LOGGED(taken, payload_bytes, bytes);
  }
  RK_LOGGED(taken, prev_free, 0);
  RK_LOGGED(taken, next_free, 0);
  return best + kDbrtBlockHeader;
}

void dbrt_free(Kgd* kgd, Addr payload) {
  const SegEntry* seg = allocated_block_segment(kgd, payload);
  if (seg == nullptr) return;
  const Addr block = payload - kDbrtBlockHeader;
  DbrtBlockHeader* freed = dbrt_block(block);
  const Addr next = dbrt_next_block(*seg, block);
  // Free payloads are always zero, so that allocation hands out zeroed memory.
  memset(at<uint8_t>(payload), 0, freed->payload_bytes);

  RK_CRASH_POINT("dbrt.free.zeroed");
  static const DbrtBlockHeader kZeroHeader{};
  Addr merged = block;
  if (freed->prev_block != 0 && dbrt_is_free(*seg, freed->prev_block)) {
    merged = freed->prev_block;
    RK_LOGGED(dbrt_block(merged), payload_bytes, dbrt_block(merged)->payload_bytes + kDbrtBlockHeader +
                                                     freed->payload_bytes);
    logged_copy(freed, &kZeroHeader, kDbrtBlockHeader);
    if (next != 0) RK_LOGGED(dbrt_block(next), prev_block, merged);
  }
  if (next != 0 && dbrt_is_free(*seg, next)) {
    DbrtBlockHeader* absorbed = dbrt_block(next);
    const Addr after = dbrt_next_block(*seg, next);
    take_off_free_list(*seg, next, 0);
    RK_CRASH_POINT("dbrt.free.unlisted");
    RK_LOGGED(dbrt_block(merged), payload_bytes, dbrt_block(merged)->payload_bytes + kDbrtBlockHeader +
                                                     absorbed->payload_bytes);
    if (after != 0) RK_LOGGED(dbrt_block(after), prev_block, merged);
    logged_copy(absorbed, &kZeroHeader, kDbrtBlockHeader);
  }
  // A block merged into its free predecessor is on the list already.
  if (merged == block) push_free(*seg, block);
}

namespace {

// The first half of a grow: the array copied into a new block, whose
// address goes to *slot; the old block is left to the caller. *old is
// the block to free, 0 when the array did not move.
int grow_unfreed(Kgd* kgd, uint32_t bytes, Addr* slot, Addr* old_out) {
  *old_out = 0;
  if (slot == nullptr) return kErrNoMemory;
  const Addr old = *slot;
  uint32_t old_bytes = 0;
  if (old != 0) {
    if (allocated_block_segment(kgd, old) == nullptr) return kErrNoMemory;
    old_bytes = dbrt_block(old - kDbrtBlockHeader)->payload_bytes;
    if (old_bytes >= bytes) return 0;
  }
  const Addr fresh = dbrt_alloc(kgd, bytes);
  if (fresh == 0) return kErrNoMemory;
  // The whole old payload, which may be more than was asked for it. The
  // new block was free space, which is zero again if the grow is undone.
  if (old != 0) {
    intent_zero_on_undo(at<uint8_t>(fresh), old_bytes);
    memcpy(at<uint8_t>(fresh), at<uint8_t>(old), old_bytes);
  }
  *slot = fresh;
  *old_out = old;
  return 0;
}

}  // namespace

int dbrt_grow(Kgd* kgd, uint32_t bytes, Addr* slot) {
  Addr old = 0;
  const int r = grow_unfreed(kgd, bytes, slot, &old);
  if (r == 0 && old != 0) dbrt_free(kgd, old);
  return r;
}

int dbrt_grow_field(Kgd* kgd, uint32_t bytes, Addr* field) {
  Addr array = 0;
  Addr old = 0;
  {
    // The new block and the field that names it change together: undone,
    // the field names the old array, which is still whole.
    Update update(kgd, kMutexIntent);
    memcpy(&array, field, sizeof array);
    if (const int r = grow_unfreed(kgd, bytes, &array, &old); r != 0) return r;
    RK_CRASH_POINT("dbrt.grow.copied");
    logged_store(field, array);
  }
  RK_CRASH_POINT("dbrt.grow.moved");
  if (old != 0) {
    // Nothing names the old block any more. Undone, it stays allocated
    // and named by nothing: a dead grow can cost a block, never an array.
    Update update(kgd, kMutexIntent);
    dbrt_free(kgd, old);
  }
  return 0;
}

SegEntry* dbrt_add_segment(Kgd* kgd, uint32_t bytes) {
  // new_segment records the segment in the attached RTDB's table.
  if (kgd == nullptr || kgd != attachment().kgd) return nullptr;
  if (bytes > UINT32_MAX - kDbrtSegOverhead) return nullptr;
  // Undone, the segment is not counted; the next segment made takes its
  // number and is made anew.
  Update update(kgd, kMutexIntent);
  uint32_t size = bytes + kDbrtSegOverhead;
  if (kgd->nsegs > 1) size = std::max(size, kDbrtSegBytes);
  if (kgd->ndbrt >= kgd->maxdbrt) return nullptr;
  const Addr base = new_segment(size);
  if (base == 0) return nullptr;

  // The segment's blocks are laid out before anything counts it.
  SegEntry* seg = seg_entry(kgd, kgd->nsegs - 1);
  const Addr first = dbrt_first_block(*seg);
  *dbrt_seg_header(*seg) = DbrtSegHeader{addr_of(seg), first};
  // Sized from the entry, not the request: an odd size was rounded up to
  // even, and the block must end where the segment does.
  *dbrt_block(first) = DbrtBlockHeader{base, 0, 0, 0, seg->size - kDbrtSegOverhead};
  RK_CRASH_POINT("dbrt.segment.laid");
  RK_LOGGED(seg, flags, seg->flags | kSegDbrt);
  // Nothing of it is left for seg_reserve.
  RK_LOGGED(seg, used, seg->size);
  RK_LOGGED(seg, free, 0);
  RK_LOGGED(kgd, ndbrt, kgd->ndbrt + 1);
  return seg;
}

}  // namespace rk
