// Releasing sleepers by wake reason, within one process: the states each
// reason releases, the masks and queue places, the pending-wake masks, and
// a free lock going to the first released client at once.
#include <unistd.h>

#include <bit>
#include <vector>

#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "support/test_rtdb.h"
#include "support/waiting_clients.h"
#include "tags/wake.h"

namespace rk::test {
namespace {

class WakeTest : public RtdbTest {
 protected:
  void SetUp() override {
    RtdbTest::SetUp();
    rtdb_ = attach_test_rtdb(2);
    ASSERT_NE(rtdb_.kgd, nullptr);
    make_live(0x0000, getpid());   // the waker
  }
  CptEntry& queued(uint16_t id, uint16_t state, uint16_t prty = 0) {
    CptEntry& e = make_live(id, getpid(), prty);
    kmutex_take(kSelf);
    enqueue(rtdb_.kgd, &e, state);
    kmutex_give(kSelf);
    return e;
  }
  std::vector<const CptEntry*> queue() const {
    std::vector<const CptEntry*> chain;
    for (Addr a = rtdb_.kgd->queue_head; a != 0 && chain.size() < 62; a = at<CptEntry>(a)->link) {
      chain.push_back(at<CptEntry>(a));
    }
    return chain;
  }
  void empty_queue() {
    kmutex_take(kSelf);
    while (rtdb_.kgd->queue_head != 0) unlink_queued(rtdb_.kgd, at<CptEntry>(rtdb_.kgd->queue_head));
    kmutex_give(kSelf);
  }
  TestRtdb rtdb_;
};

constexpr uint32_t bits(std::initializer_list<int> slots) {
  uint32_t m = 0;
  for (int s : slots) m |= 1u << s;
  return m;
}

TEST_F(WakeTest, EachReasonReleasesItsStatesWhereTheyStandInTheQueue) {
  AppBlock& app = rtdb_.apps[0];
  // Slot 1 waits for a tag, 2 for a mailbox, 3 for either, 4 for the lock;
  // 5 does not wait; 6 waits for a tag, but its client has left.
  const uint16_t states[] = {0, kWaitTag, kWaitMailbox, kWaitEither, kWaitLock, kNotWaiting, kWaitTag};
  struct {
    uint16_t reason;
    uint32_t released;
  } cases[] = {{kWakeTag, bits({1, 3})}, {kWakeMailbox, bits({2, 3})}, {kWakeAny, bits({1, 2, 3})}, {9, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    ASSERT_EQ(rk_lock(0x0000), 0);
    for (uint16_t s = 1; s <= 6; ++s) {
      if (states[s] == kNotWaiting) {
        make_live(s, getpid());
      } else {
        queued(s, states[s]);
      }
    }
    app.registered &= ~bits({6});
    const std::vector<const CptEntry*> before = queue();

    EXPECT_EQ(wake_clients(rtdb_.kgd, 0x0000, &app, bits({1, 2, 3, 4, 5, 6, 31}), c.reason),
              static_cast<uint32_t>(std::popcount(c.released)));
    for (uint16_t s = 1; s <= 6; ++s) {
      EXPECT_EQ(app.cpt[s].wait_state, (c.released & bits({s})) ? uint16_t{kWaitLock} : states[s]) << "slot " << s;
    }
    EXPECT_EQ(val(app.waiting[0]), bits({4}) | c.released);
    EXPECT_EQ(val(app.waiting[1]), bits({1, 6}) & ~c.released);
    EXPECT_EQ(val(app.waiting[2]), bits({2}) & ~c.released);
    EXPECT_EQ(val(app.waiting[3]), bits({3}) & ~c.released);
    EXPECT_EQ(queue(), before) << "released clients keep their places";
    EXPECT_EQ(val(rtdb_.kgd->lock_holder), addr_of(&app.cpt[0])) << "the lock stays with its holder";

    empty_queue();
    ASSERT_EQ(rk_unlock(0x0000), 0);
  }
  EXPECT_EQ(val(rtdb_.kgd->mtx_depth), 0u);
}

TEST_F(WakeTest, PendingWakeMasksAreEmptiedByTheWakesThatUseThem) {
  AppBlock* apps = rtdb_.apps;
  ASSERT_EQ(rk_lock(0x0000), 0);
  CptEntry& tag = queued(0x0001, kWaitTag);
  CptEntry& mailbox = queued(0x0002, kWaitMailbox);
  make_live(0x0005, getpid());   // a wait bit left on a tag, not waiting
  CptEntry& either = queued(0x0101, kWaitEither);
  apps[0].pending_wake = bits({1, 2, 5});
  apps[1].pending_wake = bits({1});

  // A caller that cannot take the kernel mutex changes nothing.
  EXPECT_EQ(wake_all_apps(rtdb_.kgd, 0x1F00, kWakeTag), 0u);
  EXPECT_EQ(wake_app(rtdb_.kgd, 0x001F, &apps[0], kWakeTag), 0u);
  EXPECT_EQ(val(apps[0].pending_wake), bits({1, 2, 5}));
  EXPECT_EQ(apps[1].pending_wake, bits({1}));
  EXPECT_EQ(tag.wait_state, kWaitTag);

  // Waking by mask leaves the pending-wake mask alone.
  EXPECT_EQ(wake_clients(rtdb_.kgd, 0x0000, &apps[0], bits({2}), kWakeTag), 0u);
  EXPECT_EQ(val(apps[0].pending_wake), bits({1, 2, 5}));

  // The bits of clients not released go too.
  EXPECT_EQ(wake_app(rtdb_.kgd, 0x0000, &apps[0], kWakeTag), 1u);
  EXPECT_EQ(tag.wait_state, kWaitLock);
  EXPECT_EQ(mailbox.wait_state, kWaitMailbox);
  EXPECT_EQ(val(apps[0].pending_wake), 0u);
  EXPECT_EQ(apps[1].pending_wake, bits({1})) << "another application's mask";

  EXPECT_EQ(wake_all_apps(rtdb_.kgd, 0x0000, kWakeTag), 1u);
  EXPECT_EQ(either.wait_state, kWaitLock);
  EXPECT_EQ(apps[1].pending_wake, 0u);
  EXPECT_EQ(wake_app(rtdb_.kgd, 0x0000, nullptr, kWakeTag), 0u);
  empty_queue();
}

TEST_F(WakeTest, AFreeLockGoesToTheFirstReleasedClientAtOnce) {
  CptEntry& low = queued(0x0001, kWaitTag, 1);
  CptEntry& high = queued(0x0102, kWaitEither, 5);
  rtdb_.apps[0].pending_wake = low.own_bit;
  rtdb_.apps[1].pending_wake = high.own_bit;
  ASSERT_EQ(val(rtdb_.kgd->lock_holder), 0u);

  EXPECT_EQ(wake_all_apps(rtdb_.kgd, 0x0000, kWakeTag), 2u);
  EXPECT_EQ(val(rtdb_.kgd->lock_holder), addr_of(&high));
  EXPECT_EQ(high.wait_state, kNotWaiting);
  EXPECT_EQ(rtdb_.apps[1].queued | rtdb_.apps[1].waiting[0], 0u);
  EXPECT_EQ(low.wait_state, kWaitLock) << "the next one waits for the holder's unlock";
  EXPECT_EQ(queue(), std::vector<const CptEntry*>{&low});
  EXPECT_EQ(val(rtdb_.kgd->mtx_depth), 0u);
  empty_queue();
}

}  // namespace
}  // namespace rk::test
