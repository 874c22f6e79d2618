// Starting and ending application instances.
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/records.h"
#include "core/attachment.h"
#include "rk.h"
#include "support/app_test.h"

namespace rk::test {
namespace {

using ApplicationsTest = AppTest;

int init(const char* domain, const char* instance, const char* rtdb = "Plant") {
  std::vector<rk_cpt_entry> table = app_template();
  return rk_init_app(rtdb, domain, instance, table.data());
}

TEST_F(ApplicationsTest, InstancesTakeTheFreeBlocksOfTheirDomainInOrder) {
  EXPECT_EQ(init("LAB", "X"), 2) << "the blocks of LAB come after those of OPS";
  EXPECT_EQ(init("OPS", "A"), 0);
  EXPECT_EQ(init("ops", "B"), 1);
  EXPECT_EQ(val(kgd()->running_apps), 3);
  struct {
    const char* rtdb;
    const char* domain;
    const char* instance;
    int result;
  } refused[] = {
      {"Plant", "OPS", "a", -22},    {"Plant", "LAB", "X", -22},    {"Plant", "OPS", "C", -12},
      {"Plant", "LAB", "Y", -12},    {"Plant", "TEST", "A", -12},   {"Other", "OPS", "C", -42},
      {"Plant", "OPS", "", -14},     {"Plant", "OPS", "SIXTEEN_CHARS_XX", -10},
      {nullptr, "OPS", "C", -10},    {"Plant", nullptr, "C", -10},  {"Plant", "OPS", nullptr, -10},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(init(r.domain, r.instance, r.rtdb), r.result)
        << (r.rtdb ? r.rtdb : "null") << " " << (r.domain ? r.domain : "null") << " " << (r.instance ? r.instance : "null");
  }
  EXPECT_EQ(rk_init_app("Plant", "OPS", "C", nullptr), -10);
  EXPECT_EQ(val(kgd()->running_apps), 3);

  // A block that is free again goes to the next instance of its domain.
  ASSERT_EQ(rk_exit_app(0x0100), 0);
  EXPECT_EQ(init("OPS", "C"), 1);
  EXPECT_STREQ(app(1)->instance, "C");
  EXPECT_EQ(init("OPS", "B"), -12);

  rk_reinit();
  EXPECT_EQ(init("OPS", "D"), -4);
}

TEST_F(ApplicationsTest, TheTemplateConfiguresTheTableAndTheRestStartsAtZero) {
  // What a block's earlier use left behind.
  AppBlock* ops = app(0);
  for (CptEntry& e : ops->cpt) memset(&e, 0x5A, sizeof e);

  std::vector<rk_cpt_entry> table(31);
  memset(table.data(), 0x33, table.size() * sizeof table[0]);   // every field set, NULs nowhere
  for (uint32_t s = 0; s < 31; ++s) {
    rk_cpt_entry& t = table[s];
    snprintf(t.name, sizeof t.name, "TASK%u", s);
    strcpy(t.desc, "a description");
    strcpy(t.cmdline, "/opt/bin/task -x");
    strcpy(t.text2, "second text");
    t.type = static_cast<uint16_t>(100 + s);
    t.stat = 1;
    t.prty = static_cast<uint16_t>(s);
    t.config = 7;
    t.env_refs[0] = 0x00010002;
    t.env_refs[2] = s;
  }
  table[4].stat = 3;              // a template cannot make a live client
  memset(table[5].name, 'N', sizeof table[5].name);

  StdoutCapture out;
  ASSERT_EQ(rk_init_app("Plant", "OPS", "Line1", table.data()), 0);
  EXPECT_EQ(out.text(), std::string(rk_get_title()) + "\r\n" + rk_get_copyrt() + "\r\n");

  EXPECT_EQ(ops->active, 1u);
  EXPECT_STREQ(ops->instance, "Line1");
  EXPECT_EQ(val(kgd()->running_apps), 1);
  for (uint32_t s = 0; s < 31; ++s) {
    SCOPED_TRACE(s);
    const CptEntry& e = ops->cpt[s];
    if (s != 5) {
      EXPECT_STREQ(e.name, table[s].name);
    }
    EXPECT_STREQ(e.desc, "a description");
    EXPECT_STREQ(e.cmdline, "/opt/bin/task -x");
    EXPECT_STREQ(e.text2, "second text");
    EXPECT_EQ(e.type, 100 + s);
    EXPECT_EQ(e.stat, 1);
    EXPECT_EQ(e.prty, s);
    EXPECT_EQ(e.config, 7);
    EXPECT_EQ(val(e.env_refs[0]), 0x00010002u);
    EXPECT_EQ(val(e.env_refs[1]), 0x33333333u);
    EXPECT_EQ(val(e.env_refs[2]), s);
    EXPECT_EQ(e.nmap, s == 0 ? 1 : 0);
    EXPECT_EQ(val(e.sig_accepted), 3u);
    // Everything else is zero.
    CptEntry rest = e;
    memset(rest.name, 0, sizeof rest.name);
    memset(rest.desc, 0, sizeof rest.desc);
    memset(rest.cmdline, 0, sizeof rest.cmdline);
    memset(rest.text2, 0, sizeof rest.text2);
    memset(rest.env_refs, 0, sizeof rest.env_refs);
    rest.type = rest.stat = rest.prty = rest.config = rest.nmap = 0;
    rest.sig_accepted = 0;
    const CptEntry zero{};
    EXPECT_EQ(memcmp(&rest, &zero, sizeof rest), 0);
  }
  EXPECT_EQ(std::string(ops->cpt[5].name), std::string(31, 'N')) << "cut to what the field holds";
}

TEST_F(ApplicationsTest, ExitEndsTheInstanceAndItsClientIds) {
  ASSERT_EQ(init("OPS", "A"), 0);
  ASSERT_EQ(init("OPS", "B"), 1);
  const int16_t id = rk_proc_init_app("PUMP", "", "Plant", "OPS", "B");
  ASSERT_EQ(id, 0x0100);
  AppBlock* b = app(1);
  b->pending_wake = 0x11;
  b->instance1 = 5;
  b->instance2 = 6;
  b->waiting[3] = 0x40;

  EXPECT_EQ(rk_exit_app(0x0105), 0) << "any slot names the application";
  EXPECT_EQ(val(b->active), 0u);
  EXPECT_EQ(val(b->registered), 0u);
  EXPECT_EQ(val(b->waiting[3]), 0u);
  EXPECT_EQ(b->instance1 | b->instance2, 0u);
  EXPECT_EQ(val(b->pending_wake), 0x11u) << "kept";
  EXPECT_STREQ(b->instance, "B") << "kept";
  EXPECT_EQ(b->cpt[0].stat, 3) << "a client that was not queued keeps its entry";
  EXPECT_EQ(val(kgd()->running_apps), 1);
  EXPECT_EQ(kgd()->state, 1);
  EXPECT_EQ(rk_errno(static_cast<rk_client_id>(id)), -1) << "its id no longer resolves";
  EXPECT_EQ(rk_lock(static_cast<rk_client_id>(id)), -1);
  EXPECT_EQ(rk_exit_app(0x0100), -1) << "ended once";
  EXPECT_EQ(rk_exit_app(0x0200), -1) << "never started";
  EXPECT_EQ(rk_proc_init_app("PUMP", "", "Plant", "OPS", "B"), -5);
}

// Queued clients of an ending application sleep in rk_lock or rk_wait;
// nobody would ever wake them if the exit did not.
TEST_F(ApplicationsTest, QueuedClientsOfAnEndingApplicationAreWokenAndFail) {
  ASSERT_EQ(init("OPS", "A"), 0);
  ASSERT_EQ(init("OPS", "B"), 1);
  Client holder;
  EXPECT_EQ(holder.call("procinit HOLDER"), "ok 0");
  client_env("OPS", "B");
  Client locker, sleeper;
  EXPECT_EQ(locker.call("procinit LOCKER"), "ok 256");
  EXPECT_EQ(sleeper.call("procinit SLEEPER"), "ok 257");
  EXPECT_EQ(holder.call("dblock 0"), "ok");
  locker.send("dblock 256");
  sleeper.send("wait 257 1");
  ASSERT_TRUE(await([&] { return entry(0x0100).wait_state == 1 && entry(0x0101).wait_state == 2; }));

  EXPECT_EQ(rk_exit_app(0x0100), 0);
  EXPECT_EQ(locker.reply(), "err -1");
  EXPECT_EQ(sleeper.reply(), "err -1");
  for (uint16_t id : {0x0100, 0x0101}) {
    EXPECT_EQ(entry(id).stat, 0) << id;
    EXPECT_EQ(entry(id).wait_state, 0) << id;
  }
  EXPECT_EQ(val(kgd()->lock_holder), addr_of(&entry(0))) << "the holder of another application keeps the lock";
  EXPECT_EQ(val(kgd()->queue_head), 0u);
  EXPECT_EQ(holder.call("dbunlock 0"), "ok");
  EXPECT_EQ(val(kgd()->lock_holder), 0u);
  for (Client* c : {&holder, &locker, &sleeper}) c->send("exit 0");
  for (Client* c : {&holder, &locker, &sleeper}) EXPECT_EQ(c->wait_exit(), 0);
}

// The last exit deletes the RTDB; that keeps the deleting process's views
// mapped, so the run manager is a client process here.
TEST_F(ApplicationsTest, ApplicationZeroEndsAfterTheOthersAndTheLastExitDeletes) {
  rk_unmap_kgd();
  Client manager, other, client;
  ASSERT_EQ(manager.ok("createplant Works"), 0u);
  EXPECT_EQ(manager.call("initapp Works OPS A"), "ok 0");
  EXPECT_EQ(manager.call("initapp Works OPS B"), "ok 1");
  EXPECT_EQ(manager.call("initapp Works LAB X"), "ok 2");
  EXPECT_EQ(client.call("procinitapp PUMP Works OPS A"), "ok 0");
  EXPECT_EQ(other.call("procinitapp VALVE Works LAB X"), "ok 512");
  EXPECT_EQ(other.call("exitapp 512"), "ok 0");

  // Application 0 waits while application 1 runs.
  int index = -1;
  ASSERT_EQ(rk_map_firstkgd(&index), 0);
  const Kgd* works = attachment().kgd;
  manager.send("exitapp 0");
  ASSERT_TRUE(await([&] { return works->state == 2; }));
  EXPECT_EQ(val(works->running_apps), 2);
  EXPECT_EQ(client.call("procexit 0"), "ok 0") << "clients go on while the run ends";
  EXPECT_EQ(other.call("exitapp 256"), "ok 0");
  EXPECT_EQ(manager.reply(), "ok 0");
  EXPECT_EQ(val(works->running_apps), 0);
  EXPECT_EQ(works->state, 0) << "deleted";

  EXPECT_EQ(client.call("procinitapp PUMP Works OPS A"), "ok -4");
  Client late;
  EXPECT_EQ(late.call("procinitapp PUMP Works OPS A"), "ok -4");
  for (Client* c : {&manager, &other, &client, &late}) c->send("exit 0");
  for (Client* c : {&manager, &other, &client, &late}) EXPECT_EQ(c->wait_exit(), 0);
}

}  // namespace
}  // namespace rk::test
