// A client killed at every crash point of the updates of shared data: in
// kernel memory (allocation, a new pool, compaction, release), in a
// mailbox (a message put, a message taken), in a value wider than a store
// and in a string, and a second process killed while it repairs what the
// first left. Whoever takes the database lock next finds every structure
// sound, the data of the living whole, each value the old or the new one,
// every acknowledged message there once and in order, nothing leaked.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "rk.h"
#include "storage/kernel_memory.h"
#include "support/plant_run.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

enum class Scenario { kNewPool, kAlloc, kCompact, kFree, kPut, kTake, kWide, kString, kNewString, kRepair, kList, kAttr, kAdjust, kWord8, kRegister, kRegisterLocked };

struct CrashCase {
  const char* point;
  int pass;
  Scenario scenario;
};

std::string case_name(const testing::TestParamInfo<CrashCase>& info) {
  std::string name = std::string(info.param.point) + "_" + std::to_string(info.param.pass) + "_" +
                     std::to_string(static_cast<int>(info.param.scenario));
  for (char& c : name) {
    if (c == '.') c = '_';
  }
  return name;
}

constexpr int kWideBytes = 64;
constexpr uint16_t kSurvivor = 0;   // "B", slot 0
constexpr uint16_t kVictim = 1;     // "A", slot 1
constexpr uint16_t kRepairer = 2;   // "C", slot 2

// The RTDB "Crash": one instance of OPS, started by this process. Types:
// 0 WIDE (plain, 64 bytes), 1 MBX (mailbox), 2 TEXT (string).
class CrashRtdbTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    rk_kusr ops = kusr("OPS", 1);
    rk_type_entry types[] = {type_entry("WIDE", 0, 4, kWideBytes), type_entry("MBX", 3, 2, 22),
                             type_entry("TEXT", 2, 4, 8), type_entry("WORD8", 0, 2, 8)};
    ASSERT_GE(rk_create_rtdb("", "", "Crash", &ops, 1, types, 4, 4, 4, 0), 0);
    ASSERT_EQ(rk_init_app("Crash", "OPS", "A", app_template().data()), 0);
    setenv("RKNAME", "Crash", 1);
    setenv("RKDOMAIN", "OPS", 1);
    setenv("RKUSER", "A", 1);
    survivor_ = std::make_unique<Client>();
    ASSERT_EQ(bounded_call(*survivor_, "procinit B"), "ok 0");
  }
  void TearDown() override {
    for (auto* c : {&survivor_, &victim_, &repairer_}) c->reset();
    rk_exit_trap();
    rk_unmap_kgd();
    for (const char* v : {"RKNAME", "RKDOMAIN", "RKUSER"}) unsetenv(v);
    KernelTest::TearDown();
  }

  std::string b(const std::string& command) { return bounded_call(*survivor_, command); }

  // A client registered in `slot` as `task` that dies at the crash point
  // while it runs `command`.
  void dies_at(std::unique_ptr<Client>& process, const char* task, uint16_t slot, const std::string& point,
               int pass, const std::string& command) {
    setenv("RK_CRASH_AT", (point + ":" + std::to_string(pass)).c_str(), 1);
    process = std::make_unique<Client>();
    unsetenv("RK_CRASH_AT");
    ASSERT_EQ(bounded_call(*process, std::string("procinit ") + task), "ok " + std::to_string(slot));
    ASSERT_EQ(bounded_call(*process, command), "eof") << point << " was not passed";
    EXPECT_EQ(process->wait_signal(), SIGKILL);
  }

  // The survivor takes the lock over from the dead and checks every shared
  // structure while it holds it.
  void structures_sound() { EXPECT_EQ(b("shmcheck 0"), "ok"); }

  uint32_t blocks_in_pool(uint32_t pool) const { return mem_pool(attachment().kgd, pool)->nused; }

  // Allocates a block of the survivor's and fills it with the pattern of `seed`.
  uint32_t filled_block(uint32_t bytes, uint32_t seed) {
    const uint32_t h = survivor_->ok("memalloc 0 " + std::to_string(bytes));
    EXPECT_EQ(b("memfill 0 " + std::to_string(h) + " " + std::to_string(seed)), "ok 0");
    return h;
  }
  void block_intact(uint32_t handle, uint32_t seed) {
    EXPECT_EQ(b("memcheck 0 " + std::to_string(handle) + " " + std::to_string(seed)), "ok 0") << handle;
  }

  std::unique_ptr<Client> survivor_, victim_, repairer_;
};

