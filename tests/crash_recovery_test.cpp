// A registered process that dies is cleaned up by the living as if its exit
// trap had run: the waiters behind a killed holder get the lock without
// anybody ending its application, a client killed in the queue blocks
// nobody, its slot can be registered again, and the lock keeps passing
// between the living through hundreds of kills at random moments.
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "rk.h"
#include "support/app_test.h"
#include "support/plant_run.h"

namespace rk::test {
namespace {

// A waiter behind a dead holder is meant to notice within about 100 ms;
// this only turns a wait that never ends into a failure.
constexpr int kHandOverBoundMs = 10000;

// Application 0 is OPS A, application 1 OPS B, both with free slots.
class CrashRecoveryTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", app_template().data()), 0);
    ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template().data()), 1);
  }
  // Sends the lock call and returns once the client is queued for the lock.
  void queue(Client& c, uint16_t id) {
    c.send("dblock " + std::to_string(id));
    ASSERT_TRUE(await([&] { return entry(id).wait_state == 1; })) << id;
  }
};

TEST_F(CrashRecoveryTest, TheWaitersOfAKilledHolderGetTheLockInTurn) {
  Client& a = client("A", 0);
  Client& b = client("B", 1);
  Client& c = client("C", 2);
  ASSERT_EQ(a.call("dblock 0"), "ok");
  queue(b, 1);
  queue(c, 2);
  a.kill_hard();

  ASSERT_EQ(bounded_reply(b, kHandOverBoundMs), "ok") << "B still waits behind the dead holder";
  EXPECT_EQ(bounded_call(b, "dbunlock 1"), "ok");
  ASSERT_EQ(bounded_reply(c, kHandOverBoundMs), "ok");
  EXPECT_EQ(bounded_call(c, "dbunlock 2"), "ok");
  EXPECT_EQ(val(kgd()->lock_holder), 0u);
  EXPECT_EQ(val(kgd()->queue_head), 0u);
  // The dead client's slot is free for its task again.
  client("A", 0);
}

TEST_F(CrashRecoveryTest, AClientKilledInTheQueueBlocksNobody) {
  Client& holder = client("H", 0);
  Client& a = client("A", 1);
  Client& b = client("B", 2);
  ASSERT_EQ(holder.call("dblock 0"), "ok");
  queue(a, 1);
  queue(b, 2);
  a.kill_hard();

  EXPECT_EQ(bounded_call(holder, "dbunlock 0"), "ok");
  ASSERT_EQ(bounded_reply(b, kHandOverBoundMs), "ok") << "B still waits behind the dead client";
  EXPECT_EQ(bounded_call(b, "dbunlock 2"), "ok");
  EXPECT_EQ(bounded_call(holder, "dblock 0"), "ok");
  EXPECT_EQ(bounded_call(holder, "dbunlock 0"), "ok");
}

// Two survivors and three victims (two in the survivors' application, one
// in the other) take and give the lock as fast as they can; victims are
// killed wherever they happen to be, holding the lock, queued, inside the
// kernel mutex or between calls, and started again under their names.
TEST_F(CrashRecoveryTest, LockHandOverGoesOnThroughRandomKills) {
  constexpr int kKills = 300;
  Client& s1 = client("S1", 0);
  Client& s2 = client("S2", 1);
  struct Victim {
    const char* task;
    const char* user;
    uint16_t id;
    std::unique_ptr<Client> process;
  } victims[] = {{"V1", "A", 2, nullptr}, {"V2", "A", 3, nullptr}, {"V3", "B", 0x0100, nullptr}};
  auto start = [](Victim& v) {
    v.process = spawn_client("OPS", v.user);
    const std::string r = bounded_call(*v.process, std::string("procinit ") + v.task);
    v.process->send("lockloop " + std::to_string(v.id) + " 0");
    return r;
  };
  for (Victim& v : victims) ASSERT_EQ(start(v), "ok " + std::to_string(v.id)) << v.task;
  s1.send("lockloop 0 0");
  s2.send("lockloop 1 0");

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int kill = 0; kill < kKills; ++kill) {
    Victim& v = victims[rng() % 3];
    // Chooses the moment, orders nothing: the victim may be anywhere in its loop.
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
    v.process->kill_hard();
    ASSERT_EQ(start(v), "ok " + std::to_string(v.id)) << v.task << " again after kill " << kill;
  }
  // The last victims die for good, wherever they are.
  for (Victim& v : victims) v.process->kill_hard();

  for (auto [s, name] : {std::pair{&s1, "S1"}, std::pair{&s2, "S2"}}) s->send("loopstop");
  for (auto [s, name] : {std::pair{&s1, "S1"}, std::pair{&s2, "S2"}}) {
    SCOPED_TRACE(name);
    const std::string r = bounded_reply(*s);
    unsigned rounds = 0, failed = 1, foreign = 1;
    ASSERT_EQ(sscanf(r.c_str(), "ok %u %u %u", &rounds, &failed, &foreign), 3) << r;
    EXPECT_GT(rounds, 0u);
    EXPECT_EQ(failed, 0u) << "lock calls that failed";
    EXPECT_EQ(foreign, 0u) << "grants while the kgd named another holder";
    EXPECT_EQ(bounded_reply(*s), "ok");
  }
  // And both go on.
  s1.send("lockloop 0 200");
  s2.send("lockloop 1 200");
  EXPECT_EQ(bounded_reply(s1), "ok 200 0 0");
  EXPECT_EQ(bounded_reply(s2), "ok 200 0 0");
}

}  // namespace
}  // namespace rk::test
