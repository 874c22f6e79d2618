// Writers of one application killed at random moments: holding the lock,
// inside a write batch, queued, asleep in a change wait, inside the kernel
// mutex or between calls, each started again in its slot at once. However
// they die, the lock goes on, no round is lost, a killed write leaves at
// most its own batch half done, the mailbox keeps its order, and the
// application ends cleanly. The run is repeated with RK_KILL_SEED.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "rk.h"
#include "support/plant_run.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

constexpr int kWorkers = 4;
constexpr int kMaxKills = 40;
constexpr auto kKillTime = std::chrono::milliseconds(3000);
// A client queued behind a dead holder notices it within a few looks.
constexpr int kGrantBoundMs = 5000;

// The RTDB "Chaos": domain OPS with one instance (application 0), started
// by this process; type 0 holds 64 counters per application, type 1 one
// mailbox per application (the layout the counter commands expect).
class RandomKillsTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    rk_kusr ops = kusr("OPS", 1);
    rk_type_entry types[] = {type_entry("COUNTERS", 0, 64, 4), type_entry("MBX", 3, 1, 22)};
    ASSERT_GE(rk_create_rtdb("", "", "Chaos", &ops, 1, types, 2, 0, 8, 0), 0);
    ASSERT_EQ(rk_init_app("Chaos", "OPS", "A", app_template().data()), 0);
    setenv("RKNAME", "Chaos", 1);
    setenv("RKDOMAIN", "OPS", 1);
    setenv("RKUSER", "A", 1);
  }
  void TearDown() override {
    processes_.clear();   // ends the processes, before the leak check
    rk_exit_trap();
    rk_unmap_kgd();
    for (const char* v : {"RKNAME", "RKDOMAIN", "RKUSER"}) unsetenv(v);
    KernelTest::TearDown();
  }

  // A client process registered as `task`; the reply of its registration.
  std::string registered(std::unique_ptr<Client>& process, const std::string& task) {
    process = std::make_unique<Client>();
    return bounded_call(*process, "procinit " + task);
  }

  std::vector<std::unique_ptr<Client>> processes_;
};

uint32_t run_seed() {
  const char* given = getenv("RK_KILL_SEED");
  return given != nullptr ? static_cast<uint32_t>(strtoul(given, nullptr, 10)) : std::random_device{}();
}

// Workers 0 and 1 sometimes sleep until counter 0 changes; 2 and 3 never
// sleep, so somebody always writes to wake them.
TEST_F(RandomKillsTest, CountersStayWholeThroughRandomKills) {
  const uint32_t seed = run_seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (RK_KILL_SEED=" + std::to_string(seed) + " repeats the run)");
  std::mt19937 rng(seed);
  processes_.resize(kWorkers + 1);
  auto start = [&](int w) {
    const std::string r = registered(processes_[w], "W" + std::to_string(w));
    processes_[w]->send("counterloop " + std::to_string(w) + " " + std::to_string(w < 2) + " " +
                        std::to_string(rng() >> 1));
    return r;
  };
  for (int w = 0; w < kWorkers; ++w) ASSERT_EQ(start(w), "ok " + std::to_string(w));

  int kills = 0, last_victim = -1;
  const auto end = std::chrono::steady_clock::now() + kKillTime;
  for (; kills < kMaxKills && std::chrono::steady_clock::now() < end; ++kills) {
    // Chooses the moment, orders nothing: now within a call, now between rounds.
    const uint32_t us = rng() % 2 ? rng() % 1000 : rng() % 60000;
    std::this_thread::sleep_for(std::chrono::microseconds(us));
    last_victim = static_cast<int>(rng() % kWorkers);
    processes_[last_victim]->kill_hard();
    // The registration takes the dead process's slot back.
    ASSERT_EQ(start(last_victim), "ok " + std::to_string(last_victim)) << "after kill " << kills;
  }

  // The lock is never stranded: a fresh client gets it while the workers run.
  ASSERT_EQ(registered(processes_[kWorkers], "CHECK"), "ok " + std::to_string(kWorkers));
  Client* checker = processes_[kWorkers].get();
  const std::string who = " " + std::to_string(kWorkers);
  ASSERT_EQ(bounded_call(*checker, "dblock" + who, kGrantBoundMs), "ok") << "the lock is stranded";
  ASSERT_EQ(bounded_call(*checker, "dbunlock" + who), "ok");

  // The sleepers stop first, while the others still write to wake them.
  uint32_t rounds = 0, last_victim_rounds = 0;
  for (int w = 0; w < kWorkers; ++w) {
    SCOPED_TRACE("W" + std::to_string(w));
    processes_[w]->send("loopstop");
    const std::string r = bounded_reply(*processes_[w]);
    unsigned done = 0, torn = 0, waits = 0, messages = 0;
    char fault[64] = "";
    ASSERT_EQ(sscanf(r.c_str(), "ok %u %u %u %u %63s", &done, &torn, &waits, &messages, fault), 5) << r;
    EXPECT_STREQ(fault, "-") << r;
    // Only a holder killed inside its write leaves counters torn.
    EXPECT_LE(torn, static_cast<unsigned>(kills)) << r;
    ASSERT_EQ(bounded_reply(*processes_[w]), "ok");
    rounds += done;
    if (w == last_victim) last_victim_rounds = done;
  }

  // All quiet: the counters as the last whole round left them, every
  // message in the order of the rounds that wrote it.
  const std::string r = bounded_call(*checker, "countercheck" + who, kGrantBoundMs);
  unsigned low = 0, high = 0, messages = 0;
  char fault[64] = "";
  ASSERT_EQ(sscanf(r.c_str(), "ok %u %u %u %63s", &low, &high, &messages, fault), 4) << r;
  EXPECT_STREQ(fault, "-") << r;
  EXPECT_GE(high, rounds) << "rounds lost";
  // A round of the last victim's successor came after every kill.
  if (kills == 0 || last_victim_rounds > 0) {
    EXPECT_EQ(low, high) << r;
  }

  // Nothing names a dead process: every live slot is one of the running
  // clients, the kernel mutex and the lock are free, nobody queues.
  const Kgd* kgd = attachment().kgd;
  EXPECT_EQ(val(kgd->mtx_pid), 0u);
  EXPECT_EQ(val(kgd->lock_holder), 0u);
  EXPECT_EQ(val(kgd->queue_head), 0u);
  const AppBlock* app = app_block(kgd, 0);
  for (uint32_t s = 0; s < 31; ++s) {
    const CptEntry& e = app->cpt[s];
    if ((val(e.stat) & kStatLive) == 0) continue;
    ASSERT_LE(s, static_cast<uint32_t>(kWorkers)) << "a slot live for nobody";
    EXPECT_EQ(val(e.pid), static_cast<uint32_t>(processes_[s]->pid())) << "slot " << s;
  }

  for (int p = 0; p <= kWorkers; ++p) EXPECT_EQ(bounded_call(*processes_[p], "procexit " + std::to_string(p)), "ok 0");
  EXPECT_EQ(rk_exit_app(0), 0);
}

}  // namespace
}  // namespace rk::test