// The lock held by a forked child under its parent's id goes on when the
// child is killed, while the parent lives; the parent's id works on.
TEST_F(CrashRtdbTest, AForkedChildKilledHoldingItsParentsLockReleasesIt) {
  victim_ = std::make_unique<Client>();
  ASSERT_EQ(bounded_call(*victim_, "procinit A"), "ok 1");
  const std::string r = bounded_call(*victim_, "forklock 1");
  ASSERT_EQ(r.rfind("ok ", 0), 0u) << r;
  const pid_t child = static_cast<pid_t>(std::stol(r.substr(3)));
  ASSERT_EQ(kill(child, SIGKILL), 0);
  EXPECT_EQ(bounded_call(*survivor_, "dblock 0"), "ok") << "the dead child's lock is stranded";
  EXPECT_EQ(b("dbunlock 0"), "ok");
  EXPECT_EQ(bounded_call(*victim_, "dblock 1"), "ok");
  EXPECT_EQ(bounded_call(*victim_, "dbunlock 1"), "ok");
  structures_sound();
}

class CrashPointTest : public CrashRtdbTest, public testing::WithParamInterface<CrashCase> {
 protected:
  void victim_dies(const std::string& command) {
    dies_at(victim_, "A", kVictim, GetParam().point, GetParam().pass, command);
  }
};

