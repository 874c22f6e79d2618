// Kernel memory: sizes and handles, pools added on demand, compaction that
// keeps every handle, forward merging, refusals, and blocks reached from
// another process. Every test ends with the pool check.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "core/errors.h"
#include "rk.h"
#include "storage/kernel_memory.h"
#include "storage/memory_pool.h"
#include "storage/pool_check.h"
#include "support/memory_pattern.h"
#include "support/test_rtdb.h"

namespace rk::test {
namespace {

constexpr rk_client_id kMe = 0x0000;
constexpr uint32_t kPools = 3;

// Bytes of a block of `units` units, header included.
constexpr uint32_t bytes_for(uint32_t units) { return (units - 1) * kPoolUnitBytes; }

class KernelMemoryTest : public RtdbTest {
 protected:
  void SetUp() override {
    RtdbTest::SetUp();
    rtdb_ = attach_test_rtdb(1, 0, kPools);
    ASSERT_NE(rtdb_.kgd, nullptr);
    me_ = &rtdb_.live(kMe, static_cast<uint32_t>(getpid()));
  }
  void TearDown() override {
    if (rtdb_.kgd != nullptr) {
      EXPECT_EQ(pool_check(rtdb_.kgd), "");
      EXPECT_EQ(val(rtdb_.kgd->lock_holder), 0u) << "every call gives the database lock back";
    }
    RtdbTest::TearDown();
  }

  rk_mem_handle alloc(uint32_t bytes) {
    rk_mem_handle h = 0xDEADBEEF;
    EXPECT_EQ(rk_alloc_mem(kMe, bytes, &h), 0) << "error " << me_->errnum;
    return h;
  }
  // The payload of a block, or null.
  void* payload(rk_mem_handle h, uint32_t* bytes = nullptr) {
    void* p = nullptr;
    return rk_access_mem(kMe, h, &p, bytes) == 0 ? p : nullptr;
  }
  // The header of a block, found through the records.
  PoolBlockHeader& header(rk_mem_handle h) { return *pool_block(mem_block(rtdb_.kgd, h)); }
  MemEntry& pool(uint32_t i) { return *mem_pool(rtdb_.kgd, i); }
  // The error number stored by a call that gave -1, or 1000 + its result.
  int fails_with(int rc) { return rc == -1 ? me_->errnum : 1000 + rc; }

