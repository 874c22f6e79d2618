// Taking over the kernel mutex from an owner that died inside it: the lock
// and wait state it was changing is made whole before anything uses it.
#include <unistd.h>

#include <vector>

#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "core/lock_check.h"
#include "core/lock_queue.h"
#include "core/lock_repair.h"
#include "core/rtdb_names.h"
#include "platform/named_event.h"
#include "support/test_rtdb.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

class LockRepairTest : public RtdbTest {
 protected:
  void SetUp() override {
    RtdbTest::SetUp();
    rtdb_ = attach_test_rtdb(2);
    ASSERT_NE(rtdb_.kgd, nullptr);
  }
  std::vector<const CptEntry*> queue() const {
    std::vector<const CptEntry*> chain;
    for (Addr a = rtdb_.kgd->queue_head; a != 0 && chain.size() < 62; a = at<CptEntry>(a)->link) {
      chain.push_back(at<CptEntry>(a));
    }
    return chain;
  }
  // A live entry of this process that claims a wait state, linked nowhere.
  CptEntry& waiting(uint16_t id, uint16_t state, uint16_t prty) {
    CptEntry& e = make_live(id, getpid(), prty);
    e.wait_state = state;
    return e;
  }
  void repair() {
    ASSERT_EQ(kmutex_take(kSelf), 0);
    repair_lock_state(rtdb_.kgd);
    kmutex_give(kSelf);
  }
  // Whether client id's event was set, taking the set.
  bool was_posted(uint16_t id) {
    char name[kObjectNameBytes];
    client_event_name(name, rtdb_.kgd, id >> 8, id & 255);
    const os::Handle h = os::event_open(name);
    const bool set = os::event_wait_for(h, 0) == 0;
    os::close_handle(h);
    return set;
  }
  TestRtdb rtdb_;
};

TEST_F(LockRepairTest, TheQueueIsRebuiltFromTheWaitStatesAndAFreeLockGoesOn) {
  Kgd* kgd = rtdb_.kgd;
  CptEntry& a = waiting(0x0001, kWaitLock, 5);
  CptEntry& b = waiting(0x0002, kWaitTag, 9);
  CptEntry& lost = waiting(0x0101, kWaitLock, 7);    // waits, but no link leads to it
  CptEntry& stale = waiting(0x0003, kNotWaiting, 1);  // linked, but waits no more
  CptEntry& gone = waiting(0x0004, kWaitLock, 1);     // linked, but its client left
  gone.stat = kStatConfigured;
  // The chain as a death in the middle of changes left it: out of order,
  // through entries that do not belong, and round in a circle.
  kgd->queue_head = addr_of(&a);
  a.link = addr_of(&stale);
  stale.link = addr_of(&gone);
  gone.link = addr_of(&b);
  b.link = addr_of(&a);
  kgd->lock_holder = addr_of(&make_live(0x0005, getpid()));
  rtdb_.apps[0].cpt[5].stat = kStatConfigured;   // the holder left
  rtdb_.apps[0].queued = rtdb_.apps[1].queued = 0xFFFF;

  repair();
  EXPECT_EQ(lock_check(kgd), "");
  // The free lock went to the first lock waiter by priority, the lost one.
  EXPECT_EQ(val(kgd->lock_holder), addr_of(&lost));
  EXPECT_EQ(val(lost.wait_state), kNotWaiting);
  EXPECT_TRUE(was_posted(0x0101));
  EXPECT_EQ(queue(), (std::vector<const CptEntry*>{&b, &a}));
  EXPECT_EQ(val(stale.link), 0u);
  EXPECT_EQ(val(gone.wait_state), kNotWaiting);
  EXPECT_EQ(val(rtdb_.apps[0].queued), (1u << 1) | (1u << 2));
  EXPECT_EQ(val(rtdb_.apps[0].waiting[kWaitLock - 1]), 1u << 1);
  EXPECT_EQ(val(rtdb_.apps[0].waiting[kWaitTag - 1]), 1u << 2);
  EXPECT_EQ(val(rtdb_.apps[1].queued), 0u);
  EXPECT_EQ(val(rtdb_.apps[1].waiting[kWaitLock - 1]), 0u);
}

TEST_F(LockRepairTest, AHolderLeftInTheQueueIsTakenOffAndWokenAgain) {
  Kgd* kgd = rtdb_.kgd;
  CptEntry& holder = make_live(0x0001, getpid());
  CptEntry& next = make_live(0x0002, getpid());
  ASSERT_EQ(kmutex_take(kSelf), 0);
  enqueue(kgd, &holder, kWaitLock);
  enqueue(kgd, &next, kWaitLock);
  kmutex_give(kSelf);
  // A hand-over that made the holder and died before it unlinked and woke it.
  kgd->lock_holder = addr_of(&holder);

  repair();
  EXPECT_EQ(lock_check(kgd), "");
  EXPECT_EQ(val(kgd->lock_holder), addr_of(&holder));
  EXPECT_EQ(val(holder.wait_state), kNotWaiting);
  EXPECT_TRUE(was_posted(0x0001)) << "the holder would sleep for ever";
  EXPECT_EQ(queue(), (std::vector<const CptEntry*>{&next}));
  EXPECT_EQ(val(rtdb_.apps[0].queued), 1u << 2);
}

}  // namespace
}  // namespace rk::test
