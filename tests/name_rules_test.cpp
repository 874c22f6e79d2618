// Finding slots, entries, applications and RTDBs by name.
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/client_ids.h"
#include "core/name_rules.h"
#include "core/rtdb_lookup.h"
#include "core/attachment.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

class NameRulesTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    rk_kusr kusrs[] = {kusr("OPS", 2), kusr("SIXTEEN_CHARS_XX", 1)};
    rk_type_entry types[] = {type_entry("ANALOG", 0, 10, 4)};
    ASSERT_EQ(rk_create_rtdb("", "", "Plant", kusrs, 2, types, 1, 0, 0, 0), 0);
    kgd_ = attachment().kgd;
  }
  void TearDown() override {
    rk_unmap_kgd();
    KernelTest::TearDown();
  }
  AppBlock* app(uint32_t a) const { return app_block(kgd_, a); }

  Kgd* kgd_ = nullptr;
};

TEST_F(NameRulesTest, SlotByNameAndFreeSlot) {
  AppBlock* ops = app(0);
  strcpy(ops->cpt[0].name, "MANAGER");
  strcpy(ops->cpt[3].name, "Pump");
  const std::string long_name(40, 'L');
  memcpy(ops->cpt[4].name, long_name.data(), 31);   // what a slot keeps of it
  strcpy(ops->cpt[6].name, "pump");
  struct {
    const char* name;
    int32_t slot;
  } cases[] = {
      {"PUMP", 3},          {"pump", 3},         {"Pum", -1},         {"Pumps", -1},
      {"", -1},             {long_name.c_str(), 4},
      // The numeric form is taken as it is, whatever the slots hold.
      {"#0:5", 5},          {"#00:007", 7},      {"#1:5", 0x105},     {"#0:31", 31},
      {"#99999999999:1", (0xFFFF << 8) + 1}, {"#0:", -1},   {"#:5", -1}, {"#0:5x", -1},
      {"#0-5", -1},         {"0:5", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(slot_by_name(ops, c.name), c.slot) << c.name;
  EXPECT_EQ(slot_by_name(nullptr, "Pump"), -1);
  EXPECT_EQ(slot_by_name(nullptr, "#0:2"), 2);
  EXPECT_EQ(slot_by_name(ops, nullptr), -1);

  EXPECT_EQ(free_slot(ops), 1);
  for (CptEntry& e : ops->cpt) strcpy(e.name, "X");
  EXPECT_EQ(free_slot(ops), -1);
  EXPECT_EQ(free_slot(nullptr), -1);
}

// Lookups by name within one application: the numeric form must name one
// of its slots, or the id built from it would name another.
TEST_F(NameRulesTest, SlotInApplicationAndTaskNames) {
  AppBlock* ops = app(0);
  strcpy(ops->cpt[3].name, "Pump");
  struct {
    const char* name;
    int32_t slot;
  } cases[] = {{"PUMP", 3}, {"#0:30", 30}, {"#0:31", -1}, {"#1:5", -1}, {"#0:65535", -1}, {"Valve", -1}, {"", -1}};
  for (const auto& c : cases) EXPECT_EQ(slot_in_app(ops, c.name), c.slot) << c.name;
  EXPECT_EQ(slot_in_app(ops, nullptr), -1);

  EXPECT_TRUE(has_task_name(ops->cpt[3], "pUMP"));
  EXPECT_FALSE(has_task_name(ops->cpt[3], "Pumps"));
  EXPECT_FALSE(has_task_name(ops->cpt[3], nullptr));
}

TEST_F(NameRulesTest, EntryByProcessIdGoesInApplicationAndSlotOrder) {
  const uint32_t self = static_cast<uint32_t>(getpid());
  EXPECT_EQ(entry_by_pid(self), nullptr);
  app(2)->cpt[0].pid = self;
  app(1)->cpt[30].pid = self;
  app(1)->cpt[7].pid = self + 1;
  EXPECT_EQ(entry_by_pid(self), &app(1)->cpt[30]) << "the state of the entry does not count";
  EXPECT_EQ(entry_by_pid(self + 1), &app(1)->cpt[7]);
  EXPECT_EQ(entry_by_pid(0), nullptr) << "free slots are nobody's";
}

TEST_F(NameRulesTest, ApplicationByDomainAndInstanceName) {
  strcpy(app(0)->instance, "Line1");
  strcpy(app(1)->instance, "LINE1");
  strcpy(app(2)->instance, "Line1");
  app(1)->active = 1;
  app(2)->active = 1;
  EXPECT_EQ(app_by_names("ops", "line1"), app(0)) << "active or not";
  EXPECT_EQ(active_app_by_names("Ops", "Line1"), app(1));
  // A kusr name may use all 16 bytes; the domain given must match exactly.
  EXPECT_EQ(app_by_names("sixteen_chars_xx", "Line1"), app(2));
  EXPECT_EQ(app_by_names("SIXTEEN_CHARS_XXY", "Line1"), nullptr);
  EXPECT_EQ(app_by_names("SIXTEEN_CHARS_X", "Line1"), nullptr);
  EXPECT_EQ(app_by_names("OPS", "Line"), nullptr);
  EXPECT_EQ(app_by_names("LAB", "Line1"), nullptr);
  EXPECT_EQ(app_by_names(nullptr, "Line1"), nullptr);
  rk_reinit();
  EXPECT_EQ(app_by_names("OPS", "Line1"), nullptr) << "not valid";
}

TEST_F(NameRulesTest, RtdbLookupUsesTheAttachedOneOrAttaches) {
  bool now = true;
  EXPECT_EQ(find_rtdb("PLANT", &now), kgd_);
  EXPECT_FALSE(now);
  EXPECT_EQ(find_rtdb("Other", &now), nullptr) << "attached to another RTDB";
  EXPECT_EQ(find_rtdb("", &now), nullptr);

  // Another process holds the RTDB; this one finds it among the kgds.
  Client holder;
  holder.ok("mapfirst");
  rk_unmap_kgd();
  EXPECT_EQ(find_rtdb("Plan", &now), nullptr);
  EXPECT_EQ(attachment().kgd, nullptr) << "what did not match was let go";
  Kgd* found = find_rtdb("plant", &now);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(now);
  EXPECT_EQ(attachment().kgd, found);
  EXPECT_STREQ(found->name, "Plant");
  holder.send("exit 0");
  EXPECT_EQ(holder.wait_exit(), 0);
}

}  // namespace
}  // namespace rk::test
