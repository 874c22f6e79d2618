// Change bits and change waits across processes: every client slot has bits
// of its own, a change wait sleeps until a watched tag really changes in its
// application, and a signal or a wake-up that changed nothing ends it.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/waiting_clients.h"
#include "support/wake_rtdb.h"

namespace rk::test {
namespace {

constexpr uint16_t kMe = 0x0000;   // this process

class ChangeWaitTest : public WakeRtdbTest {
 protected:
  void SetUp() override {
    WakeRtdbTest::SetUp();
    make_live(kMe, getpid());
  }
  const CptEntry& entry(uint16_t id) const { return *slot_entry(kgd_, id); }
  // Sends the change wait and returns once the client sleeps in it.
  bool wait_asleep(Client& c, uint16_t id, const std::string& list) {
    c.send("chgwait " + std::to_string(id) + " 0 " + list);
    return reaches_state(entry(id), kWaitTag);
  }
  // True when the client has still not answered; asked only after whatever
  // could have woken it has happened, so a short bound does not decide.
  static bool still_asleep(Client& c) { return !c.reply_ready(100); }
};

TEST_F(ChangeWaitTest, EveryClientSlotHasItsOwnChangeBits) {
  Client& first = start(0x0001);
  Client& second = start(0x0002);
  const uint32_t v = 5;
  const TagRef a{kLocal, 1};
  ASSERT_EQ(rk_write(kMe, &a, 1, &v), 0);
  EXPECT_EQ(first.call("testchng 1 0:1 0:2"), "ok 1 0");
  EXPECT_EQ(second.call("testchng 2 0:1 0:2"), "ok 1 0");
  EXPECT_EQ(first.call("tagread 1 0 1"), "ok 5");
  EXPECT_EQ(first.call("testchng 1 0:1"), "ok 0") << "its read cleared its own bit";
  EXPECT_EQ(second.call("testchng 2 0:1"), "ok 1") << "and only that";
  EXPECT_EQ(second.call("setchng 2 0:2"), "ok");
  EXPECT_EQ(second.call("testchng 2 0:2"), "ok 1");
  EXPECT_EQ(first.call("testchng 1 0:2"), "ok 0") << "a bit set by hand is its setter's alone";
}

TEST_F(ChangeWaitTest, OnlyARealChangeOfAWatchedTagEndsAChangeWait) {
  Client& waiter = start(0x0005);
  Client& writer = start(0x0006);
  const uint32_t bit = 1u << 5;
  // The waiter's error number before the wait: 9 from a read of a bad index.
  ASSERT_EQ(waiter.call("tagread 5 0 99"), "err 9");
  ASSERT_TRUE(wait_asleep(waiter, 0x0005, "0:1 0:2"));
  EXPECT_EQ(val(change(0, {kLocal, 1}).wait_word), bit);
  EXPECT_EQ(val(change(0, {kLocal, 2}).wait_word), bit);

  // Each of these has returned before the check, and none may wake it.
  const struct {
    const char* name;
    std::string command;
  } quiet[] = {
      {"the same value again", "tagwrite 6 6 0 1 0"},
      {"a tag it does not watch", "tagwrite 6 6 0 3 7"},
      {"a change bit set by hand", "setchng 6 0:1 0:2"},
      {"the same tag in another application", "tagwrite 6 256 0 2 7"},
  };
  for (const auto& q : quiet) {
    SCOPED_TRACE(q.name);
    ASSERT_EQ(writer.call(q.command), "ok");
    EXPECT_EQ(val(entry(0x0005).wait_state), kWaitTag);
    EXPECT_TRUE(still_asleep(waiter));
  }

  ASSERT_EQ(writer.call("tagwrite 6 6 0 2 77"), "ok");
  EXPECT_EQ(waiter.reply(), "ok 1 77 9") << "element 1 read; the error number as it was before";
  EXPECT_EQ(val(change(0, {kLocal, 1}).wait_word), 0u) << "its wait bits are cleared";
  EXPECT_EQ(val(change(0, {kLocal, 2}).wait_word), 0u);
  EXPECT_EQ(val(change(0, {kLocal, 2}).change_word), kChangeBits & ~bit) << "the tag read is no longer changed for it";
  EXPECT_EQ(val(entry(0x0005).lock), 0) << "it gave the lock back";
}

TEST_F(ChangeWaitTest, ASharedTagWrittenInOneApplicationWakesAWaiterOfAnother) {
  Client& waiter = start(0x0102);
  ASSERT_TRUE(wait_asleep(waiter, 0x0102, "1:3 1:4"));
  const TagRef tag{kShared, 4};
  const uint32_t v = 0x1234;
  ASSERT_EQ(rk_write(kMe, &tag, 1, &v), 0);
  EXPECT_EQ(waiter.reply(), "ok 1 1234 0");
  EXPECT_EQ(val(change(1, tag).wait_word), 0u);
}

TEST_F(ChangeWaitTest, ASignalOrAWakeUpThatChangedNothingEndsTheWaitWithItsBitsCleared) {
  Client& waiter = start(0x0107);
  ASSERT_EQ(waiter.call("holdsig 263 5 0"), "ok 1");
  const TagRef tag{kLocal, 0};
  struct {
    const char* name;
    int (*end)();
    std::string reply;
  } cases[] = {
      {"a signal", [] { return rk_send_app_sig(kMe, 0x0107, 5); }, "err 34"},
      {"a wake-up", [] {
         const uint32_t mask = 1u << 7;
         return rk_wakeup(0x0100, &mask, 1);
       },
       "err 11"},
  };
  make_live(0x0100, getpid());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(wait_asleep(waiter, 0x0107, "0:0 0:1"));
    EXPECT_EQ(val(change(1, tag).wait_word), 1u << 7);
    ASSERT_EQ(c.end(), 0);
    EXPECT_EQ(waiter.reply(), c.reply);
    EXPECT_EQ(val(change(1, tag).wait_word), 0u);
    EXPECT_EQ(val(change(1, {kLocal, 1}).wait_word), 0u);
    EXPECT_EQ(val(entry(0x0107).lock), 0);
    if (c.reply == "err 34") {
      EXPECT_EQ(waiter.call("recvsig 263"), "ok 5");
    }
  }
}

}  // namespace
}  // namespace rk::test
