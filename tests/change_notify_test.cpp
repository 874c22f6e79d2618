// Collecting the waiters of changed tags in the pending-wake masks, and the
// wake at the end of a write, on an RTDB with a shared and a per-application
// type in three applications.
#include <unistd.h>

#include <memory>
#include <vector>

#include "core/client_ids.h"
#include "core/lock_queue.h"
#include "core/attachment.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"
#include "tags/change_notify.h"
#include "tags/wake.h"

namespace rk::test {
namespace {

constexpr uint16_t kShared = 0;
constexpr uint16_t kLocal = 1;

class ChangeNotifyTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    create({type_entry("SHARED", 0, 8, 4, 0), type_entry("LOCAL", 0, 8, 4, 1)}, 3);
  }
};

TEST_F(ChangeNotifyTest, BroadcastStoresTheWordInEveryApplicationAndCollectsItsWaiters) {
  const TagRef tag{kShared, 3};
  change(0, tag).wait_word = 1u << 2;
  change(2, tag).wait_word = 1u << 4 | 1u << 7;
  for (uint32_t a = 0; a < 3; ++a) change(a, tag).change_word = 0x80000001;
  app(0)->pending_wake = 1u << 9;

  EXPECT_EQ(change_broadcast(kgd_, tag, 0x7FFFFFFE), 2u);
  const uint32_t pending[] = {1u << 9 | 1u << 2, 0, 1u << 4 | 1u << 7};
  for (uint32_t a = 0; a < 3; ++a) {
    SCOPED_TRACE(a);
    EXPECT_EQ(change(a, tag).change_word, 0x7FFFFFFEu) << "replaced, bit 31 too";
    EXPECT_EQ(val(app(a)->pending_wake), pending[a]);
    EXPECT_EQ(change(a, {kShared, 2}).change_word | change(a, {kShared, 4}).change_word, 0u);
  }
  EXPECT_EQ(change(2, tag).wait_word, 1u << 4 | 1u << 7) << "wait words stay";

  // References outside the type table reach no array.
  for (TagRef bad : {TagRef{kShared, 8}, TagRef{2, 0}, TagRef{199, 0}}) {
    EXPECT_EQ(change_broadcast(kgd_, bad, 1), 0u);
    EXPECT_EQ(notify_attr_change(kgd_, app(0), bad, ~0u), 0u);
  }
  for (uint32_t a = 0; a < 3; ++a) EXPECT_EQ(val(app(a)->pending_wake), pending[a]);
}

TEST_F(ChangeNotifyTest, AttributeChangeCollectsTheWaitersWhoseChangeMaskMeetsIt) {
  struct {
    uint16_t type;
    uint32_t collected;
    bool in_app[3];
  } cases[] = {{kShared, 6, {true, true, true}}, {kLocal, 2, {false, true, false}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    const TagRef tag{c.type, 5};
    for (uint32_t a = 0; a < 3; ++a) {
      change(a, tag) = ChangeEntry{0x1234, 1u << 1 | 1u << 2 | 1u << 3};
      app(a)->pending_wake = 0;
      app(a)->cpt[1].change_mask = 0x10;
      app(a)->cpt[2].change_mask = 0x21;
      app(a)->cpt[3].change_mask = 0x40;   // waits, but not for these bits
      app(a)->cpt[4].change_mask = 0x10;   // wants these bits, but does not wait
    }
    EXPECT_EQ(notify_attr_change(kgd_, app(1), tag, 0x30), c.collected);
    for (uint32_t a = 0; a < 3; ++a) {
      EXPECT_EQ(val(app(a)->pending_wake), c.in_app[a] ? (1u << 1 | 1u << 2) : 0u) << a;
      EXPECT_EQ(change(a, tag).change_word, 0x1234u) << "no change bits for an attribute";
    }
    EXPECT_EQ(notify_attr_change(kgd_, app(1), tag, 0x80), 0u);
  }
}

TEST_F(ChangeNotifyTest, ASharedTagChangeReleasesTheTagWaitersOfEveryApplication) {
  const TagRef tag{kShared, 3};
  make_live(0x0000, getpid());   // the writer
  make_live(0x0006, getpid());   // its wait bit is left on the tag; it does not wait
  Client& tag_waiter = start(0x0204);
  Client& either_waiter = start(0x0005);
  Client& mailbox_waiter = start(0x0102);
  change(2, tag).wait_word = 1u << 4;
  change(0, tag).wait_word = 1u << 5 | 1u << 6;
  change(1, tag).wait_word = 1u << 2;
  ASSERT_TRUE(fall_asleep(tag_waiter, 0x0204, 1));
  ASSERT_TRUE(fall_asleep(either_waiter, 0x0005, 3));
  ASSERT_TRUE(fall_asleep(mailbox_waiter, 0x0102, 2));

  // The write: under the lock, collect, then wake once.
  ASSERT_EQ(rk_lock(0x0000), 0);
  EXPECT_EQ(change_broadcast(kgd_, tag, kChangeBits), 3u);
  EXPECT_EQ(wake_all_apps(kgd_, 0x0000, kWakeTag), 2u);
  for (uint32_t a = 0; a < 3; ++a) EXPECT_EQ(val(app(a)->pending_wake), 0u) << a;
  EXPECT_EQ(app(2)->cpt[4].wait_state, kWaitLock);
  EXPECT_EQ(app(0)->cpt[5].wait_state, kWaitLock);
  EXPECT_EQ(app(1)->cpt[2].wait_state, kWaitMailbox) << "a tag change is no message";
  EXPECT_EQ(app(0)->cpt[6].wait_state, kNotWaiting);

  // The released clients get the lock from the writer's unlock, in queue order.
  EXPECT_FALSE(tag_waiter.reply_ready(0));
  ASSERT_EQ(rk_unlock(0x0000), 0);
  EXPECT_EQ(tag_waiter.reply(), "ok");
  EXPECT_EQ(tag_waiter.call("dbunlock 516"), "ok");
  EXPECT_EQ(either_waiter.reply(), "ok");
  EXPECT_EQ(either_waiter.call("dbunlock 5"), "ok");

  // A message for the mailbox waiter, with nobody holding the lock.
  EXPECT_EQ(wake_clients(kgd_, 0x0000, app(1), 1u << 2, kWakeMailbox), 1u);
  EXPECT_EQ(mailbox_waiter.reply(), "ok");
  EXPECT_EQ(mailbox_waiter.call("dbunlock 258"), "ok");
  EXPECT_EQ(val(kgd_->lock_holder), 0u);
}

}  // namespace
}  // namespace rk::test