  TestRtdb rtdb_;
  CptEntry* me_ = nullptr;
};

TEST_F(KernelMemoryTest, BlocksAreWholeUnitsAndComeZeroed) {
  struct {
    uint32_t bytes, capacity;
  } cases[] = {{0, 0}, {1, 16}, {16, 16}, {17, 32}, {1000, 1008}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const rk_mem_handle h = alloc(c.bytes);
    uint32_t capacity = 99;
    void* p = payload(h, &capacity);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(capacity, c.capacity);
    EXPECT_EQ(header(h).size_units, c.capacity / kPoolUnitBytes + 1);
    EXPECT_EQ(handle_pool(h), 0);
  }
  EXPECT_EQ(pool(0).used_units + pool(0).free_units, kPoolUnits);

  // A block freed dirty is handed out again zeroed.
  const rk_mem_handle dirty = alloc(100);
  void* place = payload(dirty);
  memset(place, 0xA5, 112);
  ASSERT_EQ(rk_free_mem(kMe, dirty), 0);
  const rk_mem_handle again = alloc(100);
  ASSERT_EQ(payload(again), place);
  const uint8_t zero[112] = {};
  EXPECT_EQ(memcmp(place, zero, sizeof zero), 0);
}

TEST_F(KernelMemoryTest, LargestRequestTakesAWholeEmptyPool) {
  alloc(0);   // pool 0 is partly used now
  const rk_mem_handle whole = alloc(kMaxMemBytes);
  EXPECT_EQ(handle_pool(whole), 1);
  EXPECT_EQ(header(whole).size_units, kPoolUnits);
  EXPECT_EQ(pool(1).free_units, 0);
  EXPECT_EQ(val(pool(1).first_free), 0u);
  uint32_t capacity = 0;
  EXPECT_NE(payload(whole, &capacity), nullptr);
  EXPECT_EQ(capacity, kMaxMemBytes);

  // Too large is checked first, before the handle pointer; the handle is
  // written only on success.
  rk_mem_handle h = 77;
  EXPECT_EQ(fails_with(rk_alloc_mem(kMe, kMaxMemBytes + 1, &h)), kErrRange);
  EXPECT_EQ(fails_with(rk_alloc_mem(kMe, 0xFFFFFFFF, nullptr)), kErrRange);
  EXPECT_EQ(fails_with(rk_alloc_mem(kMe, 8, nullptr)), kErrNullArg);
  EXPECT_EQ(h, 77u);
  EXPECT_EQ(val(rtdb_.kgd->nmems), 2u);
}

TEST_F(KernelMemoryTest, HandlesCarryPoolSlotAndGeneration) {
  const rk_mem_handle first = alloc(10);
  const rk_mem_handle second = alloc(10);
  const rk_mem_handle third = alloc(10);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(handle_slot_word(second), 1025);
  EXPECT_EQ(handle_slot_word(third), 2050);
  EXPECT_EQ(header(third).slot_word, 2050);
  EXPECT_EQ(pool_slots(pool(0))[2], 4) << "unit offset of the third block";

  // A freed handle names nothing, however often it is tried.
  ASSERT_EQ(rk_free_mem(kMe, first), 0);
  EXPECT_EQ(fails_with(rk_access_mem(kMe, first, nullptr, nullptr)), kErrRange);
  EXPECT_EQ(fails_with(rk_free_mem(kMe, first)), kErrRange);
  EXPECT_EQ(fails_with(rk_free_mem(kMe, first)), kErrRange);
  EXPECT_NE(payload(second), nullptr) << "its neighbour is untouched";
}

TEST_F(KernelMemoryTest, HandlesThatNameNoBlockFailWith7) {
  const rk_mem_handle live = alloc(40);
  const rk_mem_handle freed = alloc(40);
  ASSERT_EQ(rk_free_mem(kMe, freed), 0);
  const MemEntry before = pool(0);
  struct {
    const char* what;
    rk_mem_handle handle;
  } cases[] = {
      {"pool index beyond the pools", mem_handle(1, handle_slot_word(live))},
      {"pool index beyond the table", mem_handle(0xFFFF, 0)},
      {"slot number 1000", mem_handle(0, 1000)},
      {"slot number 1023", mem_handle(0, 0xFFFF)},
      {"free slot never used", mem_handle(0, 7 | 7 * kGenerationStep)},
      {"freed block", freed},
      {"live slot, other generation", live ^ (uint32_t{kGenerationStep} << 16)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    me_->errnum = 0;
    void* p = &me_;
    uint32_t bytes = 5;
    EXPECT_EQ(fails_with(rk_access_mem(kMe, c.handle, &p, &bytes)), kErrRange);
    EXPECT_EQ(p, &me_);
    EXPECT_EQ(bytes, 5u);
    me_->errnum = 0;
    EXPECT_EQ(fails_with(rk_free_mem(kMe, c.handle)), kErrRange);
  }
  EXPECT_EQ(memcmp(&before, &pool(0), sizeof before), 0) << "refusals change no pool";
  EXPECT_EQ(rk_access_mem(kMe, live, nullptr, nullptr), 0) << "both outputs are optional";
}

TEST_F(KernelMemoryTest, CallersAreResolvedAndServedUnderTheirLock) {
  rk_mem_handle h = 5;
  // An id that names no live client gets -1 and no error number anywhere.
  me_->errnum = 0;
  EXPECT_EQ(rk_alloc_mem(0x0003, 10, &h), -1);
  EXPECT_EQ(rk_access_mem(0x0100, 0, nullptr, nullptr), -1);
  EXPECT_EQ(rk_free_mem(0x001F, 0), -1);
  EXPECT_EQ(me_->errnum, 0);
  EXPECT_EQ(h, 5u);
  EXPECT_EQ(val(rtdb_.kgd->nmems), 0u);

  // A caller that holds the lock keeps it; the calls only nest in it.
  ASSERT_EQ(rk_lock(kMe), 0);
  h = alloc(10);
  EXPECT_NE(payload(h), nullptr);
  EXPECT_EQ(me_->lock, 1);
  EXPECT_EQ(val(rtdb_.kgd->lock_holder), addr_of(me_));
  EXPECT_EQ(rk_free_mem(kMe, h), 0);
  ASSERT_EQ(rk_unlock(kMe), 0);

  // A lock that is refused fails the call with the lock's own error.
  me_->wait_state = 2;
  EXPECT_EQ(fails_with(rk_alloc_mem(kMe, 10, &h)), kErrLockQueued);
  me_->wait_state = 0;
}

TEST_F(KernelMemoryTest, AThousandBlocksFillAPoolsSlots) {
  std::vector<rk_mem_handle> handles;
  for (int i = 0; i < kPoolSlots; ++i) handles.push_back(alloc(0));
  EXPECT_EQ(pool(0).next_slot, kPoolFree);
  EXPECT_EQ(pool(0).free_units, kPoolUnits - kPoolSlots) << "room is left, but no slot";
  EXPECT_EQ(pool_check(rtdb_.kgd), "");

  const rk_mem_handle elsewhere = alloc(0);
  EXPECT_EQ(handle_pool(elsewhere), 1);

  // A free slot makes the pool the first choice again, under a new generation.
  const rk_mem_handle stale = handles[5];
  ASSERT_EQ(rk_free_mem(kMe, stale), 0);
  EXPECT_EQ(pool(0).next_slot, 5);
  const rk_mem_handle reused = alloc(0);
  EXPECT_EQ(handle_pool(reused), 0);
  EXPECT_EQ(handle_slot_word(reused) & kSlotNumberMask, 5);
  EXPECT_NE(reused, stale);
  EXPECT_EQ(fails_with(rk_access_mem(kMe, stale, nullptr, nullptr)), kErrRange);
  EXPECT_EQ(handle_pool(alloc(0)), 1) << "pool 0 is out of slots again";
}

TEST_F(KernelMemoryTest, PoolsEndWithTheTableOrTheSegmentTable) {
  struct {
    const char* what;
    std::function<void(Kgd*)> limit;
  } cases[] = {
      {"pool limit", [](Kgd* k) { k->maxmems = k->nmems; }},
      {"segment table full", [](Kgd* k) { k->maxsegs = k->nsegs; }},
  };
  alloc(kMaxMemBytes);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Kgd saved = *rtdb_.kgd;
    c.limit(rtdb_.kgd);
    rk_mem_handle h = 3;
    EXPECT_EQ(fails_with(rk_alloc_mem(kMe, 0, &h)), kErrNoMemory);
    EXPECT_EQ(h, 3u);
    EXPECT_EQ(val(rtdb_.kgd->nmems), 1u);
    EXPECT_EQ(val(rtdb_.kgd->nsegs), 2u);
    rtdb_.kgd->maxmems = saved.maxmems;
    rtdb_.kgd->maxsegs = saved.maxsegs;
  }
  EXPECT_EQ(handle_pool(alloc(0)), 1);
  const SegEntry& seg = *seg_entry(rtdb_.kgd, 2);
  EXPECT_EQ(val(seg.base), val(pool(1).base));
  EXPECT_EQ(seg.used, kPoolBytes) << "nothing of a pool is left for seg_reserve";
  EXPECT_EQ(seg.free, 0u);
}

// Frees in the given order of three neighbouring blocks A, B, C with the
// rest of the pool free behind them.
TEST_F(KernelMemoryTest, FreeingMergesForwardOnly) {
  struct {
    const char* order;
    uint16_t free_blocks;
  } cases[] = {{"CBA", 1}, {"ABC", 3}, {"BAC", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.order);
    rk_mem_handle block[3];
    for (uint32_t i = 0; i < 3; ++i) {
      block[i] = alloc(100);
      fill_pattern(payload(block[i]), 112, 1000 * i);
    }
    for (const char* b = c.order; *b != '\0'; ++b) ASSERT_EQ(rk_free_mem(kMe, block[*b - 'A']), 0);
    EXPECT_EQ(pool(0).nfree, c.free_blocks);
    EXPECT_EQ(val(pool(0).first_free), val(pool(0).first_block));
    EXPECT_EQ(pool_check(rtdb_.kgd), "");

    // The whole pool is one block again, compacted if need be, and zero.
    const rk_mem_handle whole = alloc(kMaxMemBytes);
    ASSERT_EQ(handle_pool(whole), 0);
    const std::vector<uint8_t> zero(kMaxMemBytes);
    EXPECT_EQ(memcmp(payload(whole), zero.data(), kMaxMemBytes), 0);
    ASSERT_EQ(rk_free_mem(kMe, whole), 0);
  }
}

// Free blocks of 300, 100, 200 and 100 units lie apart, with the free rest
// of the pool behind them.
TEST_F(KernelMemoryTest, EachRequestTakesTheSmallestFittingFreeBlockLowestFirst) {
  rk_mem_handle hole[4];
  const uint32_t sizes[4] = {300, 100, 200, 100};
  for (uint32_t i = 0; i < 4; ++i) {
    hole[i] = alloc(bytes_for(sizes[i]));
    alloc(0);
  }
  std::vector<void*> place;
  for (rk_mem_handle h : hole) {
    place.push_back(payload(h));
    ASSERT_EQ(rk_free_mem(kMe, h), 0);
  }
  // Where each request lands: a hole and the units in front of it there,
  // or none. The two 50-unit rests tie for 40 units; 60 fits no hole.
  struct {
    uint32_t units;
    int hole;
    uint32_t after;
  } requests[] = {{100, 1, 0}, {100, 3, 0}, {150, 2, 0}, {250, 0, 0}, {40, 0, 250}, {40, 2, 150}, {60, -1, 0}};
  for (const auto& r : requests) {
    SCOPED_TRACE(r.units);
    uint8_t* p = static_cast<uint8_t*>(payload(alloc(bytes_for(r.units))));
    if (r.hole >= 0) {
      EXPECT_EQ(p, static_cast<uint8_t*>(place[r.hole]) + r.after * kPoolUnitBytes);
    } else {
      EXPECT_GT(p, place[3]);
    }
  }
  EXPECT_EQ(pool_check(rtdb_.kgd), "");
}

// Blocks fill pool 0 to its last unit; freeing some leaves more free units
// than any one free block has, with free neighbours that never merged.
TEST_F(KernelMemoryTest, CompactionMakesRoomAndEveryHandleKeepsItsContents) {
  std::vector<uint32_t> bytes(kPoolUnits / 100 + 1, bytes_for(100));
  bytes.back() = bytes_for(kPoolUnits % 100);
  std::vector<rk_mem_handle> handles;
  std::vector<void*> before;
  for (uint32_t i = 0; i < bytes.size(); ++i) {
    handles.push_back(alloc(bytes[i]));
    before.push_back(payload(handles.back()));
    fill_pattern(before.back(), bytes[i], 7919 * i);
  }
  ASSERT_EQ(val(rtdb_.kgd->nmems), 1u);
  ASSERT_EQ(pool(0).free_units, 0);
  const std::vector<uint32_t> freed = {1, 2, 5, 9, 10, 11, 20, 37, 38};
  for (uint32_t i : freed) ASSERT_EQ(rk_free_mem(kMe, handles[i]), 0);
  const uint16_t free_units = pool(0).free_units;
  ASSERT_EQ(free_units, 9 * 100);
  // 1 and 2, 9 to 11, and 37 and 38 stay apart.
  ASSERT_EQ(pool(0).nfree, 9);

  const rk_mem_handle big = alloc(bytes_for(500));
  EXPECT_EQ(handle_pool(big), 0);
  EXPECT_EQ(pool(0).free_units, free_units - 500);
  EXPECT_EQ(pool(0).nfree, 1);
  EXPECT_EQ(pool_check(rtdb_.kgd), "");

  int moved = 0;
  for (uint32_t i = 0; i < handles.size(); ++i) {
    if (std::find(freed.begin(), freed.end(), i) != freed.end()) continue;
    SCOPED_TRACE(i);
    void* now = payload(handles[i]);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(pattern_errors(now, bytes[i], 7919 * i), 0u);
    moved += now != before[i];
  }
  EXPECT_GT(moved, 0);
  const std::vector<uint8_t> zero(bytes_for(500));
  EXPECT_EQ(memcmp(payload(big), zero.data(), zero.size()), 0) << "the new block lies over moved data";
}

// The pool is a segment of its own at the same address in every process:
// one process allocates, another reaches the block through its handle.
TEST_F(KernelMemoryTest, AnotherProcessReachesABlockThroughItsHandle) {
  Client other;
  other.ok("rtdbopen " + std::to_string(rtdb_.kgd->index));
  rtdb_.live(0x0001, static_cast<uint32_t>(other.pid()));

  // Its block is in the pool it created; this process maps the pool when
  // granted the lock.
  const rk_mem_handle theirs = other.ok("memalloc 1 300");
  EXPECT_EQ(other.call("memfill 1 " + std::to_string(theirs) + " 41"), "ok 0");
  uint32_t capacity = 0;
  void* p = payload(theirs, &capacity);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(other.call("memaccess 1 " + std::to_string(theirs)),
            "ok " + std::to_string(addr_of(p)) + " " + std::to_string(capacity));
  EXPECT_EQ(pattern_errors(p, capacity, 41), 0u);

  // And the other way round, with a block that moved in compaction.
  const rk_mem_handle gap = alloc(bytes_for(3000));
  const rk_mem_handle ours = alloc(bytes_for(600));
  fill_pattern(payload(ours), bytes_for(600), 43);
  ASSERT_EQ(rk_free_mem(kMe, gap), 0);
  EXPECT_EQ(other.call("memalloc 1 " + std::to_string(bytes_for(3300))), "ok " + std::to_string(mem_handle(0, 3075)));
  EXPECT_EQ(other.call("memcheck 1 " + std::to_string(ours) + " 43"), "ok 0");
  EXPECT_EQ(other.call("memfree 1 " + std::to_string(ours)), "ok");
  EXPECT_EQ(fails_with(rk_access_mem(kMe, ours, nullptr, nullptr)), kErrRange);
  other.send("exit 0");
  EXPECT_EQ(other.wait_exit(), 0);
}

TEST_F(KernelMemoryTest, ASegmentAddedThroughAnotherProcesssUseOfAnIdIsMappedByTheIdsOwner) {
  Client owner;
  owner.ok("rtdbopen " + std::to_string(rtdb_.kgd->index));
  rtdb_.live(0x0001, static_cast<uint32_t>(owner.pid()));
  EXPECT_EQ(owner.call("dblock 1"), "ok");
  EXPECT_EQ(owner.call("dbunlock 1"), "ok");
  // This process uses the owner's id: its grant and its new pool leave the
  // entry saying that every segment is mapped, which holds here, not there.
  const uint32_t segments = rtdb_.kgd->nsegs;
  ASSERT_EQ(rk_lock(0x0001), 0);
  rk_mem_handle h = 0;
  ASSERT_EQ(rk_alloc_mem(0x0001, 200, &h), 0);
  ASSERT_EQ(rk_unlock(0x0001), 0);
  ASSERT_GT(val(rtdb_.kgd->nsegs), segments) << "no pool segment was added";
  ASSERT_EQ(rk_lock(0x0001), 0);
  ASSERT_EQ(rk_unlock(0x0001), 0);
  EXPECT_EQ(val(rtdb_.apps[0].cpt[1].nmap), val(rtdb_.kgd->nsegs));
  fill_pattern(payload(h), 208, 47);
  // The owner maps the new segment at its next grant all the same.
  EXPECT_EQ(owner.call("memcheck 1 " + std::to_string(h) + " 47"), "ok 0");
  owner.send("exit 0");
  EXPECT_EQ(owner.wait_exit(), 0);
}

}  // namespace
}  // namespace rk::test