TEST_P(CrashPointTest, WhoeverTakesOverFindsEverythingWhole) {
  switch (GetParam().scenario) {
    case Scenario::kNewPool: {
      victim_dies("memalloc 1 100");
      structures_sound();
      // The pool that was being added is not counted; its segment is
      // segment space again, and the next allocation adds a pool anew.
      EXPECT_EQ(val(attachment().kgd->nmems), 0u);
      const uint32_t h = filled_block(100, 7);
      block_intact(h, 7);
      EXPECT_EQ(val(attachment().kgd->nmems), 1u);
      structures_sound();
      break;
    }
    case Scenario::kAlloc: {
      const uint32_t h[] = {filled_block(1000, 100), filled_block(1000, 200), filled_block(1000, 300)};
      victim_dies("memalloc 1 200");
      structures_sound();
      EXPECT_EQ(blocks_in_pool(0), 3u) << "the dead allocation is undone";
      for (uint32_t i = 0; i < 3; ++i) block_intact(h[i], 100 * (i + 1));
      filled_block(200, 9);
      break;
    }
    case Scenario::kCompact: {
      // Holes of 64 and 626 units in front of used blocks, the largest free
      // block smaller than the victim's request: the allocation compacts.
      std::vector<uint32_t> h;
      const uint32_t sizes[] = {10000, 1000, 10000, 10000, 10000, 10000};
      for (uint32_t i = 0; i < 6; ++i) h.push_back(filled_block(sizes[i], 1000 * (i + 1)));
      EXPECT_EQ(b("memfree 0 " + std::to_string(h[1])), "ok");
      EXPECT_EQ(b("memfree 0 " + std::to_string(h[3])), "ok");
      victim_dies("memalloc 1 14000");
      structures_sound();
      EXPECT_EQ(blocks_in_pool(0), 4u);
      for (uint32_t i : {0u, 2u, 4u, 5u}) block_intact(h[i], 1000 * (i + 1));
      // The space is all there: the request fits now, compacted or not.
      filled_block(14000, 77);
      for (uint32_t i : {0u, 2u, 4u, 5u}) block_intact(h[i], 1000 * (i + 1));
      structures_sound();
      break;
    }
    case Scenario::kFree: {
      const uint32_t h[] = {filled_block(1000, 100), filled_block(1000, 200), filled_block(1000, 300)};
      EXPECT_EQ(b("memfree 0 " + std::to_string(h[2])), "ok");
      victim_dies("memfree 1 " + std::to_string(h[1]));
      structures_sound();
      // Undone: the block is still there, whole.
      EXPECT_EQ(blocks_in_pool(0), 2u);
      for (uint32_t i = 0; i < 2; ++i) block_intact(h[i], 100 * (i + 1));
      break;
    }
    case Scenario::kPut:
    case Scenario::kTake: {
      for (const char* m : {"m1", "m2", "m3"}) EXPECT_EQ(b(std::string("mbxput 0 0 1 0 ") + m), "ok");
      const bool put = GetParam().scenario == Scenario::kPut;
      victim_dies(put ? "mbxput 1 1 1 0 victim" : "mbxtake 1 1 0");
      structures_sound();
      // Every acknowledged message once, in order; the dead one's put or
      // take undone.
      EXPECT_EQ(b("mbxall 0 1 0"), "ok 3 m1 m2 m3");
      EXPECT_EQ(blocks_in_pool(0), 0u) << "every block given back";
      structures_sound();
      break;
    }
    case Scenario::kWide: {
      EXPECT_EQ(b("widewrite 0 0 0 64 1000"), "ok");
      victim_dies("widewrite 1 0 0 64 2000");
      EXPECT_EQ(b("wideread 0 0 0 64"), "ok 1000") << "the old value, whole";
      structures_sound();
      break;
    }
    case Scenario::kWord8: {
      // Where 8 bytes are not one store, they are kept before they change.
      if (sizeof(void*) >= 8) GTEST_SKIP() << "8 bytes are one store here";
      EXPECT_EQ(b("widewrite 0 3 0 8 1000"), "ok");
      victim_dies("widewrite 1 3 0 8 2000");
      EXPECT_EQ(b("wideread 0 3 0 8"), "ok 1000");
      structures_sound();
      break;
    }
    case Scenario::kString: {
      EXPECT_EQ(b("strwrite 0 2 0 old"), "ok");
      victim_dies("strwrite 1 2 0 a-much-longer-new-text");
      EXPECT_EQ(b("strread 0 2 0"), "ok old");
      structures_sound();
      break;
    }
    case Scenario::kNewString: {
      victim_dies("strwrite 1 2 1 first");
      structures_sound();
      EXPECT_EQ(b("strread 0 2 1"), "ok -");
      EXPECT_EQ(b("strwrite 0 2 1 second"), "ok");
      EXPECT_EQ(b("strread 0 2 1"), "ok second");
      structures_sound();
      break;
    }
    case Scenario::kList: {
      EXPECT_EQ(b("listset 0 B 2"), "ok");
      victim_dies("listset 1 B 5");
      structures_sound();
      // The setter's update is undone whole: the old list, its block only.
      EXPECT_EQ(b("listcount 0"), "ok 2");
      EXPECT_EQ(blocks_in_pool(0), 1u);
      break;
    }
    case Scenario::kAttr: {
      EXPECT_EQ(b("attrdef 0 FIRST"), "ok 1");
      victim_dies("attrdef 1 SECOND");
      structures_sound();
      EXPECT_EQ(b("attrdef 0 THIRD"), "ok 2") << "the half-defined slot is free again";
      break;
    }
    case Scenario::kAdjust: {
      // The arrays move to blocks of a new dbrt segment while the victim
      // raises a count; undone, every value is where it was.
      EXPECT_EQ(b("widewrite 0 0 3 64 1000"), "ok");
      victim_dies("adjust 1 0 400");
      structures_sound();
      EXPECT_EQ(b("wideread 0 0 3 64"), "ok 1000");
      EXPECT_EQ(b("adjust 0 0 400"), "ok");
      EXPECT_EQ(b("wideread 0 0 3 64"), "ok 1000");
      EXPECT_EQ(b("widewrite 0 0 399 64 3000"), "ok");
      structures_sound();
      break;
    }
    case Scenario::kRegister:
    case Scenario::kRegisterLocked: {
      // A client killed with a tag list; the next one to register into its
      // slot is killed while it frees the list (or waits to). The list
      // stays in the slot until a registration frees it: no block is lost.
      victim_ = std::make_unique<Client>();
      ASSERT_EQ(bounded_call(*victim_, "procinit A"), "ok 1");
      ASSERT_EQ(bounded_call(*victim_, "listset 1 A 3"), "ok");
      victim_->kill_hard();
      const bool locked = GetParam().scenario == Scenario::kRegisterLocked;
      if (locked) {
        EXPECT_EQ(b("dblock 0"), "ok");
      }
      setenv("RK_CRASH_AT", (std::string(GetParam().point) + ":1").c_str(), 1);
      repairer_ = std::make_unique<Client>();
      unsetenv("RK_CRASH_AT");
      ASSERT_EQ(bounded_call(*repairer_, "procinit A"), "eof") << GetParam().point << " was not passed";
      EXPECT_EQ(repairer_->wait_signal(), SIGKILL);
      if (locked) {
        EXPECT_EQ(b("dbunlock 0"), "ok");
      }
      // The next registration finds the list where it was, and frees it.
      victim_ = std::make_unique<Client>();
      ASSERT_EQ(bounded_call(*victim_, "procinit A"), "ok 1");
      EXPECT_EQ(blocks_in_pool(0), 0u);
      EXPECT_EQ(bounded_call(*victim_, "listcount 1"), "ok 0");
      structures_sound();
      break;
    }
    case Scenario::kRepair: {
      // The victim dies with half a value written; the first to take over
      // dies inside the repair; the next finishes it.
      EXPECT_EQ(b("widewrite 0 0 0 64 1000"), "ok");
      dies_at(victim_, "A", kVictim, "value.half", 1, "widewrite 1 0 0 64 2000");
      dies_at(repairer_, "C", kRepairer, GetParam().point, GetParam().pass, "dblock 2");
      EXPECT_EQ(b("wideread 0 0 0 64"), "ok 1000");
      structures_sound();
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryPoint, CrashPointTest,
    testing::Values(CrashCase{"pool.add.segment", 1, Scenario::kNewPool},
                    CrashCase{"pool.add.formatted", 1, Scenario::kNewPool},
                    CrashCase{"segment.published", 1, Scenario::kNewPool},
                    CrashCase{"pool.take.rest", 1, Scenario::kNewPool},
                    CrashCase{"pool.take.rest", 1, Scenario::kAlloc},
                    CrashCase{"pool.take.split", 1, Scenario::kAlloc},
                    CrashCase{"pool.take.header", 1, Scenario::kAlloc},
                    CrashCase{"pool.take.slot", 1, Scenario::kAlloc},
                    CrashCase{"pool.take.counted", 1, Scenario::kAlloc},
                    CrashCase{"pool.next_slot", 1, Scenario::kAlloc},
                    CrashCase{"pool.slide.begin", 1, Scenario::kCompact},
                    CrashCase{"move.piece", 1, Scenario::kCompact},
                    CrashCase{"move.piece", 5, Scenario::kCompact},
                    CrashCase{"pool.slide.done", 1, Scenario::kCompact},
                    CrashCase{"pool.merge.size", 1, Scenario::kCompact},
                    CrashCase{"pool.slide.begin", 2, Scenario::kCompact},
                    CrashCase{"pool.slide.done", 3, Scenario::kCompact},
                    CrashCase{"pool.take.counted", 1, Scenario::kCompact},
                    CrashCase{"pool.release.slot", 1, Scenario::kFree},
                    CrashCase{"pool.release.header", 1, Scenario::kFree},
                    CrashCase{"pool.release.counted", 1, Scenario::kFree},
                    CrashCase{"pool.merge.size", 1, Scenario::kFree},
                    CrashCase{"pool.take.slot", 1, Scenario::kPut},
                    CrashCase{"queue.put.filled", 1, Scenario::kPut},
                    CrashCase{"queue.put.linked", 1, Scenario::kPut},
                    CrashCase{"queue.put.bytes", 1, Scenario::kPut},
                    CrashCase{"queue.take.bytes", 1, Scenario::kTake},
                    CrashCase{"queue.take.count", 1, Scenario::kTake},
                    CrashCase{"queue.take.unlinked", 1, Scenario::kTake},
                    CrashCase{"pool.release.header", 1, Scenario::kTake},
                    CrashCase{"value.kept", 1, Scenario::kWide},
                    CrashCase{"value.half", 1, Scenario::kWide},
                    CrashCase{"value.half", 1, Scenario::kWord8},
                    CrashCase{"string.kept", 1, Scenario::kString},
                    CrashCase{"string.copied", 1, Scenario::kString},
                    CrashCase{"segment.published", 1, Scenario::kNewString},
                    CrashCase{"space.used", 1, Scenario::kNewString},
                    CrashCase{"space.string", 1, Scenario::kNewString},
                    CrashCase{"string.copied", 1, Scenario::kNewString},
                    CrashCase{"pool.take.counted", 1, Scenario::kList},
                    CrashCase{"list.detached", 1, Scenario::kList},
                    CrashCase{"list.swapped", 1, Scenario::kList},
                    CrashCase{"pool.release.counted", 1, Scenario::kList},
                    CrashCase{"list.left.detached", 1, Scenario::kRegister},
                    CrashCase{"pool.release.counted", 1, Scenario::kRegister},
                    CrashCase{"list.left.waiting", 1, Scenario::kRegisterLocked},
                    CrashCase{"attr.defined", 1, Scenario::kAttr},
                    CrashCase{"segment.published", 1, Scenario::kAdjust},
                    CrashCase{"dbrt.segment.laid", 1, Scenario::kAdjust},
                    CrashCase{"dbrt.alloc.rest", 1, Scenario::kAdjust},
                    CrashCase{"dbrt.grow.copied", 1, Scenario::kAdjust},
                    CrashCase{"dbrt.grow.moved", 2, Scenario::kAdjust},
                    CrashCase{"dbrt.free.zeroed", 1, Scenario::kAdjust},
                    CrashCase{"dbrt.type.max", 1, Scenario::kAdjust},
                    CrashCase{"repair.bytes", 1, Scenario::kRepair},
                    CrashCase{"repair.moved", 1, Scenario::kRepair}),
    case_name);

}  // namespace
}  // namespace rk::test
