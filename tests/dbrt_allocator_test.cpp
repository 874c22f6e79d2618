// The block allocator of dbrt segments: segment formatting and limits, best
// fit with whole and split blocks, coalescing on free, moving arrays on
// growth, and refusing addresses that are not its blocks. dbrt_check runs
// after every allocator call (see DbrtTest).
#include "storage/dbrt_allocator.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "core/errors.h"
#include "core/segments.h"
#include "storage/dbrt_check.h"
#include "support/dbrt_test.h"

namespace rk::test {
namespace {

using FreeList = std::vector<std::pair<Addr, uint32_t>>;

class DbrtAllocatorTest : public DbrtTest {};

TEST_F(DbrtAllocatorTest, NewSegmentIsSizedAndHoldsOneFreeBlock) {
  struct {
    const char* name;
    bool other_segment;   // a segment besides the kgd exists already
    uint32_t bytes;
    uint32_t size;
  } cases[] = {
      {"first segment is sized exactly", false, 1000, 1028},
      {"first segment for nothing", false, 0, 28},
      {"odd request rounds up to even", false, 101, 130},
      {"later segment has the least size", true, 0, 2048000},
      {"later segment that just fills the least size", true, 2047972, 2048000},
      {"later segment above the least size", true, 2047973, 2048002},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_frame();
    if (c.other_segment) {
      ASSERT_NE(new_segment(1000), 0u);
    }
    const uint32_t n = kgd_->nsegs;

    SegEntry* seg = add_segment(c.bytes);

    ASSERT_EQ(val(kgd_->nsegs), n + 1);
    ASSERT_EQ(seg, seg_entry(kgd_, n));
    EXPECT_EQ(val(kgd_->ndbrt), 1u);
    EXPECT_EQ(val(seg->size), c.size);
    EXPECT_EQ(seg->flags, kSegDbrt);
    EXPECT_EQ(val(seg->used), c.size);
    EXPECT_EQ(val(seg->free), 0u);
    const DbrtSegHeader* head = at<DbrtSegHeader>(seg->base);
    EXPECT_EQ(head->seg_entry, addr_of(seg));
    EXPECT_EQ(head->free_head, seg->base + 8);
    const DbrtBlockHeader* block = at<DbrtBlockHeader>(seg->base + 8);
    EXPECT_EQ(val(block->owner), val(seg->base));
    EXPECT_EQ(block->prev_block, 0u);
    EXPECT_EQ(block->prev_free, 0u);
    EXPECT_EQ(block->next_free, 0u);
    EXPECT_EQ(block->payload_bytes, c.size - 28);
  }
}

TEST_F(DbrtAllocatorTest, SegmentThatCannotBeAddedChangesNothing) {
  struct {
    const char* name;
    uint32_t ndbrt;
    bool table_full;
    uint32_t bytes;
    bool foreign_kgd = false;   // a copy of the kgd, not the attached one
  } cases[] = {
      {"dbrt limit reached", kMaxDbrtSegs, false, 100},
      {"segment table full", 0, true, 100},
      {"size would wrap", 0, false, 0xFFFFFFE4},
      {"largest request", 0, false, 0xFFFFFFFF},
      {"no address range for it", 0, false, 0xF0000000},
      {"kgd of no attached RTDB", 0, false, 100, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_frame();
    ASSERT_NE(new_segment(1000), 0u);
    kgd_->ndbrt = c.ndbrt;
    if (c.table_full) kgd_->maxsegs = kgd_->nsegs;
    Kgd* kgd = kgd_;
    if (c.foreign_kgd) kgd = static_cast<Kgd*>(memcpy(at<Kgd>(frame_.spare), kgd_, sizeof(Kgd)));
    const std::string before = snapshot();

    EXPECT_EQ(dbrt_add_segment(kgd, c.bytes), nullptr);

    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(objects_left().size(), 2u);
  }
}

TEST_F(DbrtAllocatorTest, FourHundredthSegmentIsTheLast) {
  kgd_->ndbrt = kMaxDbrtSegs - 2;
  EXPECT_NE(add_segment(100), nullptr);
  EXPECT_NE(add_segment(100), nullptr);
  EXPECT_EQ(val(kgd_->ndbrt), kMaxDbrtSegs);
  EXPECT_EQ(add_segment(100), nullptr);
  EXPECT_EQ(val(kgd_->nsegs), 3u);
}

// One free block of 100 bytes between allocated ones, and one request.
TEST_F(DbrtAllocatorTest, FreeBlockQualifiesWithRoomForAHeaderBeyondTheRequest) {
  constexpr uint32_t kFree = 100;
  struct {
    const char* name;
    uint32_t bytes;
    bool used;
    uint32_t rest;   // payload of the free block split off, 0 for none
  } cases[] = {
      {"request equal to the payload", 100, false, 0},
      {"payload 19 bytes above the request", 81, false, 0},
      {"payload exactly 20 above: taken whole", 80, true, 0},
      {"payload 21 above: split", 79, true, 1},
      {"nothing requested: split", 0, true, 80},
      {"request that would wrap past the header", 0xFFFFFFEC, false, 0},
      {"largest request", 0xFFFFFFFF, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_frame();
    const std::vector<Addr> blocks = carve({40, kFree, 40, 40});
    ASSERT_EQ(blocks.size(), 4u);
    release(blocks[1]);

    const Addr got = alloc(c.bytes);

    if (!c.used) {
      EXPECT_EQ(got, 0u);
      EXPECT_EQ(free_list(1), (FreeList{{blocks[1], kFree}}));
      continue;
    }
    EXPECT_EQ(got, blocks[1]);
    EXPECT_EQ(header(got).payload_bytes, c.rest == 0 ? kFree : c.bytes);
    EXPECT_EQ(header(got).prev_free, 0u);
    EXPECT_EQ(header(got).next_free, 0u);
    const FreeList rest = c.rest == 0 ? FreeList{} : FreeList{{got + c.bytes + 20, c.rest}};
    EXPECT_EQ(free_list(1), rest);
  }
}

TEST_F(DbrtAllocatorTest, SmallestQualifyingBlockWinsAndTiesGoToTheFirstMet) {
  const std::vector<Addr> b = carve({40, 300, 40, 100, 40, 200, 40, 100, 40, 40});
  ASSERT_EQ(b.size(), 10u);
  for (int i : {1, 3, 5, 7}) release(b[i]);
  // Freed blocks join at the head: the list runs 7, 5, 3, 1.
  ASSERT_EQ(free_list(1), (FreeList{{b[7], 100}, {b[5], 200}, {b[3], 100}, {b[1], 300}}));

  EXPECT_EQ(alloc(80), b[7]);
  EXPECT_EQ(alloc(80), b[3]);
  EXPECT_EQ(alloc(80), b[5]) << "200 is the smaller of what is left";
  EXPECT_EQ(alloc(80), b[5] + 100) << "the 100 split off the 200 is an exact fit";
  EXPECT_EQ(alloc(80), b[1]);
  EXPECT_EQ(alloc(181), 0u) << "the 200 left of the 300 needs 20 to spare";
  EXPECT_EQ(free_list(1), (FreeList{{b[1] + 100, 200}}));
}

TEST_F(DbrtAllocatorTest, TieAcrossSegmentsGoesToTheLowerSegmentAndOthersAreSkipped) {
  const std::vector<Addr> low = carve({40, 100, 40, 40});
  // A segment of another kind whose memory looks like a free list with a
  // better fit: it must not be taken for a dbrt segment.
  const Addr other = new_segment(4096);
  ASSERT_NE(other, 0u);
  *at<DbrtSegHeader>(other) = DbrtSegHeader{0, other + 8};
  *at<DbrtBlockHeader>(other + 8) = DbrtBlockHeader{other, 0, 0, 0, 90};
  const std::vector<Addr> high = carve({40, 100, 40});
  ASSERT_EQ(low.size(), 4u);
  ASSERT_EQ(high.size(), 3u);
  release(high[1]);
  release(low[1]);

  EXPECT_EQ(alloc(70), low[1]) << "the fit in the lower segment, though freed last";
  EXPECT_EQ(alloc(80), high[1]);
  EXPECT_EQ(alloc(70), 0u);
}

// Blocks A, B, C, D with payloads 60, 80, 100, 40, all written to; the
// freed ones merge into one free block of zeros.
TEST_F(DbrtAllocatorTest, FreedBlocksMergeWithFreeNeighbours) {
  struct Merged {
    int block;
    uint32_t payload;
  };
  struct {
    const char* name;
    std::vector<int> frees;
    std::vector<Merged> list;   // head first
  } cases[] = {
      {"between allocated blocks", {1}, {{1, 80}}},
      {"into the free block before", {0, 1}, {{0, 160}}},
      {"taking in the free block after", {2, 1}, {{1, 200}}},
      {"between two free blocks", {0, 2, 1}, {{0, 280}}},
      {"between two free blocks, freed the other way round", {2, 0, 1}, {{0, 280}}},
      {"last block, with no successor", {2, 3}, {{2, 160}}},
      {"first and last stay apart", {0, 3}, {{3, 40}, {0, 60}}},
      {"all of them", {0, 2, 3, 1}, {{0, 340}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_frame();
    const std::vector<Addr> blocks = carve({60, 80, 100, 40});
    ASSERT_EQ(blocks.size(), 4u);
    for (Addr b : blocks) fill(b, 0xA5);

    for (int i : c.frees) release(blocks[i]);

    FreeList expected;
    for (const Merged& m : c.list) {
      expected.emplace_back(blocks[m.block], m.payload);
      EXPECT_TRUE(all_zero(blocks[m.block], m.payload)) << m.block;
    }
    EXPECT_EQ(free_list(1), expected);
  }
}

TEST_F(DbrtAllocatorTest, FreeIgnoresWhatIsNotAnAllocatedBlock) {
  const std::vector<Addr> blocks = carve({60, 80, 100, 40, 40});
  ASSERT_EQ(blocks.size(), 5u);
  for (Addr b : blocks) fill(b, 0xA5);
  release(blocks[1]);
  release(blocks[0]);   // takes B in: B's header is gone
  const SegEntry& seg = *seg_entry(kgd_, 1);
  // A header inside C's payload that names the segment but not its place.
  *at<DbrtBlockHeader>(blocks[2]) = DbrtBlockHeader{seg.base, blocks[0] - 20, 0, 0, 10};

  struct {
    const char* name;
    Addr payload;
    uint32_t* damaged = nullptr;   // a header field overwritten for the case
    uint32_t value = 0;
  } cases[] = {
      {"null", 0},
      {"below a header's size", 4},
      {"unmapped address", 0x1000},
      {"highest address", 0xFFFFFFFF},
      {"memory of the kgd segment", frame_.spare + 64},
      {"a free block", blocks[0]},
      {"a block merged into its neighbour", blocks[1]},
      {"inside a payload", blocks[2] + 2},
      {"a header forged inside a payload", blocks[2] + 20},
      {"over the segment header", seg.base + 20},
      {"the end of the segment", seg.base + seg.size},
      {"a block whose owner is overwritten", blocks[3], &header(blocks[3]).owner, seg.base + 8},
      {"a block that lost its back link", blocks[3], &header(blocks[3]).prev_block, 0},
      {"a block its successor does not link back to", blocks[3], &header(blocks[4]).prev_block,
       blocks[2] - 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t kept = c.damaged != nullptr ? *c.damaged : 0;
    if (c.damaged != nullptr) *c.damaged = c.value;
    const std::string before = snapshot();
    dbrt_free(kgd_, c.payload);
    EXPECT_EQ(snapshot(), before);
    if (c.damaged != nullptr) *c.damaged = kept;
  }
  memset(at<uint8_t>(blocks[2]), 0, 20);
  for (int i : {2, 3, 4}) release(blocks[i]);
  EXPECT_EQ(free_list(1), (FreeList{{blocks[0], 400}})) << "the real blocks are still freed";
}

TEST_F(DbrtAllocatorTest, GrowPlacesAnEmptySlotAndKeepsALargeEnoughBlock) {
  ASSERT_NE(add_segment(1000), nullptr);
  Addr* slot = at<Addr>(frame_.spare);
  ASSERT_EQ(grow(100, slot), 0);
  const Addr array = *slot;
  ASSERT_NE(array, 0u);
  EXPECT_EQ(header(array).payload_bytes, 100u);
  EXPECT_TRUE(all_zero(array, 100));

  fill(array, 0x3C);
  const std::string before = snapshot();
  for (uint32_t bytes : {100u, 50u, 0u}) {
    EXPECT_EQ(grow(bytes, slot), 0);
    EXPECT_EQ(snapshot(), before) << bytes;
  }
  EXPECT_EQ(*slot, array);
}

TEST_F(DbrtAllocatorTest, GrowMovesTheWholeOldPayloadAndZeroesTheRest) {
  ASSERT_NE(add_segment(120), nullptr);
  Addr* slot = at<Addr>(frame_.spare);
  ASSERT_EQ(grow(100, slot), 0);
  const Addr old = *slot;
  ASSERT_EQ(header(old).payload_bytes, 120u) << "taken whole, with 20 bytes beyond the request";
  for (uint32_t i = 0; i < 120; ++i) at<uint8_t>(old)[i] = static_cast<uint8_t>(i + 1);
  ASSERT_NE(add_segment(0), nullptr);

  ASSERT_EQ(grow(500, slot), 0);

  const Addr moved = *slot;
  EXPECT_GT(moved, seg_entry(kgd_, 2)->base);
  for (uint32_t i = 0; i < 120; ++i) ASSERT_EQ(at<uint8_t>(moved)[i], i + 1) << i;
  EXPECT_TRUE(all_zero(moved + 120, 380));
  EXPECT_EQ(free_list(1), (FreeList{{old, 120}}));
}

TEST_F(DbrtAllocatorTest, GrowThatFailsChangesNothing) {
  ASSERT_NE(add_segment(200), nullptr);
  Addr* slots = at<Addr>(frame_.spare);
  ASSERT_EQ(grow(100, &slots[0]), 0);
  fill(slots[0], 0x5A);
  ASSERT_EQ(grow(20, &slots[1]), 0);
  const Addr freed = slots[1];
  release(freed);
  slots[1] = 0;
  slots[2] = freed;             // a stale address
  slots[3] = frame_.spare + 64;  // not an array at all

  struct {
    const char* name;
    int slot;
    uint32_t bytes;
  } cases[] = {
      {"no block large enough for the move", 0, 500},
      {"no block for an empty slot", 1, 500},
      {"slot names a freed block", 2, 10},
      {"slot names no block", 3, 10},
  };
  const std::string before = snapshot();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(grow(c.bytes, &slots[c.slot]), kErrNoMemory);
    EXPECT_EQ(snapshot(), before);
  }
  EXPECT_EQ(dbrt_grow(kgd_, 10, nullptr), kErrNoMemory);
  EXPECT_EQ(slots[1], 0u);
  EXPECT_EQ(slots[2], freed);
  EXPECT_EQ(slots[3], frame_.spare + 64);
}

// A long mixed run of placements, moves and frees over one segment: every
// array keeps its contents, and freeing everything restores one free block.
TEST_F(DbrtAllocatorTest, ManyOperationsKeepEveryArrayIntact) {
  constexpr uint32_t kSegmentPayload = 64000;
  ASSERT_NE(add_segment(kSegmentPayload), nullptr);
  struct Array {
    Addr* slot;
    uint32_t bytes;   // asked for; this many bytes hold the array's mark
  };
  std::vector<Array> arrays;
  Addr* next_slot = at<Addr>(frame_.spare);
  std::mt19937 rng(7);
  // Never 0, so that a mark cannot pass for zeroed memory.
  auto mark = [](const Array& a) { return static_cast<uint8_t>((addr_of(a.slot) >> 2) % 255 + 1); };
  auto intact = [&](const Array& a) {
    const uint8_t* p = at<uint8_t>(*a.slot);
    return std::all_of(p, p + a.bytes, [&](uint8_t c) { return c == mark(a); });
  };

  for (int step = 0; step < 3000 && !HasFailure(); ++step) {
    const uint32_t op = rng() % 3;
    const uint32_t bytes = rng() % 3000;
    if (op == 0 || arrays.empty()) {
      Array a{next_slot++, bytes};
      *a.slot = 0;
      if (grow(bytes, a.slot) != 0) continue;
      EXPECT_TRUE(all_zero(*a.slot, bytes));
      memset(at<uint8_t>(*a.slot), mark(a), bytes);
      arrays.push_back(a);
    } else {
      const size_t i = rng() % arrays.size();
      Array& a = arrays[i];
      if (op == 1) {
        const uint32_t larger = a.bytes + bytes;
        if (grow(larger, a.slot) != 0) continue;
        EXPECT_TRUE(intact(a));
        EXPECT_TRUE(all_zero(*a.slot + a.bytes, larger - a.bytes));
        memset(at<uint8_t>(*a.slot), mark(a), larger);
        a.bytes = larger;
      } else {
        release(*a.slot);
        arrays.erase(arrays.begin() + i);
      }
    }
    for (const Array& a : arrays) ASSERT_TRUE(intact(a)) << "step " << step;
  }
  for (const Array& a : arrays) release(*a.slot);
  EXPECT_EQ(free_list(1), (FreeList{{seg_entry(kgd_, 1)->base + 28, kSegmentPayload}}));
}

}  // namespace
}  // namespace rk::test
