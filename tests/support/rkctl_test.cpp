#include "support/rkctl_test.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

namespace rk::test {

void RkctlTest::SetUp() {
  KernelTest::SetUp();
  char dir[] = "/tmp/rkctl_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  // Readable by everybody: a test runs a tool as another user on it.
  chmod(dir, 0755);
  dir_ = dir;
}

void RkctlTest::TearDown() {
  // Whatever a failed step left running goes now, with its clients, so
  // that the namespace check below sees the RTDB as dead.
  for (auto& run : runs_) {
    const std::vector<pid_t> clients = run->started_pids();
    run->kill_hard();
    for (pid_t pid : clients) kill(pid, SIGKILL);
    EXPECT_TRUE(gone(clients, kBoundMs));
  }
  runs_.clear();
  std::system(("rm -rf " + dir_).c_str());
  KernelTest::TearDown();
}

std::string RkctlTest::plant(const std::string& text, const std::string& name) {
  const std::string path = dir_ + "/" + name;
  std::ofstream(path) << text;
  return path;
}

RkctlProcess& RkctlTest::start(const std::vector<std::string>& args, const SpawnOptions& options) {
  runs_.push_back(std::make_unique<RkctlProcess>(args, options));
  return *runs_.back();
}

int RkctlTest::line_of(const RkctlProcess& p, const std::string& text) {
  for (size_t i = 0; i < p.lines().size(); ++i) {
    if (p.lines()[i].find(text) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

std::string one_instance(const std::string& name, const std::string& types, const std::string& clients) {
  return "[rtdb]\nname = \"" + name + "\"\n[[domain]]\nname = \"OPS\"\n" + types +
         "[[instance]]\ndomain = \"OPS\"\nname = \"A\"\n" + clients;
}

}  // namespace rk::test
