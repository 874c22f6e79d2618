#include "support/app_test.h"

#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "core/client_ids.h"
#include "core/attachment.h"
#include "rk.h"

namespace rk::test {

void AppTest::SetUp() {
  KernelTest::SetUp();
  rk_kusr kusrs[] = {kusr("OPS", 2), kusr("LAB", 1)};
  rk_type_entry types[] = {type_entry("ANALOG", 0, 10, 4)};
  ASSERT_EQ(rk_create_rtdb("", "", "Plant", kusrs, 2, types, 1, 0, 0, 0), 0);
  setenv("RKNAME", "Plant", 1);
  client_env("OPS", "A");
}

void AppTest::TearDown() {
  clients_.clear();   // ends the processes, before the leak check
  // Clients of this process close their event handles, or the events outlive the test.
  rk_exit_trap();
  rk_unmap_kgd();
  for (const char* v : {"RKNAME", "RKDOMAIN", "RKUSER"}) unsetenv(v);
  KernelTest::TearDown();
}

Kgd* AppTest::kgd() const { return attachment().kgd; }

AppBlock* AppTest::app(uint32_t a) const { return app_block(kgd(), a); }

CptEntry& AppTest::entry(uint16_t id) const { return app(id >> 8)->cpt[id & 255]; }

void AppTest::client_env(const char* domain, const char* user) {
  domain != nullptr ? setenv("RKDOMAIN", domain, 1) : unsetenv("RKDOMAIN");
  user != nullptr ? setenv("RKUSER", user, 1) : unsetenv("RKUSER");
}

Client& AppTest::client(const std::string& task, uint16_t id) {
  clients_.push_back(std::make_unique<Client>());
  EXPECT_EQ(clients_.back()->call("procinit " + task), "ok " + std::to_string(id));
  return *clients_.back();
}

bool await(const std::function<bool()>& cond) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    sched_yield();
  }
  return true;
}

}  // namespace rk::test
