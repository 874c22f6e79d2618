// Clients registering by task name and leaving again.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/records.h"
#include "core/attachment.h"
#include "platform/process_info.h"
#include "rk.h"
#include "support/app_test.h"

namespace rk::test {
namespace {

class RegistrationTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    std::vector<rk_cpt_entry> ops = app_template({{3, "PUMP", 4}});
    ops[3].type = 9;
    ops[3].env_refs[1] = 0x00020001;
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", ops.data()), 0);
    ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template().data()), 1);
  }
};

TEST_F(RegistrationTest, RefusedRegistrations) {
  struct {
    const char* rkname;
    const char* domain;
    const char* user;
    const char* task;
    int result;
  } cases[] = {
      {"Plant", "OPS", nullptr, "T", -10},
      {"Plant", nullptr, "A", "T", -10},
      {nullptr, "OPS", "A", "T", -10},
      {"Pl ant", "OPS", "A", "T", -10},
      {"Plant", "OPS", "A\tB", "T", -10},
      {"SIXTEEN_CHARS_XX", "OPS", "A", "T", -10},
      {"Plant", "SIXTEEN_CHARS_XX", "A", "T", -10},
      {"Plant", "OPS", "SIXTEEN_CHARS_XX", "T", -10},
      {"Plant", "OPS", "A", "", -13},
      {"Plant", "OPS", "", "T", -14},
      {"Other", "OPS", "A", "T", -4},
      {"Plant", "LAB", "A", "T", -5},
      {"Plant", "OPS", "C", "T", -5},
      {"Plant", "OPS", "A", "#1:5", -12},
      {"Plant", "OPS", "A", "#0:31", -12},
      {"Plant", "OPS", "A", "#0:65535", -12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rkname ? c.rkname : "-") + " " + (c.domain ? c.domain : "-") + " " +
                 (c.user ? c.user : "-") + " " + c.task);
    c.rkname != nullptr ? setenv("RKNAME", c.rkname, 1) : unsetenv("RKNAME");
    client_env(c.domain, c.user);
    EXPECT_EQ(rk_proc_init(c.task, "d"), c.result);
  }
  EXPECT_EQ(rk_proc_init(nullptr, "d"), -10);
  EXPECT_EQ(rk_proc_init_app("T", nullptr, "Plant", "OPS", "A"), -10);
  EXPECT_EQ(rk_proc_init_app("T", "d", "Plant", "O PS", "A"), -10);
  EXPECT_EQ(app(0)->registered | app(1)->registered, 0u);
}

