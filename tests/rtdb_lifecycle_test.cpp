// Creating, finding, attaching to and deleting RTDBs.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "core/kernel_time.h"
#include "core/records.h"
#include "core/attachment.h"
#include "platform/clock.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

class LifecycleTest : public KernelTest {
 protected:
  void TearDown() override {
    rk_unmap_kgd();
    KernelTest::TearDown();
  }

  int create(const char* name, std::vector<rk_type_entry> types = {type_entry("ANALOG", 0, 10, 4)},
             std::vector<rk_kusr> kusrs = {kusr("OPS", 2), kusr("LAB", 1)}, uint32_t segments = 5,
             uint32_t memories = 7, uint16_t flags = 0) {
    types_ = types;
    return rk_create_rtdb("/opt/prog", "/opt/app", name, kusrs.data(), static_cast<uint32_t>(kusrs.size()),
                          types_.data(), static_cast<uint32_t>(types_.size()), segments, memories, flags);
  }

  Kgd* kgd() const { return attachment().kgd; }
  std::vector<rk_type_entry> types_;
};

TEST_F(LifecycleTest, CreationLaysOutSegmentZero) {
  ASSERT_EQ(create("Plant1"), 0);
  const Kgd* k = kgd();
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(addr_of(k), kTestBase);
  EXPECT_STREQ(k->magic, "RKK");
  EXPECT_EQ(k->layout, 1618u);
  EXPECT_EQ(k->state, 1);
  EXPECT_EQ(val(k->version), 0x705u);
  EXPECT_STREQ(k->title, "Korvamentis 7.5");
  EXPECT_STREQ(k->copyright, rk_get_copyrt());
  EXPECT_STREQ(k->name, "Plant1");
  EXPECT_STREQ(k->app_dir, "/opt/app");
  EXPECT_STREQ(k->prog_dir, "/opt/prog");
  EXPECT_EQ(val(k->creator_pid), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(val(k->running_apps), 0);
  EXPECT_EQ(val(k->napps), 3u);
  EXPECT_EQ(val(k->nappdata), 3u);
  EXPECT_EQ(val(k->nkusrs), 2u);
  EXPECT_EQ(val(k->maxsegs), 405u);
  EXPECT_EQ(val(k->maxextra), 5u);
  EXPECT_EQ(val(k->maxdbrt), 400u);
  EXPECT_EQ(val(k->maxmems), 7u);
  EXPECT_EQ(val(k->maxtypes), 200u);
  EXPECT_EQ(val(k->ntypes), 1u);
  EXPECT_EQ(val(k->hist_cap), 500u);
  EXPECT_EQ(val(k->mtx_owner), -1) << "the kernel mutex is free again";

  // Segment 0 holds exactly the fixed tables, carved in order, and last
  // the intent records with the buffer for a value's old bytes.
  const uint32_t apps = 3;
  const uint32_t intents = 1548 + 65536;
  const uint32_t size = 2060 + apps * 26910 + 2 * 36 + 405 * 22 + 7 * 32 + apps * 128 + 1000 + 2000 + 200 * 40 +
                        apps * 8 * 200 + apps * 3844 * apps + intents;
  const SegEntry& seg0 = at<SegEntry>(k->seg_table)[0];
  EXPECT_EQ(val(k->seg_table), addr_of(k) + 2060);
  EXPECT_EQ(seg0.base, addr_of(k));
  EXPECT_EQ(seg0.size, size);
  EXPECT_EQ(seg0.used, size);
  EXPECT_EQ(seg0.free, 0u);
  Addr next = addr_of(k) + 2060 + 405 * 22;
  struct {
    Addr field;
    uint32_t bytes;
  } order[] = {{k->kusr_table, 2 * 36}, {k->app_blocks, apps * 26910}, {k->mem_table, 7 * 32},
               {k->app_data, apps * 128}, {k->type_table, 200 * 40}};
  for (const auto& o : order) {
    EXPECT_EQ(o.field, next);
    next += o.bytes;
  }
  const AppBlock* blocks = at<AppBlock>(k->app_blocks);
  for (uint32_t a = 0; a < apps; ++a, next += 1600) EXPECT_EQ(val(blocks[a].pairs), next);
  EXPECT_EQ(val(k->hist_ids), next);
  EXPECT_EQ(val(k->hist_pids), next + 1000);
  EXPECT_EQ(k->event_table, next + 3000);
  EXPECT_EQ(k->intents, next + 3000 + apps * 3844 * apps);
  EXPECT_EQ(at<IntentArea>(k->intents)->buffer, k->intents + 1548);

  // Applications go to the domains in order of their instance counts.
  EXPECT_EQ(val(blocks[0].kusr), 0u);
  EXPECT_EQ(blocks[1].kusr, 0u);
  EXPECT_EQ(val(blocks[2].kusr), 1u);
  EXPECT_STREQ(at<KusrRecord>(k->kusr_table)[1].name, "LAB");
  for (uint32_t c = 0; c < apps * 31; ++c) EXPECT_NE(event_row(k, 0)[c], 0u);
  EXPECT_EQ(types_[0].ksiz, 4) << "sizes are written back to the caller's table";
  EXPECT_EQ(types_[0].value_bytes, 80u);

  uint16_t now[8];
  rk_get_tick(nullptr, now);
  EXPECT_EQ(k->config_time.year, now[6]);
  EXPECT_EQ(k->config_time.day, now[4]);
}

TEST_F(LifecycleTest, NamesAndAttachmentAreChecked) {
  struct {
    const char* name;
    int result;
  } refused[] = {{nullptr, -10}, {"", -10}, {"SIXTEEN_CHARS_XX", -10}};
  for (const auto& r : refused) EXPECT_EQ(create(r.name), r.result) << (r.name ? r.name : "null");
  EXPECT_EQ(create("FIFTEEN_CHARS_X"), 0);
  EXPECT_EQ(create("other"), -1) << "already attached";
  // The RTDB lives on while another process holds it.
  Client holder;
  holder.ok("mapfirst");
  rk_unmap_kgd();
  EXPECT_EQ(create("fifteen_chars_x"), -41);
  EXPECT_EQ(create("Second"), 1);
  holder.send("exit 0");
  EXPECT_EQ(holder.wait_exit(), 0);
}

// An RTDB made by a kernel of the earlier layout (whose mutexes held the C
// library's state) is refused, said so, and left as it was.
TEST_F(LifecycleTest, AnRtdbOfAnotherLayoutIsRefusedUntouched) {
  ASSERT_EQ(create("Plant"), 0);
  Client holder;
  holder.ok("mapfirst");
  Kgd* k = kgd();
  k->layout = 1617;
  const std::string file = shm_file("RK000000");
  auto bytes = [&file] {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  rk_unmap_kgd();
  const std::string before = bytes();
  StdoutCapture out;
  int index = -1;
  EXPECT_EQ(rk_map_firstkgd(&index), -42);
  EXPECT_EQ(rk_proc_init_app("T", "", "Plant", "OPS", "A"), -4);
  const std::string text = out.text();
  EXPECT_NE(text.find("KER: RTDB 0 has layout 1617, this kernel reads layout 1618 only"), std::string::npos) << text;
  EXPECT_TRUE(bytes() == before) << "the refused RTDB was written to";
  holder.send("exit 0");
  EXPECT_EQ(holder.wait_exit(), 0);
}

TEST_F(LifecycleTest, FailedCreationLeavesNothingAndARetryWorks) {
  struct {
    std::vector<rk_type_entry> types;
    int result;
  } failures[] = {
      {{}, -48},
      {{type_entry("BAD", 0, 4, 3)}, -9},
      // 65535 values of 65534 bytes: more than 4 GiB, counted without wrapping.
      {{type_entry("HUGE", 0, 65535, 65534)}, -2},
  };
  for (auto& f : failures) {
    EXPECT_EQ(create("Plant", f.types), f.result);
    EXPECT_EQ(kgd(), nullptr);
    EXPECT_TRUE(objects_left().empty()) << objects_left().front();
    int index = 0;
    EXPECT_EQ(rk_map_firstkgd(&index), -42);
  }
  EXPECT_EQ(create("Plant"), 0);
  EXPECT_EQ(addr_of(kgd()), kTestBase);
}

TEST_F(LifecycleTest, MapFirstAndNext) {
  int index = 7;
  EXPECT_EQ(rk_map_firstkgd(nullptr), -7);
  EXPECT_EQ(rk_map_firstkgd(&index), -42);
  EXPECT_EQ(index, 32);

  ASSERT_EQ(create("Alpha"), 0);
  Client other;
  std::string reply = other.call("mapfirst");
  EXPECT_EQ(reply, "ok 0 " + std::to_string(kTestBase) + " Alpha");
  EXPECT_EQ(other.call("mapfirst"), "err -22");
  other.ok("unmapkgd");
  EXPECT_EQ(other.call("mapfirst"), reply);

  index = 0;
  EXPECT_EQ(rk_map_nextkgd(&index), -22) << "attached already";
  rk_unmap_kgd();
  EXPECT_EQ(rk_map_nextkgd(&index), -42);
  EXPECT_EQ(index, 32);
  index = -1;
  EXPECT_EQ(rk_map_nextkgd(&index), 0);
  EXPECT_EQ(index, 0);
  other.send("exit 0");
  EXPECT_EQ(other.wait_exit(), 0);
}

// Deletion keeps the deleting process's views mapped, so it runs in a
// client process whose exit then lets the objects go.
TEST_F(LifecycleTest, DeleteWaitsForRunningApplications) {
  Client manager;
  EXPECT_EQ(manager.ok("create Plant"), 0u);
  char running[32], state[32];
  snprintf(running, sizeof running, "poke %x", kTestBase + 318);
  snprintf(state, sizeof state, "peek %x", kTestBase + 8);
  manager.ok(std::string(running) + " 1");
  EXPECT_EQ(manager.call("delete 0"), "ok 0");
  EXPECT_EQ(manager.ok(state) & 0xFFFF, 1u) << "still valid";
  manager.ok(std::string(running) + " 0");
  EXPECT_EQ(manager.call("delete 0"), "ok 0");
  EXPECT_EQ(manager.ok(state) & 0xFFFF, 0u);
  EXPECT_EQ(manager.call("delete 0"), "ok -1") << "opened again, but no longer valid";

  // Its names went at once: the index is free for a new RTDB, although the
  // deleting process still maps the old one.
  EXPECT_EQ(create("Plant"), 0);
  rk_unmap_kgd();
  EXPECT_EQ(rk_delete_rtdb(5), -1);
  manager.send("exit 0");
  EXPECT_EQ(manager.wait_exit(), 0);
}

// Another process deletes: it closes none of the creator's handles, whose
// values mean nothing outside the creator, and the creator goes on safely.
TEST_F(LifecycleTest, DeleteFromAnotherProcess) {
  Client manager, tool;
  EXPECT_EQ(manager.ok("create Plant"), 0u);
  EXPECT_EQ(tool.call("delete 0"), "ok 0");
  char state[32];
  snprintf(state, sizeof state, "peek %x", kTestBase + 8);
  EXPECT_EQ(manager.ok(state) & 0xFFFF, 0u);
  EXPECT_EQ(manager.call("delete 0"), "ok -1");
  tool.send("exit 0");
  manager.send("exit 0");
  EXPECT_EQ(tool.wait_exit(), 0);
  EXPECT_EQ(manager.wait_exit(), 0);
}

TEST_F(LifecycleTest, InitOrsFlagsAndReinitInvalidates) {
  std::vector<rk_type_entry> one = {type_entry("A", 0, 1, 2)};
  ASSERT_EQ(create("Plant", one, {kusr("OPS", 1)}, 0, 0, 4), 0);
  uint16_t more = 2;
  EXPECT_EQ(rk_init(&more), 0);
  EXPECT_EQ(kgd()->flags, 6);
  EXPECT_EQ(rk_init(nullptr), -7);

  // Client 0:0 of this process, as registration would make it.
  AppBlock& app = at<AppBlock>(kgd()->app_blocks)[0];
  app.active = 1;
  app.cpt[0].stat = kStatConfigured | kStatLive;
  app.cpt[0].errnum = 9;
  EXPECT_EQ(rk_errno(0), 9);
  EXPECT_EQ(rk_reinit(), 0);
  EXPECT_EQ(kgd()->state, 0);
  EXPECT_EQ(rk_errno(0), -1) << "no client id resolves any more";
}

TEST_F(LifecycleTest, TimeTitleAndCopyright) {
  setenv("TZ", "UTC0", 1);
  tzset();
  uint16_t fields[8];
  kernel_time_fields(os::local_time_at(1110204309, 437), fields);   // 2005-03-07 14:05:09.437, a Monday
  const uint16_t expected[8] = {14, 5, 9, 43, 7, 3, 2005, 1};
  EXPECT_TRUE(std::equal(fields, fields + 8, expected));

  uint32_t tick = 0;
  EXPECT_EQ(rk_get_tick(&tick, nullptr), 0);
  EXPECT_EQ(rk_get_tick(nullptr, nullptr), 0);
  const char* title = rk_get_title();
  EXPECT_STREQ(title, "Korvamentis 7.5");
  EXPECT_EQ(rk_get_title(), title);
  EXPECT_LT(strlen(rk_get_copyrt()), 80u);
}

}  // namespace
}  // namespace rk::test
