// Attribute handlers across processes: a handler is a function of the
// process that installed it, so it runs there alone, no other process can
// install one for a client, and a process that registers in the slot later
// starts without the masks and handlers of the one before.
#include <unistd.h>

#include <functional>
#include <string>

#include "core/records.h"
#include "rk.h"
#include "support/app_test.h"
#include "support/unaligned.h"

namespace rk::test {
namespace {

constexpr uint16_t kPump = 0x0003;   // the slot configured for the task PUMP

class AttrHandlerClientsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", app_template({{3, "PUMP", 4}}).data()), 0);
  }
  bool no_masks_or_handlers(uint16_t id) const {
    const CptEntry& e = entry(id);
    uint32_t any = val(e.read_mask) | val(e.write_mask) | val(e.change_mask);
    for (int n = 0; n < 32; ++n) any |= val(e.handlers[n]);
    return any == 0;
  }
};

int never_called(rk_cpt_entry*, void*, void*, void*, void*, int) { return -1; }

TEST_F(AttrHandlerClientsTest, AHandlerRunsOnlyForItsOwnProcessAndNeverForALaterOne) {
  const TagRef tag{0, 1};
  const uint32_t bit = 4;
  const int me = rk_proc_init("OPERATOR", "this process");
  ASSERT_GE(me, 0);
  ASSERT_EQ(rk_modify_attr(static_cast<rk_client_id>(me), &tag, 1, &bit, 0), 0);
  const struct {
    const char* name;
    std::function<void(Client&)> leave;
  } ways[] = {
      {"left with rk_proc_exit", [](Client& c) { EXPECT_EQ(c.call("procexit 3"), "ok 0"); }},
      {"ended without leaving", [](Client& c) { c.kill_hard(); }},
  };
  for (const auto& w : ways) {
    SCOPED_TRACE(w.name);
    Client first;
    ASSERT_EQ(first.call("procinit PUMP"), "ok 3");
    ASSERT_EQ(first.call("refuser 3 read 4"), "ok 0");
    ASSERT_EQ(first.call("refuser 3 write 4"), "ok 0");
    EXPECT_EQ(first.call("tagread 3 0 1"), "err 99") << "its handler runs in its process";
    EXPECT_EQ(first.call("tagwrite 3 3 0 1 5"), "err 99");

    // This process may act with the id (ids are not bound to their process
    // in this RTDB), but not install a handler: the address would be this
    // process's and run in the other.
    const uint32_t installed = val(entry(kPump).handlers[2]);
    const rk_attr_handler mine = never_called;
    const uint32_t other_bit = 8;
    EXPECT_EQ(rk_set_read_mask(kPump, 1, &other_bit, &mine), -1);
    EXPECT_EQ(rk_set_write_mask(kPump, 1, &bit, &mine), -1);
    EXPECT_EQ(val(entry(kPump).read_mask), 4u);
    EXPECT_EQ(val(entry(kPump).handlers[2]), installed);
    EXPECT_EQ(val(entry(kPump).handlers[3]), 0u);

    w.leave(first);
    Client second;
    ASSERT_EQ(second.call("procinit PUMP"), "ok 3") << "the same slot";
    EXPECT_EQ(val(entry(kPump).pid), static_cast<uint32_t>(second.pid()));
    EXPECT_TRUE(no_masks_or_handlers(kPump));
    EXPECT_EQ(second.call("tagwrite 3 3 0 1 6"), "ok") << "the old handler does not run";
    EXPECT_EQ(second.call("tagread 3 0 1"), "ok 6");
    EXPECT_EQ(second.call("procexit 3"), "ok 0");
    second.send("exit 0");
    EXPECT_EQ(second.wait_exit(), 0);
  }
}

int g_calls = 0;
int counted(rk_cpt_entry*, void*, void*, void*, void*, int) { return ++g_calls, 1; }

// The handlers are kept in the installing process: one that leaves and
// registers in the same slot again starts without its old ones too.
TEST_F(AttrHandlerClientsTest, ARegistrationInTheSameProcessStartsWithoutTheOldHandlers) {
  const TagRef tag{0, 1};
  const uint32_t bit = 4, v = 7;
  const rk_attr_handler h = counted;
  g_calls = 0;
  ASSERT_EQ(rk_proc_init("PUMP", "this process"), kPump);
  ASSERT_EQ(rk_modify_attr(kPump, &tag, 1, &bit, 0), 0);
  ASSERT_EQ(rk_set_write_mask(kPump, 1, &bit, &h), 0);
  EXPECT_EQ(val(entry(kPump).handlers[2]), 1u) << "the shared word says there is one, and no more";
  ASSERT_EQ(rk_write(kPump, &tag, 1, &v), 0);
  EXPECT_EQ(g_calls, 1) << "skipped by the handler";
  ASSERT_EQ(rk_proc_exit(kPump), 0);

  ASSERT_EQ(rk_proc_init("PUMP", "this process again"), kPump);
  EXPECT_TRUE(no_masks_or_handlers(kPump));
  ASSERT_EQ(rk_write(kPump, &tag, 1, &v), 0);
  EXPECT_EQ(g_calls, 1) << "the old handler does not run";
  uint32_t got = 0;
  ASSERT_EQ(rk_read(kPump, &tag, 1, &got), 0);
  EXPECT_EQ(got, v);
  ASSERT_EQ(rk_proc_exit(kPump), 0);
}

}  // namespace
}  // namespace rk::test
