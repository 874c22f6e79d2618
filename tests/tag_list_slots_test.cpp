// A slot set up again for a new client starts without a tag list, and the
// block of the list its earlier client had goes back to the pools: clients
// that come and go leave no blocks behind.
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/list_blocks.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "services/tag_list_check.h"
#include "storage/kernel_memory.h"
#include "storage/pool_check.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/unaligned.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

class TagListSlotsTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    rk_kusr ops = kusr("OPS", 2);
    rk_type_entry types[] = {type_entry("ANALOG", 0, 10, 4)};
    ASSERT_EQ(rk_create_rtdb("", "", "Plant", &ops, 1, types, 1, 0, 4, 0), 0);
    kgd_ = attachment().kgd;
    std::vector<rk_cpt_entry> table = app_template({{3, "PUMP"}});
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", table.data()), 0);
    ASSERT_EQ(rk_init_app("Plant", "OPS", "B", table.data()), 1);
  }
  void TearDown() override {
    clients_.clear();
    rk_exit_trap();
    rk_unmap_kgd();
    KernelTest::TearDown();
  }
  uint32_t blocks() const {
    uint32_t n = 0;
    for (uint32_t p = 0; p < kgd_->nmems; ++p) n += val(mem_pool(kgd_, p)->nused);
    return n;
  }
  CptEntry& entry(uint16_t id) const { return *slot_entry(kgd_, id); }
  // The client registers as PUMP in instance `inst` and installs its own list.
  int16_t pump_with_list(const char* inst) {
    const int16_t id = rk_proc_init_app("PUMP", "", "Plant", "OPS", inst);
    const rk_tag_ref refs[] = {{0, 1}, {0, 2}, {0, 3}};
    if (id < 0 || rk_set_tag_list(static_cast<rk_client_id>(id), "PUMP", refs, 3) != 0) return -1;
    return id;
  }

  Client& client() {
    clients_.push_back(std::make_unique<Client>());
    return *clients_.back();
  }

  Kgd* kgd_ = nullptr;
  std::vector<std::unique_ptr<Client>> clients_;
};

TEST_F(TagListSlotsTest, ReRegistrationFreesTheListOfTheSlotsEarlierClient) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const int16_t id = pump_with_list("A");
    ASSERT_EQ(id, 0x0003);
    EXPECT_EQ(val(entry(0x0003).list_count), 3);
    EXPECT_EQ(blocks(), 1u);
    ASSERT_EQ(rk_proc_exit(0x0003), 0);
    EXPECT_EQ(blocks(), 1u) << "leaving keeps the list until the slot is taken again";
    ASSERT_EQ(rk_proc_init_app("PUMP", "", "Plant", "OPS", "A"), 0x0003);
    EXPECT_EQ(val(entry(0x0003).list_count), 0);
    EXPECT_EQ(val(entry(0x0003).list_handle), 0u);
    EXPECT_EQ(blocks(), 0u);
    EXPECT_EQ(rk_errno(0x0003), 0) << "the freeing leaves the new client no error";
    EXPECT_EQ(val(entry(0x0003).lock), 0);
    EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
    ASSERT_EQ(rk_proc_exit(0x0003), 0);
  }
}

// The block is not freed under another client's lock: the new client
// frees it once the lock comes to it.
TEST_F(TagListSlotsTest, ARegistrationWhileTheLockIsHeldFreesTheBlockOnceItGetsTheLock) {
  ASSERT_EQ(pump_with_list("A"), 0x0003);
  ASSERT_EQ(rk_proc_exit(0x0003), 0);
  Client& holder = client();
  ASSERT_EQ(holder.call("procinitapp VALVE Plant OPS A"), "ok 0");
  ASSERT_EQ(holder.call("dblock 0"), "ok");
  Client& pump = client();
  pump.send("procinitapp PUMP Plant OPS A");
  ASSERT_TRUE(reaches_state(entry(0x0003), kWaitLock));
  EXPECT_TRUE(list_left(&entry(0x0003))) << "the list waits in the slot, marked, for the lock";
  EXPECT_EQ(blocks(), 1u);
  ASSERT_EQ(holder.call("dbunlock 0"), "ok");
  EXPECT_EQ(pump.reply(), "ok 3");
  EXPECT_EQ(blocks(), 0u);
  EXPECT_EQ(pump.call("errno 3"), "ok 0");
  EXPECT_EQ(val(entry(0x0003).lock), 0) << "and gave the lock back";
  EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
}

// The process that takes the slot over may not have mapped the segment the
// block lies in yet (it maps segments at its first grant of the lock): the
// block is freed all the same, without a crash and without a leak.
TEST_F(TagListSlotsTest, ANewProcessFreesTheListOfAKilledClientOfTheSlot) {
  Client& first = client();
  ASSERT_EQ(first.call("procinitapp PUMP Plant OPS A"), "ok 3");
  const rk_tag_ref refs[] = {{0, 1}, {0, 2}};
  ASSERT_EQ(rk_set_tag_list(0x0003, "PUMP", refs, 2), 0);
  ASSERT_EQ(blocks(), 1u);
  first.kill_hard();
  Client& second = client();
  EXPECT_EQ(second.call("procinitapp PUMP Plant OPS A"), "ok 3");
  EXPECT_EQ(val(entry(0x0003).list_count), 0);
  EXPECT_EQ(blocks(), 0u);
  EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
}

// A slot configured anew between two clients keeps the list of the first
// out of every client's sight, until the second frees it.
TEST_F(TagListSlotsTest, TheListOfASlotConfiguredAnewIsFreedByItsNextClient) {
  ASSERT_EQ(pump_with_list("A"), 0x0003);
  ASSERT_EQ(rk_proc_exit(0x0003), 0);
  std::vector<rk_cpt_entry> table = app_template({{3, "PUMP"}});
  ASSERT_EQ(rk_set_proc(0x0003, &table[3]), 0);
  EXPECT_EQ(blocks(), 1u);
  EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
  ASSERT_EQ(rk_proc_init_app("PUMP", "", "Plant", "OPS", "A"), 0x0003);
  EXPECT_EQ(blocks(), 0u);
  rk_tag_ref refs[4];
  uint32_t n = 9;
  EXPECT_NE(rk_get_tag_list(0x0003, refs, 4, &n), 0);
  EXPECT_EQ(rk_errno(0x0003), 30) << "the new client has no list";
  EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
}

TEST_F(TagListSlotsTest, ARestartedInstanceFreesTheListsOfItsEarlierClients) {
  ASSERT_EQ(pump_with_list("B"), 0x0103);
  ASSERT_EQ(blocks(), 1u);
  ASSERT_EQ(rk_exit_app(0x0103), 0);
  EXPECT_EQ(blocks(), 1u);
  std::vector<rk_cpt_entry> table = app_template({{3, "PUMP"}});
  ASSERT_EQ(rk_init_app("Plant", "OPS", "B", table.data()), 1);
  EXPECT_EQ(val(entry(0x0103).list_count), 0);
  EXPECT_EQ(blocks(), 0u);
  EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
}

}  // namespace
}  // namespace rk::test
