// rkctl against real plants: the run manager brings a plant file up with its
// client programs, the monitoring commands work on it from other processes,
// clients are restarted by their policy, and every way of ending leaves
// nothing behind.
#include <signal.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "support/rkctl_test.h"

namespace rk::test {

namespace {

// The number after KEY= in the output.
long value_of(const std::string& out, const std::string& key) {
  const size_t at = out.find(" " + key + "=");
  return at == std::string::npos ? -1 : atol(out.c_str() + at + key.size() + 2);
}

}  // namespace

// The demo plant (two instances, three clients), looked at and changed from
// other processes, then stopped by SIGTERM in the order of its file.
TEST_F(RkctlTest, PlantRunsAndToolsWorkFromOutside) {
  RkctlProcess& run = start({"run", demo_plant()});
  ASSERT_TRUE(run.wait_for("started ALARM", kBoundMs)) << run.output() << run.errors();
  // The clients are up once all three have registered.
  bool live = false;
  for (int tries = 0; tries < 400 && !live; ++tries) {
    const ToolResult procs = run_rkctl({"dump", "procs"});
    const ToolResult line2 = run_rkctl({"get", "--instance", "CELL/LINE2", "--json", "NOTE[0]"});
    live = procs.out.find("FIELD") != std::string::npos && procs.out.find("CONTROL") != std::string::npos &&
           run.wait_for("field: writing", 0) && line2.code == 0;
  }
  ASSERT_TRUE(live) << run.output();

  const ToolResult ls = run_rkctl({"ls", "--json"});
  ASSERT_EQ(ls.code, 0) << ls.err;
  EXPECT_NE(ls.out.find("\"name\": \"DEMO\""), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("\"applications\": 2"), std::string::npos) << ls.out;

  ASSERT_EQ(run_rkctl({"set", "NOTE[2]=hello plant"}).code, 0);
  const ToolResult get = run_rkctl({"get", "--json", "NOTE[2]", "DI[0]"});
  const nlohmann::json got = nlohmann::json::parse(get.out, nullptr, false);
  ASSERT_TRUE(got.is_array() && got.size() == 2) << get.out << get.err;
  EXPECT_EQ(got[0]["tag"], "NOTE[2]");
  EXPECT_EQ(got[0]["value"], "hello plant");
  // Shared types: the other instance sees the same value.
  EXPECT_NE(run_rkctl({"get", "--instance", "CELL/LINE2", "NOTE[2]"}).out.find("NOTE[2] = hello plant"),
            std::string::npos);

  RkctlProcess watch({"watch", "--count", "1", "NOTE[3]"});
  ASSERT_TRUE(watch.wait_for("watching 1 tag", kBoundMs)) << watch.errors();
  ASSERT_EQ(run_rkctl({"set", "NOTE[3]=changed"}).code, 0);
  EXPECT_EQ(watch.finish(kBoundMs), 0);
  EXPECT_NE(watch.output().find("NOTE[3] = changed"), std::string::npos) << watch.output();

  const ToolResult types = run_rkctl({"dump", "types"});
  EXPECT_NE(types.out.find("Dump of Kernel Data Type Table:"), std::string::npos);
  EXPECT_NE(types.out.find("   5: x0002     4     8     8"), std::string::npos) << types.out;
  const ToolResult top = run_rkctl({"top", "--once", "--json", "--interval", "200ms"});
  EXPECT_NE(top.out.find("\"task\": \"FIELD\""), std::string::npos) << top.out << top.err;
  // Checked between the calls of clients that write, sleep and send.
  const ToolResult check = run_rkctl({"check"});
  EXPECT_EQ(check.code, 0) << check.out << check.err;
  EXPECT_EQ(check.out, "RTDB DEMO is consistent\n");

  ASSERT_EQ(run.finish(kBoundMs, SIGTERM), 0) << run.output();
  const int field = line_of(run, "FIELD in CELL/LINE1 (pid"), control = line_of(run, "CONTROL in CELL/LINE1 (pid"),
            alarm = line_of(run, "ALARM in CELL/LINE2 (pid");
  EXPECT_TRUE(field >= 0 && field < control && control < alarm) << run.output();
  EXPECT_GE(line_of(run, "RTDB DEMO ended"), alarm);
  // Nothing was lost on the way down, and nothing is left, before anyone looks.
  EXPECT_GE(value_of(run.output(), "sent"), 0) << run.output();
  EXPECT_EQ(value_of(run.output(), "sent"), value_of(run.output(), "received")) << run.output();
  EXPECT_TRUE(objects_left().empty());
  EXPECT_EQ(run_rkctl({"ls"}).out.find("DEMO"), std::string::npos);
}

// A crashing client comes back under on-failure and stays down under never;
// a second run of the same RTDB is refused while the first runs.
TEST_F(RkctlTest, RestartPoliciesAndOneRunPerRtdb) {
  const std::string file = plant(one_instance("Policies", R"(
[[type]]
name = "A"
kind = "bytes"
size = 4
count = 1
)", R"(
  [[instance.client]]
  task = "ONCE"
  command = ["/bin/sh", "-c", "exit 3"]
  restart = "never"
  [[instance.client]]
  task = "CRASH"
  command = ["/bin/sh", "-c", "kill -SEGV $$"]
  restart = "on-failure"
)"));
  RkctlProcess& run = start({"run", file});
  // Both first ran together; by the second restart of CRASH a restart of
  // ONCE, planned with the same back-off, would have shown.
  ASSERT_TRUE(run.wait_for("restarting CRASH in OPS/A in 400 ms (restart 2)", kBoundMs)) << run.output();
  EXPECT_GE(line_of(run, "ONCE in OPS/A (pid"), 0);
  EXPECT_NE(run.output().find("exited with code 3"), std::string::npos);
  EXPECT_NE(run.output().find("killed by signal 11"), std::string::npos);
  EXPECT_EQ(line_of(run, "restarting ONCE"), -1) << run.output();

  const ToolResult second = run_rkctl({"run", file});
  EXPECT_NE(second.code, 0);
  EXPECT_NE(second.err.find("an RTDB of this name runs already"), std::string::npos) << second.err;

  ASSERT_EQ(run.finish(kBoundMs, SIGINT), 0) << run.output();
  EXPECT_TRUE(objects_left().empty());
}

// A run manager killed outright takes its clients with it, and the next run
// of the plant takes the RTDB's names back.
TEST_F(RkctlTest, KilledRunManagerIsReclaimedByTheNextRun) {
  const std::string file = plant(one_instance("Killed", R"(
[[type]]
name = "A"
kind = "digital"
count = 4
)", R"(
  [[instance.client]]
  task = "SLEEPER"
  command = "sleep 600"
)"));
  RkctlProcess& first = start({"run", file});
  ASSERT_TRUE(first.wait_for("started SLEEPER", kBoundMs)) << first.output();
  const std::vector<pid_t> clients = first.started_pids();
  first.kill_hard();
  ASSERT_TRUE(gone(clients, kBoundMs));

  RkctlProcess& second = start({"run", file, "--for", "100ms"});
  EXPECT_EQ(second.finish(kBoundMs), 0) << second.output() << second.errors();
  EXPECT_GE(line_of(second, "RTDB Killed running"), 0);
  EXPECT_TRUE(objects_left().empty());
}

// Messages go in and are listed from outside, and a client is reached by
// its task name with a signal and with its termination flag.
TEST_F(RkctlTest, MailboxesSignalsAndStopFromOutside) {
  const std::string file = plant(one_instance("Boxes", R"(
[[type]]
name = "ALARM"
kind = "mailbox"
count = 1
[[type]]
name = "BOX"
kind = "mailbox"
count = 2
[[type]]
name = "TEXT"
kind = "string"
size = 16
count = 2
[[type]]
name = "N"
kind = "bytes"
size = 4
class = "int32"
count = 2
)", R"(
  [[instance.client]]
  task = "ALARM"
  command = "$RK_TEST_EMULATOR rk_demo_alarm"
)"));
  RkctlProcess& run = start({"run", file});
  ASSERT_TRUE(run.wait_for("started ALARM", kBoundMs)) << run.output();
  // The signal reaches ALARM once it has registered.
  ToolResult signal;
  for (int tries = 0; tries < 400 && signal.code != 0; ++tries) signal = run_rkctl({"signal", "ALARM", "5"});
  ASSERT_EQ(signal.code, 0) << signal.err;
  EXPECT_NE(run_rkctl({"signal", "NOBODY", "5"}).err.find("no client of that name"), std::string::npos);

  ASSERT_EQ(run_rkctl({"send", "ALARM[0]", "pump 3 hot"}).code, 0);
  EXPECT_TRUE(run.wait_for("alarm: pump 3 hot", kBoundMs)) << run.output();

  RkctlProcess watch({"watch", "--count", "1", "BOX[1]"});
  ASSERT_TRUE(watch.wait_for("watching 1 tag", kBoundMs)) << watch.errors();
  ASSERT_EQ(run_rkctl({"send", "BOX[1]", "first"}).code, 0);
  ASSERT_EQ(run_rkctl({"send", "BOX[1]", "second!"}).code, 0);
  EXPECT_EQ(watch.finish(kBoundMs), 0);
  EXPECT_NE(watch.output().find("BOX[1] <- message of 5 bytes"), std::string::npos) << watch.output();
  const ToolResult listed = run_rkctl({"mbx", "--json", "BOX[1]"});
  EXPECT_NE(listed.out.find("\"length\": 7"), std::string::npos) << listed.out;
  EXPECT_EQ(run_rkctl({"mbx", "--take", "BOX[1]"}).out, "first\nsecond!\n");
  EXPECT_EQ(run_rkctl({"get", "BOX[1]"}).out, "BOX[1] = 0 message(s)\n");

  // One batch of every kind: each value lands in its own place, whatever
  // size this process's string descriptors and message records have.
  ASSERT_EQ(run_rkctl({"set", "TEXT[0]=alpha", "N[0]=7", "BOX[0]=boxed", "TEXT[1]=beta", "N[1]=-9"}).code, 0);
  const ToolResult mixed = run_rkctl({"get", "--json", "TEXT[0]", "N[0]", "TEXT[1]", "N[1]"});
  const nlohmann::json values = nlohmann::json::parse(mixed.out, nullptr, false);
  ASSERT_TRUE(values.is_array() && values.size() == 4) << mixed.out << mixed.err;
  EXPECT_EQ(values[0]["value"], "alpha");
  EXPECT_EQ(values[1]["value"], 7);
  EXPECT_EQ(values[2]["value"], "beta");
  EXPECT_EQ(values[3]["value"], -9);
  EXPECT_EQ(run_rkctl({"mbx", "--take", "BOX[0]"}).out, "boxed\n");
  EXPECT_NE(run_rkctl({"send", "ALARM[1]", "x"}).err.find("index out of range"), std::string::npos);

  // A tool killed outright leaves its slot behind; the next tool takes it
  // back and frees it as it ends, so killed tools never fill the instance.
  RkctlProcess killed({"watch", "BOX[0]"});
  ASSERT_TRUE(killed.wait_for("watching 1 tag", kBoundMs)) << killed.errors();
  killed.kill_hard();
  EXPECT_NE(run_rkctl({"dump", "procs"}).out.find("rkctl.1"), std::string::npos);
  ASSERT_EQ(run_rkctl({"get", "BOX[0]"}).code, 0);
  EXPECT_EQ(run_rkctl({"dump", "procs"}).out.find("rkctl."), std::string::npos);

  ASSERT_EQ(run_rkctl({"stop", "ALARM"}).code, 0);
  EXPECT_TRUE(run.wait_for("ALARM in OPS/A (pid", kBoundMs)) << run.output();
  EXPECT_NE(run.output().find("demo-alarm received=1"), std::string::npos) << run.output();
  ASSERT_EQ(run.finish(kBoundMs, SIGTERM), 0) << run.output();
  EXPECT_TRUE(objects_left().empty());
}

// Every kind of mistake is refused with its file, line and key, before
// anything is created.
TEST_F(RkctlTest, BadPlantFilesAreRefusedWithTheirLine) {
  const std::string head = "[rtdb]\nname = \"Bad\"\n[[domain]]\nname = \"OPS\"\n";   // lines 1-4
  const std::string inst = "[[instance]]\ndomain = \"OPS\"\nname = \"A\"\n";
  struct Case {
    const char* what;
    std::string text;
    const char* error;
  } cases[] = {
      {"unknown key", head + "colour = 3\n" + inst, ":5: domain[0].colour: unknown key"},
      {"bad kind", head + "[[type]]\nname = \"T\"\nkind = \"float\"\ncount = 1\n" + inst,
       ":7: type[0].kind: unknown word \"float\""},
      {"count out of range", head + "[[type]]\nname = \"T\"\nkind = \"digital\"\ncount = 70000\n" + inst,
       ":8: type[0].count: 70000 out of range 1..65535"},
      {"odd size", head + "[[type]]\nname = \"T\"\nkind = \"bytes\"\nsize = 3\ncount = 1\n" + inst,
       ":8: type[0].size: must be even"},
      {"duplicate domain", head + "[[domain]]\nname = \"ops\"\n" + inst, ":5: domain[1].name: duplicate domain"},
      {"duplicate task",
       head + inst + "[[instance.client]]\ntask = \"P\"\n[[instance.client]]\ntask = \"p\"\n",
       ":10: instance[0].client[1].task: duplicate task"},
      {"unknown domain", head + "[[instance]]\ndomain = \"LAB\"\nname = \"A\"\n",
       ":5: instance[0].domain: unknown domain \"LAB\""},
      {"too many instances", head + inst + "[[instance]]\ndomain = \"OPS\"\nname = \"B\"\n",
       ":8: instance[1].domain: domain \"OPS\" has only 1 instance(s)"},
      {"name too long", "[rtdb]\nname = \"ABCDEFGHIJKLMNOP\"\n[[domain]]\nname = \"OPS\"\n" + inst,
       ":2: rtdb.name: longer than 15 characters"},
      {"bad restart", head + inst + "[[instance.client]]\ntask = \"P\"\ncommand = \"x\"\nrestart = \"often\"\n",
       ":11: instance[0].client[0].restart: unknown word \"often\""},
      {"syntax", head + "instances = \n", ":5:"},
      // Commands that could never run, refused before anything is made.
      {"missing program", head + inst + "[[instance.client]]\ntask = \"P\"\ncommand = [\"no_such_program_x\", \"1\"]\n",
       ":10: instance[0].client[0].command: program \"no_such_program_x\" not found in "},
      {"missing program of a shell line",
       head + inst + "[[instance.client]]\ntask = \"P\"\ncommand = \"LEVEL=3 no_such_program_x && exit 1\"\n",
       ":10: instance[0].client[0].command: program \"no_such_program_x\" not found in "},
      {"empty program", head + inst + "[[instance.client]]\ntask = \"P\"\ncommand = [\"\"]\n",
       ":10: instance[0].client[0].command: the program's name must not be empty"},
      {"blank line", head + inst + "[[instance.client]]\ntask = \"P\"\ncommand = \"   \"\n",
       ":10: instance[0].client[0].command: must not be blank"},
      {"not executable", head + inst + "[[instance.client]]\ntask = \"P\"\ncommand = [\"/etc/passwd\"]\n",
       ":10: instance[0].client[0].command: \"/etc/passwd\" is not executable"},
      {"missing path", head + inst + "[[instance.client]]\ntask = \"P\"\ncommand = \"/no/such/dir/prog -x\"\n",
       ":10: instance[0].client[0].command: \"/no/such/dir/prog\" does not exist"},
  };
  for (const Case& c : cases) {
    const std::string file = plant(c.text);
    const ToolResult r = run_rkctl({"run", file});
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_NE(r.err.find(file + c.error), std::string::npos) << c.what << ": " << r.err;
    EXPECT_TRUE(objects_left().empty()) << c.what;
  }
}

// Every command explains itself, and refuses what it cannot do in one line.
TEST_F(RkctlTest, CommandsHaveHelpAndFailInOneLine) {
  for (const char* cmd : {"run", "ls", "dump", "get", "set", "watch", "send", "mbx", "signal", "stop", "top", "types",
                          "start", "restart", "down", "check", "help"}) {
    const ToolResult r = run_rkctl({cmd, "--help"});
    EXPECT_EQ(r.code, 0) << cmd;
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << cmd;
  }
  const ToolResult none = run_rkctl({"get", "--rtdb", "Nowhere", "A[0]"});
  EXPECT_EQ(none.code, 1);
  // One line; what it adds (RTDBs of other namespaces) depends on what else runs.
  EXPECT_EQ(none.err.rfind("rkctl: no RTDB named Nowhere", 0), 0u) << none.err;
  EXPECT_EQ(none.err.find('\n'), none.err.size() - 1) << none.err;
}

}  // namespace rk::test
