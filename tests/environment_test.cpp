// The environment calls on a live RTDB: its name and directories, a slot's
// tags and command line, the domains and instances, the configuration
// time; then every refusal of every call, on a live RTDB and in a process
// with none attached, none of which may write anything.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

constexpr rk_client_id kPump = 0x0003;     // configured, and this process registers there
constexpr rk_client_id kValve = 0x0004;    // configured, never registered
constexpr rk_client_id kUnused = 0x0105;   // a slot of an application never started

constexpr uint32_t kPumpTags[3] = {0x00020001, 0x00020002, 0x00050000};
constexpr uint32_t kValveTags[3] = {0x00010007, 0x00010008, 0x00010009};

uint32_t word(const rk_tag_ref& ref) {
  uint32_t w;
  memcpy(&w, &ref, sizeof w);
  return w;
}

// Time records compared as times: year, month, day, hour, minute, second,
// hundredths.
std::vector<uint16_t> as_time(const uint16_t* t) { return {t[6], t[5], t[4], t[0], t[1], t[2], t[3]}; }

// The RTDB "Waterworks" with the domains OPS (two instances) and LAB (one),
// OPS A started with PUMP and VALVE configured; this process is PUMP.
class EnvironmentTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    rk_kusr kusrs[] = {kusr("OPS", 2), kusr("LAB", 1)};
    strcpy(kusrs[1].text, "laboratory");
    rk_type_entry types[] = {type_entry("ANALOG", 0, 10, 4)};
    rk_get_tick(nullptr, before_);
    ASSERT_EQ(rk_create_rtdb("/opt/rk/bin", "/srv/waterworks", "Waterworks", kusrs, 2, types, 1, 0, 0, 0), 0);
    rk_get_tick(nullptr, after_);
    std::vector<rk_cpt_entry> table = app_template({{3, "PUMP"}, {4, "VALVE"}});
    strcpy(table[3].cmdline, "pump --fast");
    strcpy(table[4].cmdline, "valve -q");
    memcpy(table[3].env_refs, kPumpTags, sizeof kPumpTags);
    memcpy(table[4].env_refs, kValveTags, sizeof kValveTags);
    ASSERT_EQ(rk_init_app("Waterworks", "OPS", "A", table.data()), 0);
    ASSERT_EQ(rk_proc_init_app("PUMP", "", "Waterworks", "OPS", "A"), kPump);
  }
  void TearDown() override {
    rk_exit_trap();
    rk_unmap_kgd();
    KernelTest::TearDown();
  }

  static AppBlock* app(uint32_t a) { return app_block(attachment().kgd, a); }

  uint16_t before_[8] = {};
  uint16_t after_[8] = {};
};

