// Permanent reservations from the kgd segment's tail and from the extra
// segments that seg_reserve opens on demand.
#include "storage/segment_space.h"

#include "core/segments.h"
#include "support/kernel_test.h"
#include "support/test_frame.h"

namespace rk::test {
namespace {

class SegmentSpaceTest : public KernelTest {
 protected:
  // A frame whose kgd segment has `room` bytes left behind the table.
  Kgd* attach(uint32_t room, uint32_t maxextra, uint32_t maxsegs = 8) {
    frame_ = attach_test_frame(maxsegs, room);
    if (frame_.kgd != nullptr) frame_.kgd->maxextra = maxextra;
    return frame_.kgd;
  }

  void TearDown() override {
    detach_test_frame();
    KernelTest::TearDown();
  }

  TestFrame frame_;
};

enum Source { kKgdTail, kNewSegment, kNothing };

TEST_F(SegmentSpaceTest, ReserveTakesTheKgdTailOrOpensAnExtraSegment) {
  struct {
    const char* name;
    uint32_t room;          // left in the kgd segment
    uint32_t maxextra;
    uint32_t maxsegs;
    uint32_t bytes;
    Source source;
    uint32_t segment_size;  // of the extra segment opened
  } cases[] = {
      {"request fills the tail exactly", 1000, 0, 8, 1000, kKgdTail, 0},
      {"zero opens a segment although there is room", 1000, 1, 8, 0, kNewSegment, 65536},
      {"small request without room opens 64 KiB", 100, 1, 8, 101, kNewSegment, 65536},
      {"large request opens a segment of its own size", 100, 1, 8, 70000, kNewSegment, 70000},
      {"odd large request opens an even segment", 100, 1, 8, 70001, kNewSegment, 70002},
      {"no room and the extra limit reached", 100, 0, 8, 101, kNothing, 0},
      {"zero with the extra limit reached", 1000, 0, 8, 0, kNothing, 0},
      {"no room and the segment table full", 100, 5, 1, 101, kNothing, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Kgd* kgd = attach(c.room, c.maxextra, c.maxsegs);
    ASSERT_NE(kgd, nullptr);
    const SegEntry kgd_seg = *seg_entry(kgd, 0);

    const Addr got = seg_reserve(c.bytes);

    switch (c.source) {
      case kKgdTail:
        EXPECT_EQ(got, frame_.spare);
        EXPECT_EQ(val(seg_entry(kgd, 0)->used), kgd_seg.used + c.bytes);
        EXPECT_EQ(val(seg_entry(kgd, 0)->free), kgd_seg.free - c.bytes);
        EXPECT_EQ(val(kgd->nsegs), 1u);
        break;
      case kNewSegment: {
        ASSERT_EQ(val(kgd->nsegs), 2u);
        const SegEntry& seg = *seg_entry(kgd, 1);
        EXPECT_EQ(got, val(seg.base));
        EXPECT_EQ(val(seg.size), c.segment_size);
        EXPECT_EQ(val(seg.used), c.bytes);
        EXPECT_EQ(val(seg.free), c.segment_size - c.bytes);
        EXPECT_EQ(seg.flags, 0u);
        EXPECT_EQ(val(seg_entry(kgd, 0)->free), val(kgd_seg.free));
        break;
      }
      case kNothing:
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(val(kgd->nsegs), 1u);
        EXPECT_EQ(val(seg_entry(kgd, 0)->free), val(kgd_seg.free));
        EXPECT_EQ(objects_left().size(), 1u);
        break;
    }
    EXPECT_EQ(val(kgd->nextra), c.source == kNewSegment ? 1u : 0u);
    detach_test_frame();
  }
}

TEST_F(SegmentSpaceTest, FirstSegmentInTableOrderWithRoomIsUsed) {
  Kgd* kgd = attach(1000, 2);
  ASSERT_NE(kgd, nullptr);
  EXPECT_EQ(seg_reserve(600), frame_.spare);
  const Addr extra = seg_reserve(600);   // 400 left in the kgd segment
  ASSERT_EQ(val(kgd->nsegs), 2u);
  EXPECT_EQ(extra, val(seg_entry(kgd, 1)->base));
  // A memory pool keeps nothing free for reservations.
  ASSERT_NE(new_segment(kPoolBytes), 0u);
  seg_entry(kgd, 2)->used = kPoolBytes;
  seg_entry(kgd, 2)->free = 0;

  EXPECT_EQ(seg_reserve(400), frame_.spare + 600) << "the kgd segment comes first and fits exactly";
  EXPECT_EQ(seg_reserve(100), extra + 600);
  const Addr opened = seg_reserve(64837);   // the segment exists only after the call
  EXPECT_EQ(opened, val(seg_entry(kgd, 3)->base)) << "one byte more than the extra segment has";
  EXPECT_EQ(seg_reserve(1), extra + 700);
  EXPECT_EQ(val(kgd->nextra), 2u);
  EXPECT_EQ(val(seg_entry(kgd, 1)->free), 65536u - 701);
  EXPECT_EQ(seg_reserve(64836), 0u) << "no room and no extra segment left";
  EXPECT_EQ(val(kgd->nsegs), 4u);
}

TEST_F(SegmentSpaceTest, StringBufferIsRecordedOrClearedInTheDescriptor) {
  struct {
    const char* name;
    uint32_t room;
    uint32_t maxextra;
    uint16_t bytes;
    bool reserved;
  } cases[] = {
      {"buffer from the kgd segment", 1000, 0, 300, true},
      {"buffer from a new extra segment", 100, 1, 300, true},
      {"no room anywhere", 100, 0, 300, false},
      // A zero-byte buffer holds nothing; it must not cost an extra segment.
      {"zero bytes", 1000, 1, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Kgd* kgd = attach(c.room, c.maxextra);
    ASSERT_NE(kgd, nullptr);
    StringDesc desc{0x1234, 9, 5};

    const int result = seg_reserve_string(&desc, c.bytes);

    if (c.reserved) {
      EXPECT_EQ(result, 0);
      const SegEntry& seg = *seg_entry(kgd, kgd->nsegs - 1);
      EXPECT_EQ(desc.buffer, seg.base + seg.used - c.bytes);
      EXPECT_EQ(desc.size, c.bytes);
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(desc.buffer, 0u);
      EXPECT_EQ(desc.size, 0u);
      EXPECT_EQ(val(kgd->nsegs), 1u);
    }
    EXPECT_EQ(desc.length, 5u) << "the length is not the reservation's business";
    detach_test_frame();
  }
}

}  // namespace
}  // namespace rk::test
