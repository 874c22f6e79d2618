// Tests of applications and clients: this process creates the RTDB "Plant"
// with the domains OPS (two instances, applications 0 and 1) and LAB (one,
// application 2) and acts as its run manager. Clients register from this
// process or from client processes, which inherit RKNAME, RKDOMAIN and
// RKUSER from it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {

class AppTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  Kgd* kgd() const;
  AppBlock* app(uint32_t a) const;
  CptEntry& entry(uint16_t id) const;

  // Sets RKDOMAIN and RKUSER for registrations started from now on; null
  // unsets a variable.
  static void client_env(const char* domain, const char* user);

  // A client process registered under `task`; its id is checked. It lives
  // until the test ends.
  Client& client(const std::string& task, uint16_t id);

  std::vector<std::unique_ptr<Client>> clients_;
};

// Spins until cond holds: the condition is a state the kernel writes, so
// this waits for the other process, never for time to pass. False only when
// it never holds, after a bound generous enough never to matter.
bool await(const std::function<bool()>& cond);

}  // namespace rk::test
