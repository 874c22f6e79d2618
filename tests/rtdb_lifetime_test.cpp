// Every object of an RTDB lives exactly as long as the RTDB, whichever
// process made it: a segment stays when the client that added it ends
// before anybody else mapped it, normally or killed, and so does the first
// dbrt segment when the run manager is killed; deleting the RTDB takes every
// name at once, and a killed client's segment goes with it.
#include <memory>
#include <string>
#include <vector>

#include "support/plant_run.h"

namespace rk::test {
namespace {

enum class Leaving { Exit, Kill };

class RtdbLifetimeTest : public PlantRunTest {
 protected:
  static void leave(Client& client, Leaving how) {
    if (how == Leaving::Kill) return client.kill_hard();
    // exit() runs the process's exit handlers, but not the kernel's exit trap.
    client.send("exit 0");
    EXPECT_EQ(client.wait_exit(), 0);
  }

  void expect_no_objects(const char* when) const {
    const std::vector<std::string> left = objects_left();
    EXPECT_TRUE(left.empty()) << when << ", the first name left: " << left.front();
  }

  // Client A of OPS A adds a segment and fills it, then ends, before anyone
  // else took the database lock (which is where segments get mapped). The
  // next client finds the data and goes on adding.
  void creator_leaves(Leaving how, bool pool) {
    start_run();
    auto a = registered("A", "OPS", "A", 0);
    std::string handle;
    if (pool) {
      const std::string r = bounded_call(*a, "memalloc 0 4000");
      ASSERT_EQ(r.rfind("ok ", 0), 0u) << r;
      handle = r.substr(3);
      ASSERT_EQ(bounded_call(*a, "memfill 0 " + handle + " 77"), "ok 0");
    } else {
      // The first dbrt segment is sized exactly: growing needs a new one.
      ASSERT_EQ(bounded_call(*a, "dbrtgrow 0 0 1000"), "ok");
      ASSERT_EQ(bounded_call(*a, "tagfill 0 0 77"), "ok 0");
    }
    leave(*a, how);

    auto b = registered("B", "OPS", "A", 1);
    if (pool) {
      ASSERT_EQ(bounded_call(*b, "memcheck 1 " + handle + " 77"), "ok 0");
      EXPECT_EQ(bounded_call(*b, "memalloc 1 60000").rfind("ok ", 0), 0u) << "a second pool";
      EXPECT_EQ(bounded_call(*b, "memcheck 1 " + handle + " 77"), "ok 0");
    } else {
      ASSERT_EQ(bounded_call(*b, "tagcheck 1 0 77"), "ok 0");
      EXPECT_EQ(bounded_call(*b, "dbrtgrow 1 0 60000"), "ok") << "more than A's segment holds";
      EXPECT_EQ(bounded_call(*b, "dblock 1"), "ok");
      EXPECT_EQ(bounded_call(*b, "dbunlock 1"), "ok");
    }
    EXPECT_EQ(bounded_call(*b, "exittrap"), "ok");
    end_run();
    expect_no_objects("the run ended");
  }

  // The run manager made segment 1, the first dbrt segment, and is killed
  // while client B's process holds the RTDB (registered already, or only
  // attached), before any client took the lock.
  void run_manager_killed(bool registered_before) {
    start_run();
    auto b = spawn_client("OPS", "A");
    if (registered_before) {
      ASSERT_EQ(bounded_call(*b, "procinit B"), "ok 0");
    } else {
      ASSERT_EQ(bounded_call(*b, "mapfirst").rfind("ok 0 ", 0), 0u);
    }
    run_manager_->kill_hard();
    if (!registered_before) {
      ASSERT_EQ(bounded_call(*b, "procinit B"), "ok 0");
    }
    ASSERT_EQ(bounded_call(*b, "dblock 0"), "ok");
    EXPECT_EQ(bounded_call(*b, "segmapped 1"), "ok 1");
    EXPECT_EQ(bounded_call(*b, "dbunlock 0"), "ok");
    EXPECT_EQ(bounded_call(*b, "exittrap"), "ok");
    end_run(b.get());
    expect_no_objects("the run ended");
  }
};

TEST_F(RtdbLifetimeTest, APoolOutlivesAClientThatExits) { creator_leaves(Leaving::Exit, true); }
TEST_F(RtdbLifetimeTest, APoolOutlivesAClientThatIsKilled) { creator_leaves(Leaving::Kill, true); }
TEST_F(RtdbLifetimeTest, ADbrtSegmentOutlivesAClientThatExits) { creator_leaves(Leaving::Exit, false); }
TEST_F(RtdbLifetimeTest, ADbrtSegmentOutlivesAClientThatIsKilled) { creator_leaves(Leaving::Kill, false); }
TEST_F(RtdbLifetimeTest, TheFirstDbrtSegmentOutlivesAKilledRunManagerWithAClientRegistered) {
  run_manager_killed(true);
}
TEST_F(RtdbLifetimeTest, TheFirstDbrtSegmentOutlivesAKilledRunManagerWithAProcessAttached) {
  run_manager_killed(false);
}

// The last rk_exit_app deletes the RTDB while clients still map it: its
// names go at once, the clients keep their memory, and killing them leaves
// nothing for anybody to clean up.
TEST_F(RtdbLifetimeTest, DeletionTakesEveryNameWhileClientsStillMapTheRtdb) {
  start_run();
  auto k1 = registered("K1", "OPS", "A", 0);
  auto k2 = registered("K2", "OPS", "B", 0x0100);
  ASSERT_EQ(bounded_call(*k1, "memalloc 0 100").rfind("ok ", 0), 0u);
  ASSERT_EQ(bounded_call(*k2, "dblock 256"), "ok");
  ASSERT_EQ(bounded_call(*k2, "dbunlock 256"), "ok");

  end_run();
  expect_no_objects("deleted");
  EXPECT_EQ(bounded_call(*k1, "rtdbpeek 0").rfind("ok ", 0), 0u) << "the memory stays while mapped";
  k1->kill_hard();
  k2->kill_hard();
  expect_no_objects("deleted and the clients killed");
}

// A killed client's pool segment goes with its RTDB when every other
// process ends normally.
TEST_F(RtdbLifetimeTest, AKilledClientsSegmentGoesWithItsRtdb) {
  start_run();
  auto k = registered("K", "OPS", "A", 0);
  ASSERT_EQ(bounded_call(*k, "memalloc 0 100").rfind("ok ", 0), 0u);
  k->kill_hard();
  end_run();
  run_manager_->send("exit 0");
  EXPECT_EQ(run_manager_->wait_exit(), 0);
  expect_no_objects("every process ended");
}

}  // namespace
}  // namespace rk::test
