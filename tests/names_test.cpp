// Clients looked up by name, and names by client id.
#include <cstring>
#include <string>

#include "core/errors.h"
#include "core/records.h"
#include "rk.h"
#include "support/app_test.h"

namespace rk::test {
namespace {

// Application 0 (OPS A) configures BOSS, which this process registers as,
// and IDLE, which nobody registers; application 1 (OPS B) configures REMOTE.
class NamesTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", app_template({{0, "BOSS"}, {3, "IDLE"}}).data()), 0);
    ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template({{4, "REMOTE"}}).data()), 1);
    ASSERT_EQ(rk_proc_init("BOSS", ""), 0);
  }
};

constexpr rk_client_id kBoss = 0x0000;

TEST_F(NamesTest, NamesGiveTheIdsOfTheirSlotsRegisteredOrNot) {
  struct {
    const char* kusr;   // null: rk_name_to_id in the caller's application
    const char* inst;
    const char* name;
    int result;         // the id, or the error number with -1
  } cases[] = {
      {nullptr, nullptr, "BOSS", 0x0000},
      {nullptr, nullptr, "idle", 0x0003},
      {nullptr, nullptr, "#0:7", 0x0007},
      {nullptr, nullptr, "#1:7", -kErrNotRegistered},   // names no slot of this application
      {nullptr, nullptr, "#0:31", -kErrNotRegistered},
      {nullptr, nullptr, "REMOTE", -kErrNotRegistered},
      {nullptr, nullptr, "", -kErrNotRegistered},
      {"OPS", "B", "REMOTE", 0x0104},
      {"ops", "b", "#0:2", 0x0102},
      {"OPS", "B", "BOSS", -kErrNotRegistered},
      {"OPS", "C", "REMOTE", -kErrNoApp},
      {"LAB", "B", "REMOTE", -kErrNoApp},
      {"", "", "REMOTE", -kErrNoApp},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kusr ? c.kusr : "own") + " " + c.name);
    entry(kBoss).errnum = 0;
    const int id = c.kusr ? rk_name_to_id_ex(kBoss, c.kusr, c.inst, c.name) : rk_name_to_id(kBoss, c.name);
    EXPECT_EQ(id, c.result < 0 ? -1 : c.result);
    EXPECT_EQ(entry(kBoss).errnum, c.result < 0 ? -c.result : 0);
  }
  entry(kBoss).errnum = 0;
  EXPECT_EQ(rk_name_to_id_ex(kBoss, nullptr, "B", "REMOTE"), -1);
  EXPECT_EQ(entry(kBoss).errnum, kErrNoApp);

  // A null name and callers that do not resolve store nothing.
  entry(kBoss).errnum = 0;
  EXPECT_EQ(rk_name_to_id(kBoss, nullptr), -1);
  EXPECT_EQ(rk_name_to_id_ex(kBoss, "OPS", "B", nullptr), -1);
  for (rk_client_id id : {0x0003, 0x001F, 0x0200, 0x7F00}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(rk_name_to_id(id, "BOSS"), -1);
    EXPECT_EQ(rk_name_to_id_ex(id, "OPS", "B", "REMOTE"), -1);
  }
  EXPECT_EQ(entry(kBoss).errnum, 0);

  // The lookup does not ask whether the application still runs.
  ASSERT_EQ(rk_exit_app(0x0100), 0);
  EXPECT_EQ(rk_name_to_id_ex(kBoss, "OPS", "B", "REMOTE"), 0x0104);
}

TEST_F(NamesTest, AnIdGivesItsSlotsNameAFreeSlotTheEmptyOne) {
  struct {
    rk_client_id id;
    const char* name;   // null: the call fails
  } cases[] = {
      {0x0000, "BOSS"}, {0x0003, "IDLE"}, {0x001E, ""}, {0x0104, "REMOTE"},
      {0x001F, nullptr}, {0x0200, nullptr},   // no slot; LAB does not run
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    char buffer[32];
    memset(buffer, 'x', sizeof buffer);
    if (c.name != nullptr) {
      EXPECT_EQ(rk_id_to_name(c.id, buffer), 0);
      EXPECT_STREQ(buffer, c.name);
    } else {
      EXPECT_EQ(rk_id_to_name(c.id, buffer), -1);
    }
  }
  EXPECT_EQ(rk_id_to_name(kBoss, nullptr), -1);
  EXPECT_EQ(rk_errno(kBoss), kErrNullArg);
}

}  // namespace
}  // namespace rk::test
