// Tests of runs whose processes end at any moment, normally or killed. The
// run manager is a client process as well, so this process maps no RTDB: a
// crash anywhere shows as a client that stopped answering, never as a dead
// test. Every wait is bounded, so a hang shows as a failed step.
#pragma once

#include <memory>
#include <string>

#include "support/kernel_test.h"

namespace rk::test {

// Long enough for any step on a loaded machine; reaching it is a failure.
constexpr int kStepBoundMs = 20000;

// The reply to a command, or "timeout" when none came within the bound.
std::string bounded_call(Client& client, const std::string& command, int ms = kStepBoundMs);
// The reply to a command sent earlier, or "timeout".
std::string bounded_reply(Client& client, int ms = kStepBoundMs);

// A client process whose registrations (rk_proc_init) go to instance
// `user` of domain `domain`; null leaves the variables unset.
std::unique_ptr<Client> spawn_client(const char* domain = nullptr, const char* user = nullptr);

// A client process registered as `task` in that instance of the RTDB in
// RKNAME; its id is checked.
std::unique_ptr<Client> registered(const std::string& task, const char* domain, const char* user, uint16_t id);

// The RTDB "Plant" with the domains OPS (two instances) and LAB (one), the
// type ANALOG and four memory pools, made and run by a run manager process
// that started OPS A (application 0) and OPS B (application 1).
class PlantRunTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  void start_run();
  // Application 1, then 0, whose exit deletes the RTDB, through `by`
  // (the run manager unless said otherwise).
  void end_run(Client* by = nullptr);

  std::unique_ptr<Client> run_manager_;
};

}  // namespace rk::test
