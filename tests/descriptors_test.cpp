// A process keeps one descriptor for its RTDB, the kgd's, and none per
// object: 128 applications, with their 3968 client events, work under a
// limit of 1024 descriptors, and registering again and again adds none.
#include <string>
#include <vector>

#include "support/plant_run.h"

namespace rk::test {
namespace {

using DescriptorsTest = PlantRunTest;

// The run manager registers two clients, in the first and in the last
// application; the second one's unlock hands the lock to a waiter in
// another process.
TEST_F(DescriptorsTest, HundredTwentyEightApplicationsWorkUnderALimitOf1024) {
  auto manager = spawn_client();
  ASSERT_EQ(bounded_call(*manager, "nofile 1024"), "ok");
  ASSERT_EQ(bounded_call(*manager, "rtdbmake Plant 128 0 0 0"), "ok 0");
  ASSERT_EQ(bounded_call(*manager, "appsstart Plant OPS 128"), "ok 128");
  ASSERT_EQ(bounded_call(*manager, "procinitapp C1 Plant OPS I0"), "ok 0");
  ASSERT_EQ(bounded_call(*manager, "procinitapp C2 Plant OPS I127"), "ok 32512");
  auto waiter = spawn_client();
  ASSERT_EQ(bounded_call(*waiter, "nofile 1024"), "ok");
  ASSERT_EQ(bounded_call(*waiter, "procinitapp W Plant OPS I64"), "ok 16384");

  ASSERT_EQ(bounded_call(*manager, "dblock 32512"), "ok");
  waiter->send("dblock 16384");
  ASSERT_EQ(bounded_call(*manager, "awaitstate 16384 1"), "ok");
  EXPECT_EQ(bounded_call(*manager, "dbunlock 32512"), "ok");
  EXPECT_EQ(bounded_reply(*waiter), "ok") << "the hand-over woke the waiter";
  EXPECT_EQ(bounded_call(*waiter, "dbunlock 16384"), "ok");
  EXPECT_EQ(bounded_call(*manager, "dblock 0"), "ok") << "and the first client goes on";
  EXPECT_EQ(bounded_call(*manager, "dbunlock 0"), "ok");

  EXPECT_EQ(bounded_call(*waiter, "exittrap"), "ok");
  EXPECT_EQ(bounded_call(*manager, "exittrap"), "ok");
  EXPECT_EQ(bounded_call(*manager, "appsend 128"), "ok");
}

// A client process registers as T and leaves, ten times over: by
// rk_proc_exit, or by its application ending under it and starting again.
// From the second round on it has the same descriptors each time, and never
// more than a few beyond those it had before it first registered.
TEST_F(DescriptorsTest, RegisteringAgainAndAgainAddsNoDescriptors) {
  // Beyond the kgd's, a few the process may keep for itself, but none per
  // object: the RTDB has 93 client events, 3 mutexes and 2 segments.
  constexpr int kAtMostAdded = 4;
  start_run();
  // The run manager takes slot 0 of OPS A, which rk_proc_exit never leaves.
  ASSERT_EQ(bounded_call(*run_manager_, "procinitapp RM Plant OPS A"), "ok 0");
  struct {
    const char* what;
    const char* user;
    uint16_t id;
    bool app_restarts;
  } cases[] = {
      {"leaves by rk_proc_exit", "A", 1, false},
      {"its application ends and starts again", "B", 0x0100, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto t = spawn_client("OPS", c.user);
    const int before = std::stoi(bounded_call(*t, "fdcount").substr(3));
    std::vector<int> counts;
    for (int round = 0; round < 10; ++round) {
      ASSERT_EQ(bounded_call(*t, "procinit T"), "ok " + std::to_string(c.id)) << "round " << round;
      counts.push_back(std::stoi(bounded_call(*t, "fdcount").substr(3)));
      if (c.app_restarts) {
        ASSERT_EQ(bounded_call(*run_manager_, "exitapp 256"), "ok 0");
        ASSERT_EQ(bounded_call(*run_manager_, "initapp Plant OPS B"), "ok 1");
      } else {
        ASSERT_EQ(bounded_call(*t, "procexit " + std::to_string(c.id)), "ok 0");
      }
    }
    EXPECT_LE(counts[1], before + kAtMostAdded) << "descriptors before registering: " << before;
    const std::vector<int> from_round_2(counts.begin() + 1, counts.end());
    EXPECT_EQ(from_round_2, std::vector<int>(from_round_2.size(), counts[1]));
  }
  EXPECT_EQ(bounded_call(*run_manager_, "exittrap"), "ok");
  end_run();
}

}  // namespace
}  // namespace rk::test
