// A running plant controlled from other processes: a client stopped on
// request stays down whatever its policy until it is started again, a
// restart gives it a new process, and `down` stops the whole plant in order.
#include <signal.h>

#include "support/rkctl_test.h"

namespace rk::test {

namespace {

const std::string kPlant = one_instance("Ctl", "[[type]]\nname = \"A\"\nkind = \"digital\"\ncount = 1\n", R"(
  [[instance.client]]
  task = "SLEEPER"
  command = "sleep 600"
  restart = "always"
  [[instance.client]]
  task = "ONCE"
  command = ["true"]
  restart = "on-failure"
  [[instance.client]]
  task = "CONF"
  desc = "configured only"
)");

// The pids the run reported started for a task, in order.
std::vector<pid_t> pids_of(const RkctlProcess& run, const std::string& task) {
  std::vector<pid_t> pids;
  for (const std::string& l : run.lines()) {
    const size_t at = l.find("rkctl: started " + task + " in ");
    if (at != std::string::npos) pids.push_back(atoi(l.c_str() + l.find(", pid ") + 6));
  }
  return pids;
}

}  // namespace

TEST_F(RkctlTest, ClientsAreStoppedStartedAndRestartedOnRequest) {
  RkctlProcess& run = start({"run", plant(kPlant)});
  ASSERT_TRUE(run.wait_for("started SLEEPER", kBoundMs)) << run.output() << run.errors();
  ASSERT_TRUE(run.wait_for("ONCE in OPS/A (pid", kBoundMs)) << run.output();

  // What the run manager cannot do is refused, each with its reason.
  struct Refusal {
    std::vector<std::string> args;
    const char* error;
  } refusals[] = {
      {{"stop", "RKCTL"}, "stop the whole plant with `rkctl down`"},
      {{"restart", "rkctl"}, "`rkctl down`"},
      {{"stop", "NOBODY"}, "NOBODY: no client of that name in OPS/A"},
      {{"start", "CONF"}, "the plant file gives it no command"},
      {{"stop", "--instance", "OPS/B", "SLEEPER"}, "no running instance OPS/B"},
  };
  for (const Refusal& r : refusals) {
    const ToolResult result = run_rkctl(r.args);
    EXPECT_EQ(result.code, 1) << r.args[1];
    EXPECT_NE(result.err.find(r.error), std::string::npos) << result.err;
  }

  // Stopped: ended, and not restarted although its policy is "always".
  const pid_t first = pids_of(run, "SLEEPER").at(0);
  const ToolResult stopped = run_rkctl({"stop", "SLEEPER"});
  ASSERT_EQ(stopped.code, 0) << stopped.err;
  EXPECT_EQ(stopped.out, "SLEEPER in OPS/A stopped\n");
  EXPECT_TRUE(gone({first}, 0));
  ASSERT_TRUE(run.wait_for("SLEEPER in OPS/A stays stopped until `rkctl start SLEEPER`", kBoundMs)) << run.output();
  EXPECT_EQ(line_of(run, "restarting SLEEPER"), -1) << run.output();
  // A second stop has nothing to do.
  EXPECT_EQ(run_rkctl({"stop", "sleeper"}).code, 0);

  // Each request is answered once it is carried out: its lines follow.
  size_t mark = run.lines().size();
  const ToolResult started = run_rkctl({"start", "SLEEPER"});
  ASSERT_EQ(started.code, 0) << started.err;
  EXPECT_EQ(started.out, "SLEEPER in OPS/A started\n");
  ASSERT_TRUE(run.wait_for("started SLEEPER", kBoundMs, mark));
  ASSERT_EQ(pids_of(run, "SLEEPER").size(), 2u) << run.output();
  const pid_t second = pids_of(run, "SLEEPER")[1];

  mark = run.lines().size();
  const ToolResult restarted = run_rkctl({"restart", "SLEEPER"});
  ASSERT_EQ(restarted.code, 0) << restarted.err;
  EXPECT_TRUE(gone({second}, 0));
  ASSERT_TRUE(run.wait_for("started SLEEPER", kBoundMs, mark));
  ASSERT_EQ(pids_of(run, "SLEEPER").size(), 3u) << run.output();
  EXPECT_EQ(kill(pids_of(run, "SLEEPER")[2], 0), 0);

  // A client that ended well under "on-failure" is started again on request.
  mark = run.lines().size();
  ASSERT_EQ(run_rkctl({"start", "ONCE"}).code, 0);
  ASSERT_TRUE(run.wait_for("started ONCE", kBoundMs, mark));
  EXPECT_EQ(pids_of(run, "ONCE").size(), 2u) << run.output();

  // down stops the plant as Ctrl-C does and returns once it is down.
  RkctlProcess down({"down"});
  EXPECT_EQ(run.finish(kBoundMs), 0) << run.output();
  EXPECT_EQ(down.finish(kBoundMs), 0) << down.output() << down.errors();
  EXPECT_NE(down.output().find("Ctl is down"), std::string::npos) << down.output();
  EXPECT_GE(line_of(run, "rkctl: stopping (asked by rkctl down)"), 0) << run.output();
  EXPECT_GE(line_of(run, "RTDB Ctl ended"), 0) << run.output();
  EXPECT_TRUE(objects_left().empty());
}

}  // namespace rk::test