TEST_F(EnvironmentTest, NameAndDirectories) {
  char buffer[64];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(rk_get_name(buffer, 4), 0);
  EXPECT_EQ(std::string(buffer, 5), std::string("Wat\0#", 5)) << "three characters and a NUL, nothing past len";
  EXPECT_EQ(rk_get_name(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "Waterworks");

  EXPECT_EQ(rk_get_app_dir(0x7777, buffer), 0) << "the id is not used";
  EXPECT_STREQ(buffer, "/srv/waterworks");
  EXPECT_EQ(rk_get_pgm_dir(0x7777, buffer), 0);
  EXPECT_STREQ(buffer, "/opt/rk/bin");
}

TEST_F(EnvironmentTest, LiveClientsCommandLineAndTags) {
  char line[128];
  EXPECT_EQ(rk_get_cmd_line(kPump, line), 0);
  EXPECT_STREQ(line, "pump --fast");
  rk_tag_ref tag{};
  EXPECT_EQ(rk_get_ctrl_tag(kPump, &tag), 0);
  EXPECT_EQ(word(tag), kPumpTags[0]);
  EXPECT_EQ(rk_get_stat_tag(kPump, &tag), 0);
  EXPECT_EQ(word(tag), kPumpTags[1]);
  EXPECT_EQ(rk_get_msg_tag(kPump, &tag), 0);
  EXPECT_EQ(word(tag), kPumpTags[2]);
}

TEST_F(EnvironmentTest, ASlotsEnvironmentRegisteredOrNot) {
  rk_env_record r;
  memset(&r, '#', sizeof r);
  ASSERT_EQ(rk_get_env(kValve, &r), 0) << "configured by the template, never registered";
  EXPECT_EQ(word(r.control_tag), kValveTags[0]);
  EXPECT_EQ(word(r.status_tag), kValveTags[1]);
  EXPECT_EQ(word(r.message_tag), kValveTags[2]);
  EXPECT_STREQ(r.app_dir, "/srv/waterworks");
  EXPECT_STREQ(r.pgm_dir, "/opt/rk/bin");
  EXPECT_STREQ(r.cmdline, "valve -q");

  ASSERT_EQ(rk_get_env(kUnused, &r), 0) << "an application that never ran: zeros";
  EXPECT_EQ(word(r.control_tag) | word(r.status_tag) | word(r.message_tag), 0u);
  EXPECT_STREQ(r.cmdline, "");

  // Set, then read back; the record's directories are not written anywhere.
  r.control_tag = {1, 2};
  r.status_tag = {3, 4};
  r.message_tag = {5, 6};
  strcpy(r.app_dir, "/elsewhere");
  strcpy(r.pgm_dir, "/elsewhere");
  strcpy(r.cmdline, "valve --slow");
  ASSERT_EQ(rk_set_env(kValve, &r), 0);
  rk_env_record back{};
  ASSERT_EQ(rk_get_env(kValve, &back), 0);
  EXPECT_EQ(word(back.control_tag), 0x00020001u);
  EXPECT_EQ(word(back.message_tag), 0x00060005u);
  EXPECT_STREQ(back.cmdline, "valve --slow");
  EXPECT_STREQ(back.app_dir, "/srv/waterworks");
  char dir[64];
  ASSERT_EQ(rk_get_pgm_dir(0, dir), 0);
  EXPECT_STREQ(dir, "/opt/rk/bin");
}

// A command line that runs on past its field (200 characters, no NUL) is
// cut to 127 and terminated; the entry's next field stays as it was.
TEST_F(EnvironmentTest, SetEnvCutsAnUnterminatedCommandLine) {
  std::vector<char> memory(offsetof(rk_env_record, cmdline) + 200, 'x');
  memset(memory.data(), 0, offsetof(rk_env_record, cmdline));
  CptEntry& valve = app(0)->cpt[4];
  strcpy(valve.args, "after");
  ASSERT_EQ(rk_set_env(kValve, reinterpret_cast<const rk_env_record*>(memory.data())), 0);
  EXPECT_EQ(std::string(valve.cmdline), std::string(127, 'x'));
  EXPECT_STREQ(valve.args, "after");
}

TEST_F(EnvironmentTest, Domains) {
  EXPECT_EQ(rk_get_nkusrs(), 2);
  rk_kusr k;
  memset(&k, '#', sizeof k);
  ASSERT_EQ(rk_get_kusr("lab", &k), 0) << "the name is compared without regard to case";
  EXPECT_EQ(std::string(k.name, sizeof k.name), std::string("LAB") + std::string(13, '\0'));
  EXPECT_STREQ(k.text, "laboratory");
  EXPECT_EQ(val(k.instances), 1u);
  ASSERT_EQ(rk_nth_kusr(0, &k), 0);
  EXPECT_STREQ(k.name, "OPS");
  EXPECT_EQ(val(k.instances), 2u);
}

TEST_F(EnvironmentTest, Instances) {
  EXPECT_EQ(rk_get_nkinsts(), 3);
  rk_kinst_record r;
  memset(&r, '#', sizeof r);
  ASSERT_EQ(rk_get_kinst("ops", "a", &r), 0);
  EXPECT_EQ(val(r.active), 1u);
  EXPECT_EQ(val(r.kusr), 0);
  EXPECT_EQ(std::string(r.instance, sizeof r.instance), std::string(16, '\0')) << "the caller gave the name";

  memset(&r, '#', sizeof r);
  EXPECT_EQ(rk_get_kinst("LAB", "A", &r), -1) << "no such instance";
  rk_kinst_record expected{};
  expected.kusr = -1;
  EXPECT_EQ(memcmp(&r, &expected, sizeof r), 0) << "all zero but the kusr index, -1";

  ASSERT_EQ(rk_nth_kinst(2, &r), 0) << "LAB's block, free";
  EXPECT_EQ(val(r.active), 0u);
  EXPECT_EQ(val(r.kusr), 1);
  ASSERT_EQ(rk_nth_kinst(0, &r), 0);
  EXPECT_STREQ(r.instance, "A");
  memset(&r, '#', sizeof r);
  EXPECT_EQ(rk_nth_kinst(3, &r), -1) << "one past the applications";
  const rk_kinst_record zero{};
  EXPECT_EQ(memcmp(&r, &zero, sizeof r), 0);

  // The instance words: which selects them, nothing else of the block moves.
  rk_kinst_record words{};
  words.instance1 = 11;
  words.instance2 = 22;
  words.active = 7;
  const std::string block_before(reinterpret_cast<const char*>(app(1)), sizeof(AppBlock));
  ASSERT_EQ(rk_set_kinst(1, 0, &words), 0);
  ASSERT_EQ(rk_set_kinst(1, 2, &words), 0);
  EXPECT_EQ(val(app(1)->instance1), 0u);
  EXPECT_EQ(val(app(1)->instance2), 22u);
  ASSERT_EQ(rk_set_kinst(1, 1, &words), 0);
  ASSERT_EQ(rk_nth_kinst(1, &r), 0);
  EXPECT_EQ(val(r.instance1), 11u);
  EXPECT_EQ(val(r.instance2), 22u);
  std::string block_after(reinterpret_cast<const char*>(app(1)), sizeof(AppBlock));
  block_after.replace(offsetof(AppBlock, instance1), 8, block_before, offsetof(AppBlock, instance1), 8);
  EXPECT_EQ(block_after, block_before);
}

TEST_F(EnvironmentTest, ConfigurationTime) {
  rk_config_time t{};
  ASSERT_EQ(rk_last_newconfig(0, &t), 0);
  uint16_t created[8];
  memcpy(created, &t, sizeof created);
  EXPECT_LE(as_time(before_), as_time(created)) << "the creation time";
  EXPECT_LE(as_time(created), as_time(after_));

  const rk_config_time set{1, 2, 3, 4, 5, 6, 2027, 0, 0xBEEF};
  ASSERT_EQ(rk_last_newconfig(1, const_cast<rk_config_time*>(&set)), 0);
  EXPECT_EQ(memcmp(&attachment().kgd->config_time, &set, sizeof set), 0);
  rk_config_time back;
  memset(&back, '#', sizeof back);
  ASSERT_EQ(rk_last_newconfig(0, &back), 0);
  EXPECT_EQ(memcmp(&back, &set, sizeof set), 0) << "all 18 bytes, the last word too";
}

// A call that is refused returns -1 and writes nothing.
struct Refusal {
  const char* what;
  std::function<int()> call;
};

// The buffers that refused calls are given: they must stay as filled.
struct Untouched {
  char text[200];
  rk_tag_ref tag;
  rk_env_record env;
  rk_kusr kusr;
  rk_kinst_record kinst;
  rk_config_time time;

  Untouched() { memset(this, '#', sizeof *this); }
  bool intact() const {
    Untouched fresh;
    return memcmp(this, &fresh, sizeof fresh) == 0;
  }
};

void expect_refused(const std::vector<Refusal>& refusals, const Untouched& b) {
  for (const Refusal& r : refusals) EXPECT_EQ(r.call(), -1) << r.what;
  EXPECT_TRUE(b.intact());
}

TEST_F(EnvironmentTest, RefusalsWriteNothing) {
  Untouched b;
  const rk_config_time time_before = attachment().kgd->config_time;
  const std::string apps_before(reinterpret_cast<const char*>(app(0)), 3 * sizeof(AppBlock));
  expect_refused(
      {
          {"name: null", [&] { return rk_get_name(nullptr, 8); }},
          {"name: len 0", [&] { return rk_get_name(b.text, 0); }},
          {"name: len -1", [&] { return rk_get_name(b.text, -1); }},
          {"app dir: null", [&] { return rk_get_app_dir(kPump, nullptr); }},
          {"program dir: null", [&] { return rk_get_pgm_dir(kPump, nullptr); }},
          {"command line: null", [&] { return rk_get_cmd_line(kPump, nullptr); }},
          {"command line: no live client", [&] { return rk_get_cmd_line(kValve, b.text); }},
          {"command line: no slot 31", [&] { return rk_get_cmd_line(0x001F, b.text); }},
          {"control tag: null", [&] { return rk_get_ctrl_tag(kPump, nullptr); }},
          {"status tag: null", [&] { return rk_get_stat_tag(kPump, nullptr); }},
          {"message tag: null", [&] { return rk_get_msg_tag(kPump, nullptr); }},
          {"control tag: no live client", [&] { return rk_get_ctrl_tag(kValve, &b.tag); }},
          {"status tag: application not running", [&] { return rk_get_stat_tag(kUnused, &b.tag); }},
          {"message tag: no application", [&] { return rk_get_msg_tag(0x0303, &b.tag); }},
          {"get env: null", [&] { return rk_get_env(kValve, nullptr); }},
          {"get env: no application", [&] { return rk_get_env(0x0300, &b.env); }},
          {"get env: negative application", [&] { return rk_get_env(0xFF00, &b.env); }},
          {"get env: slot 31", [&] { return rk_get_env(0x001F, &b.env); }},
          {"set env: null", [&] { return rk_set_env(kValve, nullptr); }},
          {"set env: no application", [&] { return rk_set_env(0x0300, &b.env); }},
          {"set env: slot 31", [&] { return rk_set_env(0x011F, &b.env); }},
          {"kusr: null record", [&] { return rk_get_kusr("OPS", nullptr); }},
          {"kusr: null name", [&] { return rk_get_kusr(nullptr, &b.kusr); }},
          {"kusr: unknown", [&] { return rk_get_kusr("DEPOT", &b.kusr); }},
          {"nth kusr: null", [&] { return rk_nth_kusr(0, nullptr); }},
          {"nth kusr: -1", [&] { return rk_nth_kusr(-1, &b.kusr); }},
          {"nth kusr: past the end", [&] { return rk_nth_kusr(2, &b.kusr); }},
          {"kinst: null record", [&] { return rk_get_kinst("OPS", "A", nullptr); }},
          {"kinst: null domain", [&] { return rk_get_kinst(nullptr, "A", &b.kinst); }},
          {"kinst: null instance", [&] { return rk_get_kinst("OPS", nullptr, &b.kinst); }},
          {"nth kinst: null", [&] { return rk_nth_kinst(0, nullptr); }},
          {"nth kinst: -1", [&] { return rk_nth_kinst(-1, &b.kinst); }},
          {"set kinst: null", [&] { return rk_set_kinst(0, 3, nullptr); }},
          {"set kinst: -1", [&] { return rk_set_kinst(-1, 3, &b.kinst); }},
          {"set kinst: past the end", [&] { return rk_set_kinst(3, 3, &b.kinst); }},
          {"newconfig: mode 2", [&] { return rk_last_newconfig(2, &b.time); }},
          {"newconfig: mode -1", [&] { return rk_last_newconfig(-1, &b.time); }},
          {"newconfig: null to read", [&] { return rk_last_newconfig(0, nullptr); }},
          {"newconfig: null to store", [&] { return rk_last_newconfig(1, nullptr); }},
      },
      b);
  EXPECT_EQ(memcmp(&attachment().kgd->config_time, &time_before, sizeof time_before), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(app(0)), 3 * sizeof(AppBlock)), apps_before);
}

