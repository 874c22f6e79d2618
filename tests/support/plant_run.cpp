#include "support/plant_run.h"

#include <cstdlib>
#include <optional>

namespace rk::test {

std::string bounded_reply(Client& client, int ms) { return client.reply_ready(ms) ? client.reply() : "timeout"; }

std::string bounded_call(Client& client, const std::string& command, int ms) {
  client.send(command);
  return bounded_reply(client, ms);
}

namespace {

// Sets an environment variable for a while; null unsets it.
class EnvFor {
 public:
  EnvFor(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvFor() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace

std::unique_ptr<Client> spawn_client(const char* domain, const char* user) {
  // A spawned process takes this process's environment as it is now.
  EnvFor d("RKDOMAIN", domain);
  EnvFor u("RKUSER", user);
  return std::make_unique<Client>();
}

std::unique_ptr<Client> registered(const std::string& task, const char* domain, const char* user, uint16_t id) {
  auto client = spawn_client(domain, user);
  EXPECT_EQ(bounded_call(*client, "procinit " + task), "ok " + std::to_string(id)) << task;
  return client;
}

void PlantRunTest::SetUp() {
  KernelTest::SetUp();
  setenv("RKNAME", "Plant", 1);
}

void PlantRunTest::TearDown() {
  run_manager_.reset();
  unsetenv("RKNAME");
  KernelTest::TearDown();
}

void PlantRunTest::start_run() {
  run_manager_ = spawn_client();
  ASSERT_EQ(bounded_call(*run_manager_, "rtdbmake Plant 2 1 4 0"), "ok 0");
  ASSERT_EQ(bounded_call(*run_manager_, "initapp Plant OPS A"), "ok 0");
  ASSERT_EQ(bounded_call(*run_manager_, "initapp Plant OPS B"), "ok 1");
}

void PlantRunTest::end_run(Client* by) {
  Client& c = by != nullptr ? *by : *run_manager_;
  EXPECT_EQ(bounded_call(c, "exitapp 256"), "ok 0");
  EXPECT_EQ(bounded_call(c, "exitapp 0"), "ok 0");
}

}  // namespace rk::test
