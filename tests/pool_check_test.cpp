// The consistency check of the kernel memory pools finds each kind of damage.
#include "storage/pool_check.h"

#include <cstring>
#include <functional>

#include "storage/kernel_memory.h"
#include "storage/memory_pool.h"
#include "support/test_rtdb.h"

namespace rk::test {
namespace {

// Pools are worked on directly here, as the database lock holder would.
class PoolCheckTest : public RtdbTest {
 protected:
  void SetUp() override {
    RtdbTest::SetUp();
    rtdb_ = attach_test_rtdb(1, 0, 2);
    ASSERT_NE(rtdb_.kgd, nullptr);
  }
  TestRtdb rtdb_;
};

TEST_F(PoolCheckTest, NoPoolsAndFreshPoolsAreSound) {
  EXPECT_EQ(pool_check(rtdb_.kgd), "");
  uint32_t h = 0;
  ASSERT_EQ(mem_alloc(rtdb_.kgd, 10, &h), 0);
  ASSERT_EQ(mem_free(rtdb_.kgd, h), 0);
  EXPECT_EQ(pool_check(rtdb_.kgd), "");
}

// Blocks A, B, C with B free and the free rest R behind C, then one kind of damage.
TEST_F(PoolCheckTest, EachKindOfDamageIsReported) {
  struct Layout {
    Kgd& kgd;
    SegEntry& seg;
    MemEntry& pool;
    uint16_t* slots;
    PoolBlockHeader &a, &b, &c, &r;
  };
  struct {
    const char* name;
    std::function<void(Layout&)> damage;
    const char* report;
  } cases[] = {
      {"more pools than the table holds", [](Layout& l) { l.kgd.nmems = l.kgd.maxmems + 1; }, "pools in a table"},
      {"segment keeps room for reservations", [](Layout& l) { l.seg.free = 10; }, "used 65536, free 10"},
      {"base is no segment", [](Layout& l) { l.pool.base += 0x10000; }, "is no segment"},
      {"first block moved", [](Layout& l) { l.pool.first_block += 16; }, "first block"},
      {"slot count", [](Layout& l) { l.pool.slots = 999; }, "slots 999"},
      {"generation between steps", [](Layout& l) { l.pool.generation += 1; }, "generation"},
      {"block of size 0", [](Layout& l) { l.c.size_units = 0; }, "size 0"},
      {"block runs past the pool", [](Layout& l) { l.r.size_units += 1; }, "past the pool"},
      {"reserved bytes set", [](Layout& l) { l.a.reserved[11] = 1; }, "reserved"},
      {"block names a slot above the table", [](Layout& l) { l.a.slot_word |= kSlotNumberMask; }, "slot 1023"},
      {"slot holds another unit", [](Layout& l) { l.slots[l.c.slot_word & kSlotNumberMask] = 3; }, "which holds 3"},
      {"stale slot in use", [](Layout& l) { l.slots[9] = 0; }, "3 slots in use for 2"},
      {"last block is not the last", [](Layout& l) { l.pool.last_block -= 16 * l.c.size_units; }, "last block"},
      {"block count", [](Layout& l) { l.pool.nfree = 1; }, "blocks"},
      {"unit count", [](Layout& l) { ++l.pool.used_units, --l.pool.free_units; }, "units"},
      {"first free block above a free block", [](Layout& l) { l.pool.first_free += 16 * 40; }, "first free"},
      {"next slot in use", [](Layout& l) { l.pool.next_slot = 0; }, "next slot 0"},
      {"no next slot while slots are free", [](Layout& l) { l.pool.next_slot = kPoolFree; }, "no next slot"},
  };
  Kgd& kgd = *rtdb_.kgd;
  uint32_t h[3];
  for (uint32_t& one : h) ASSERT_EQ(mem_alloc(&kgd, 600, &one), 0);
  ASSERT_EQ(mem_free(&kgd, h[1]), 0);
  MemEntry& pool = *mem_pool(&kgd, 0);
  const Addr blocks[] = {mem_block(&kgd, h[0]), pool.first_free, mem_block(&kgd, h[2]), pool.last_block};
  Layout l{kgd, *seg_entry(&kgd, 1), pool, pool_slots(pool), *pool_block(blocks[0]),
           *pool_block(blocks[1]), *pool_block(blocks[2]), *pool_block(blocks[3])};
  ASSERT_EQ(pool_check(&kgd), "");

  const Kgd kgd_before = kgd;
  const MemEntry pool_before = pool;
  const SegEntry seg_before = l.seg;
  uint8_t before[kPoolBytes];
  memcpy(before, at<uint8_t>(pool.base), kPoolBytes);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.damage(l);
    const std::string report = pool_check(&kgd);
    EXPECT_NE(report.find(c.report), std::string::npos) << report;
    pool = pool_before;
    memcpy(at<uint8_t>(pool.base), before, kPoolBytes);
    l.seg = seg_before;
    kgd.nmems = kgd_before.nmems;
  }
  EXPECT_EQ(pool_check(&kgd), "");
}

}  // namespace
}  // namespace rk::test
