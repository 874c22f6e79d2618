// Process identity, environment and time as the kernel reads them.
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "platform/clock.h"
#include "platform/process_info.h"
#include "support/kernel_test.h"

namespace rk::test {
namespace {

using ProcessInfoTest = KernelTest;

TEST_F(ProcessInfoTest, IdentityOfAnotherProcess) {
  Client c({"first arg", "second"});
  char exe[PATH_MAX];
  ASSERT_NE(realpath(RK_TEST_CLIENT, exe), nullptr);
  std::string expected = "ok " + std::to_string(c.pid()) + "|" + RK_TEST_CLIENT + " first arg second|" + exe;
  EXPECT_EQ(c.call("whoami"), expected);
}

TEST_F(ProcessInfoTest, ForkedChildHasItsOwnId) {
  ASSERT_EQ(os::process_id(), static_cast<uint32_t>(getpid()));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(os::process_id() == static_cast<uint32_t>(getpid()) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child saw its parent's id";
  EXPECT_EQ(os::process_id(), static_cast<uint32_t>(getpid()));
}

TEST_F(ProcessInfoTest, EnvironmentVariables) {
  setenv("RK_PROBE", "x1", 1);
  EXPECT_STREQ(os::env_var("RK_PROBE"), "x1");
  unsetenv("RK_PROBE");
  EXPECT_EQ(os::env_var("RK_PROBE"), nullptr);
  EXPECT_EQ(os::env_var(nullptr), nullptr);
}

TEST_F(ProcessInfoTest, TicksAdvanceAcrossASleepAndLocalTimeIsNow) {
  uint32_t before = os::tick_count();
  os::sleep_ms(20);
  EXPECT_GE(os::tick_count() - before, 20u);   // unsigned: right across a wrap too

  time_t now = time(nullptr);
  os::LocalTime lt = os::local_time();
  tm t{};
  localtime_r(&now, &t);
  EXPECT_EQ(lt.year, t.tm_year + 1900);
  EXPECT_EQ(lt.month, t.tm_mon + 1);
  EXPECT_EQ(lt.weekday, t.tm_wday);
  EXPECT_LT(lt.millisecond, 1000);
}

}  // namespace
}  // namespace rk::test
