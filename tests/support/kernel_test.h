// Test support: every test runs in a namespace of its own and must leave no
// object behind; scripted client processes are driven through pipes.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/unaligned.h"

namespace rk::test {

// Where the tests map segment 0: the kernel's default, except under
// AddressSanitizer, whose shadow memory takes 0x20000000-0x3fffffff on i386;
// the sanitizer build moves it (RKDLLBASE) and every test address with it.
#ifdef RK_TEST_DLLBASE
inline constexpr uint32_t kTestBase = RK_TEST_DLLBASE;
#else
inline constexpr uint32_t kTestBase = 0x20800000;
#endif
// A range of its own, well above the RTDB's, for views that belong to no RTDB.
inline constexpr uint32_t kTestViewBase = kTestBase + 0x0F800000;

// A client process (tests/client) driven by one command line per step.
class Client {
 public:
  explicit Client(const std::vector<std::string>& args = {});
  // A client of another program built with the same commands: the test
  // client of the other variant.
  Client(const std::string& program, const std::vector<std::string>& args);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Sends a command and returns its reply line ("ok ..." or "err N").
  std::string call(const std::string& command);
  // Sends a command whose reply is read later with reply().
  void send(const std::string& command);
  std::string reply();
  // True when a reply line is ready within the given milliseconds.
  bool reply_ready(int ms);

  // The number after "ok", failing the test on any other reply.
  uint32_t ok(const std::string& command);

  void kill_hard();       // SIGKILL, then reaped
  int wait_exit();        // exit status after "exit N"
  int wait_signal();      // the signal that ended the process, 0 for none
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::string buffer_;
};

// Captures what the process writes to its standard output.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  std::string text();   // stops capturing and returns what was written
 private:
  int saved_ = -1;
  int read_ = -1;
  bool done_ = false;
  std::string text_;
};

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The /dev/shm names of this test's namespace that still exist.
  std::vector<std::string> objects_left() const;
  // The /dev/shm path of a kernel object name in this test's namespace.
  std::string shm_file(const std::string& name) const;

  std::string ns_;
};

}  // namespace rk::test