// Nothing is attached in this process: every call refuses, and none reads
// memory that is not there.
TEST_F(KernelTest, EnvironmentCallsWithoutAnRtdbRefuse) {
  Untouched b;
  expect_refused(
      {
          {"name", [&] { return rk_get_name(b.text, sizeof b.text); }},
          {"app dir", [&] { return rk_get_app_dir(0, b.text); }},
          {"program dir", [&] { return rk_get_pgm_dir(0, b.text); }},
          {"command line", [&] { return rk_get_cmd_line(0, b.text); }},
          {"control tag", [&] { return rk_get_ctrl_tag(0, &b.tag); }},
          {"status tag", [&] { return rk_get_stat_tag(0, &b.tag); }},
          {"message tag", [&] { return rk_get_msg_tag(0, &b.tag); }},
          {"get env", [&] { return rk_get_env(0, &b.env); }},
          {"set env", [&] { return rk_set_env(0, &b.env); }},
          {"kusr count", [&] { return rk_get_nkusrs(); }},
          {"kusr", [&] { return rk_get_kusr("OPS", &b.kusr); }},
          {"nth kusr", [&] { return rk_nth_kusr(0, &b.kusr); }},
          {"kinst count", [&] { return rk_get_nkinsts(); }},
          {"kinst", [&] { return rk_get_kinst("OPS", "A", &b.kinst); }},
          {"nth kinst", [&] { return rk_nth_kinst(0, &b.kinst); }},
          {"set kinst", [&] { return rk_set_kinst(0, 3, &b.kinst); }},
          {"newconfig read", [&] { return rk_last_newconfig(0, &b.time); }},
          {"newconfig store", [&] { return rk_last_newconfig(1, &b.time); }},
          {"reset", [&] { return rk_reset_app_mem(0); }},
      },
      b);
}

}  // namespace
}  // namespace rk::test