TEST_F(RegistrationTest, GetvarCopiesOnlyWhatFits) {
  char buf[8];
  setenv("RK_TEST_VAR", "seven77", 1);
  EXPECT_EQ(rk_getvar("RK_TEST_VAR", buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "seven77");
  setenv("RK_TEST_VAR", "eight888", 1);
  EXPECT_EQ(rk_getvar("RK_TEST_VAR", buf, sizeof buf), nullptr) << "not cut";
  EXPECT_STREQ(buf, "");
  unsetenv("RK_TEST_VAR");
  EXPECT_EQ(rk_getvar("RK_TEST_VAR", buf, sizeof buf), nullptr);
  EXPECT_EQ(rk_getvar(nullptr, buf, sizeof buf), nullptr);
  EXPECT_EQ(rk_getvar("RKNAME", nullptr, 8), nullptr);
}

TEST_F(RegistrationTest, ARefusedRegistrationLeavesTheProcessUnattached) {
  Client c;
  EXPECT_EQ(c.call("procinitapp T Plant OPS C"), "ok -5");
  EXPECT_EQ(c.call("mapfirst").rfind("ok 0 ", 0), 0u) << "not attached any more";
  c.send("exit 0");
  EXPECT_EQ(c.wait_exit(), 0);
}

TEST_F(RegistrationTest, TheSlotIsChosenByNameAndWrittenForTheCaller) {
  // What an earlier client of slot 3 left behind.
  CptEntry& pump = app(0)->cpt[3];
  pump.lock = 2;
  pump.stamp = 77;
  pump.errnum = 9;
  pump.sig_pending = 4;
  pump.sig_accepted = 0xFF;
  pump.list_handle = 5;
  pump.list_count = 6;
  pump.stats[3] = 8;
  pump.read_mask = pump.write_mask = pump.change_mask = 0xF0;
  pump.handlers[7] = 0x08048000;
  pump.stat |= kStatTermSeen | kStatRevoked;
  app(0)->pending_wake = 0x8 | 0x1;
  app(0)->waiting[1] = 0x8;

  ASSERT_EQ(rk_proc_init("pump", "the pump"), 3) << "a lower-case name finds the configured slot";
  EXPECT_EQ(pump.id, 3);
  EXPECT_EQ(pump.own_bit, 8u);
  EXPECT_EQ(pump.stat, 3);
  EXPECT_EQ(pump.nmap, 1);
  EXPECT_EQ(pump.pid, static_cast<uint32_t>(getpid()));
  EXPECT_EQ(pump.errnum, 0);
  EXPECT_STREQ(pump.name, "pump");
  EXPECT_STREQ(pump.desc, "the pump");
  EXPECT_EQ(std::string(pump.modpath), os::executable_path());
  const std::string line = os::command_line();
  EXPECT_EQ(std::string(pump.args), line.substr(line.find(' ') + 1, 127));
  EXPECT_EQ(pump.lock | pump.stamp | pump.sig_pending | pump.list_handle | pump.list_count, 0u);
  EXPECT_EQ(pump.sig_accepted, 3u);
  EXPECT_EQ(pump.stats[3], 0u);
  EXPECT_EQ(pump.read_mask | pump.write_mask | pump.change_mask | pump.handlers[7], 0u)
      << "masks and handler addresses of an earlier process";
  EXPECT_EQ(pump.prty, 4) << "configured, kept";
  EXPECT_EQ(pump.type, 9);
  EXPECT_EQ(pump.env_refs[1], 0x00020001u);
  EXPECT_EQ(app(0)->registered, 8u);
  EXPECT_EQ(app(0)->waiting[1], 0u);
  EXPECT_EQ(app(0)->pending_wake, 1u) << "only the new client's bit goes";

  // An unknown name takes the first free slot; the numeric form names one.
  EXPECT_EQ(rk_proc_init("Valve", ""), 0);
  EXPECT_EQ(rk_proc_init("#0:5", ""), 5);
  EXPECT_STREQ(app(0)->cpt[5].name, "#0:5");
  EXPECT_EQ(rk_proc_init_app("Pump", "", "PLANT", "ops", "b"), 0x0100) << "names ignore case";
  const std::string long_name(40, 'L');
  EXPECT_EQ(rk_proc_init(long_name.c_str(), ""), 1);
  EXPECT_EQ(std::string(app(0)->cpt[1].name), long_name.substr(0, 31));
  EXPECT_EQ(rk_proc_init(long_name.c_str(), ""), -22) << "found by what the slot keeps";
}

TEST_F(RegistrationTest, ThirtyOneNamesFillAnApplication) {
  for (int s = 0; s < 31; ++s) {
    const std::string task = s == 3 ? "PUMP" : "T" + std::to_string(s);
    ASSERT_EQ(rk_proc_init(task.c_str(), ""), s);
  }
  EXPECT_EQ(app(0)->registered, 0x7FFFFFFFu);
  EXPECT_EQ(rk_proc_init("T31", ""), -12);
  EXPECT_EQ(rk_proc_init("T7", ""), -22);
}

TEST_F(RegistrationTest, ATaskNameIsFreeAgainAfterItsClientLeaves) {
  Client first, second;
  EXPECT_EQ(first.call("procinit PUMP"), "ok 3");
  EXPECT_EQ(second.call("procinit Pump"), "ok -22");
  EXPECT_EQ(second.call("procinit #0:3"), "ok -22");

  AppBlock* ops = app(0);
  ops->queued |= 8;
  ops->waiting[2] |= 8;
  ops->pending_wake |= 8;
  EXPECT_EQ(first.call("procexit 3"), "ok 0");
  const CptEntry& pump = ops->cpt[3];
  EXPECT_EQ(pump.stat, 1);
  EXPECT_EQ(pump.pid, 0u);
  EXPECT_EQ(ops->registered | ops->queued | ops->waiting[2], 0u);
  EXPECT_EQ(ops->pending_wake, 8u);
  EXPECT_EQ(first.call("procexit 3"), "ok -1") << "left already";
  EXPECT_EQ(first.call("errno 3"), "ok -1");

  EXPECT_EQ(second.call("procinit PUMP"), "ok 3") << "the same slot and id";
  EXPECT_EQ(pump.pid, static_cast<uint32_t>(second.pid()));
  for (Client* c : {&first, &second}) c->send("exit 0");
  for (Client* c : {&first, &second}) EXPECT_EQ(c->wait_exit(), 0);
}

TEST_F(RegistrationTest, SlotZeroIsNotLeftThroughProcExit) {
  ASSERT_EQ(rk_proc_init("MANAGER", ""), 0);
  EXPECT_EQ(rk_proc_exit(0), 0);
  EXPECT_EQ(app(0)->cpt[0].stat, 3);
  EXPECT_EQ(app(0)->registered, 1u);
  EXPECT_EQ(rk_proc_exit(0x0007), -1) << "no client there";
  EXPECT_EQ(rk_proc_exit(0x0300), -1) << "no such application";
}

TEST_F(RegistrationTest, ExitTrapEndsEveryClientOfTheProcessAndGivesTheMutexBack) {
  Client c;
  EXPECT_EQ(c.call("procinit PUMP"), "ok 3");
  EXPECT_EQ(c.call("procinitapp #0:0 Plant OPS B"), "ok 256");
  EXPECT_EQ(c.call("take -1"), "ok 0");
  EXPECT_EQ(c.call("take -1"), "ok 0");
  EXPECT_EQ(val(kgd()->mtx_pid), static_cast<uint32_t>(c.pid()));

  EXPECT_EQ(c.call("exittrap"), "ok");
  EXPECT_EQ(val(kgd()->mtx_pid), 0u);
  EXPECT_EQ(val(kgd()->mtx_depth), 0u);
  for (uint16_t id : {0x0003, 0x0100}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(entry(id).stat, 1) << "configured again";
    EXPECT_EQ(entry(id).pid, 0u);
  }
  EXPECT_EQ(app(0)->registered | app(1)->registered, 0u);
  EXPECT_EQ(rk_proc_init("PUMP", ""), 3);
  c.send("exit 0");
  EXPECT_EQ(c.wait_exit(), 0);
}

}  // namespace
}  // namespace rk::test
