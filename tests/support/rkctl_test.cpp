#include "support/rkctl_test.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "support/child_program.h"

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

std::string RkctlTest::demo_plant() {
  if (*emulator() == '\0') return RK_DEMO_PLANT;
  const std::string rkctl = RKCTL;
  const std::string bin = rkctl.substr(0, rkctl.rfind('/'));
  for (const char* program : {"rk_demo_field", "rk_demo_controller", "rk_demo_alarm"}) {
    const std::string script = dir_ + "/" + program;
    std::ofstream(script) << "#!/bin/sh\nexec " << emulator() << " " << bin << "/" << program << " \"$@\"\n";
    chmod(script.c_str(), 0755);
  }
  std::ifstream demo(RK_DEMO_PLANT);
  std::string text((std::istreambuf_iterator<char>(demo)), std::istreambuf_iterator<char>());
  const size_t rtdb = text.find("[rtdb]\n");
  if (rtdb == std::string::npos) {
    ADD_FAILURE() << "the demo plant has no [rtdb] table";
  } else {
    text.insert(rtdb + 7, "program_dir = \"" + dir_ + "\"\n");
  }
  return plant(text);
}

std::string one_instance(const std::string& name, const std::string& types, const std::string& clients) {
  return "[rtdb]\nname = \"" + name + "\"\n[[domain]]\nname = \"OPS\"\n" + types +
         "[[instance]]\ndomain = \"OPS\"\nname = \"A\"\n" + clients;
}

}  // namespace rk::test
