// The database lock within one process: nesting, the queue order, and the
// refusals. Handing the lock between processes is tested with registered
// clients.
#include <unistd.h>

#include <cerrno>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "core/rtdb_names.h"
#include "platform/named_object.h"
#include "rk.h"
#include "support/test_rtdb.h"

namespace rk::test {
namespace {

class DbLockTest : public RtdbTest {
 protected:
  void SetUp() override {
    RtdbTest::SetUp();
    rtdb_ = attach_test_rtdb(2);
    ASSERT_NE(rtdb_.kgd, nullptr);
  }
  CptEntry& client(uint16_t id, uint16_t prty = 0) {
    CptEntry& e = rtdb_.live(id, static_cast<uint32_t>(getpid()));
    e.prty = prty;
    return e;
  }
  TestRtdb rtdb_;
};

TEST_F(DbLockTest, NestsAndTheLastUnlockReleases) {
  CptEntry& me = client(0x0003);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rk_lock(0x0003), 0);
  EXPECT_EQ(rk_lock_nowait(0x0003), 0);
  EXPECT_EQ(me.lock, 4);
  EXPECT_EQ(val(rtdb_.kgd->lock_holder), addr_of(&me));
  EXPECT_EQ(val(me.stats[kStatLockGrants]), 1u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rk_unlock(0x0003), 0);
  EXPECT_EQ(val(rtdb_.kgd->lock_holder), addr_of(&me));
  EXPECT_EQ(rk_unlock(0x0003), 0);
  EXPECT_EQ(val(rtdb_.kgd->lock_holder), 0u);
  EXPECT_EQ(rk_unlock(0x0003), -1);
  EXPECT_EQ(me.errnum, kErrNotLocked);
  EXPECT_EQ(val(rtdb_.kgd->mtx_depth), 0u) << "the kernel mutex is free";
}

TEST_F(DbLockTest, RefusalsLeaveTheQueueAlone) {
  CptEntry& holder = client(0x0001);
  CptEntry& queued = client(0x0102);
  ASSERT_EQ(rk_lock(0x0001), 0);

  // Another client holds it: no wait, no new error number.
  queued.errnum = 3;
  EXPECT_EQ(rk_lock_nowait(0x0102), -1);
  EXPECT_EQ(queued.errnum, 3);

  kmutex_take(kSelf);
  enqueue(rtdb_.kgd, &queued, kWaitLock);
  kmutex_give(kSelf);
  struct {
    int (*call)(rk_client_id);
    int error;
  } refused[] = {{rk_lock, kErrLockQueued},
                 {rk_lock_nowait, kErrLockQueued},
                 {[](rk_client_id id) { return rk_wait(id, 1); }, kErrWaitQueued},
                 {[](rk_client_id id) { return rk_wait(id, 4); }, kErrRange}};
  for (const auto& r : refused) {
    EXPECT_EQ(r.call(0x0102), -1);
    EXPECT_EQ(queued.errnum, r.error);
  }
  EXPECT_EQ(val(rtdb_.kgd->queue_head), addr_of(&queued));
  EXPECT_EQ(rk_lock(0x0105), -1) << "slot 5 has no client";

  // The last unlock hands the lock straight to the queued client.
  EXPECT_EQ(rk_unlock(0x0001), 0);
  EXPECT_EQ(val(rtdb_.kgd->lock_holder), addr_of(&queued));
  EXPECT_EQ(queued.wait_state, kNotWaiting);
  EXPECT_EQ(rtdb_.apps[1].queued, 0u);
  EXPECT_EQ(holder.lock, 0);
}

TEST_F(DbLockTest, QueueOrderIsPriorityThenArrival) {
  CptEntry* order[] = {&client(0x0001, 5), &client(0x0002, 5), &client(0x0103, 9), &client(0x0004, 1)};
  kmutex_take(kSelf);
  for (CptEntry* e : order) enqueue(rtdb_.kgd, e, kWaitLock);
  // A client that left is dropped on the way.
  order[2]->stat = kStatConfigured;
  CptEntry* expected[] = {order[0], order[1], order[3]};
  for (CptEntry* e : expected) EXPECT_EQ(dequeue(rtdb_.kgd, kWaitLock), e);
  EXPECT_EQ(dequeue(rtdb_.kgd, kWaitLock), nullptr);
  EXPECT_EQ(order[2]->wait_state, kNotWaiting);
  EXPECT_EQ(rtdb_.apps[0].queued | rtdb_.apps[1].queued | rtdb_.apps[0].waiting[0], 0u);
  kmutex_give(kSelf);
}

TEST_F(DbLockTest, PendingSignalEndsAWaitAtOnceWithTheLockKept) {
  CptEntry& me = client(0x0006);
  ASSERT_EQ(rk_lock(0x0006), 0);
  struct {
    uint32_t pending, accepted;
    int error;
  } cases[] = {{2, 2, kErrTerminate}, {2 | 8, ~0u, kErrTerminate}, {8, 8, kErrSignal}};
  for (const auto& c : cases) {
    me.sig_pending = c.pending;
    me.sig_accepted = c.accepted;
    EXPECT_EQ(rk_wait(0x0006, 3), -1);
    EXPECT_EQ(me.errnum, c.error);
    EXPECT_EQ(val(rtdb_.kgd->lock_holder), addr_of(&me));
    EXPECT_EQ(me.wait_state, kNotWaiting);
  }
  me.stat |= kStatRevoked;
  EXPECT_EQ(rk_unlock(0x0006), -1) << "the revoked mark is reported";
  EXPECT_EQ(me.errnum, kErrLockRevoked);
  EXPECT_EQ(me.stat & kStatRevoked, 0);
  EXPECT_EQ(val(rtdb_.kgd->lock_holder), 0u) << "and the lock is released anyway";
}

TEST_F(DbLockTest, AWaiterThatCannotBeWokenIsPassedOverAndTheFailureKept) {
  Kgd* kgd = rtdb_.kgd;
  client(0x0001);
  CptEntry& first = client(0x0002, 9);
  CptEntry& second = client(0x0102, 5);
  ASSERT_EQ(rk_lock(0x0001), 0);
  ASSERT_EQ(kmutex_take(kSelf), 0);
  enqueue(kgd, &first, kWaitLock);
  enqueue(kgd, &second, kWaitLock);
  kmutex_give(kSelf);
  // The first waiter's event cannot be opened any more.
  char name[kObjectNameBytes];
  client_event_name(name, kgd, 0, 2);
  ASSERT_TRUE(os::object_remove(name));

  EXPECT_EQ(rk_unlock(0x0001), 0);
  EXPECT_EQ(val(kgd->lock_holder), addr_of(&second)) << "the lock waited for a client nobody can wake";
  EXPECT_EQ(val(first.wait_state), kWaitLock) << "it stays queued";
  EXPECT_EQ(val(kgd->queue_head), addr_of(&first));
  EXPECT_EQ(val(kgd->mtx_fail_code), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(val(kgd->mtx_fail_id), 0x0002);

  // When nobody can be woken, the first waiter holds the lock all the same:
  // it finds it when it next looks.
  ASSERT_EQ(kmutex_take(kSelf), 0);
  hand_over(kgd, 0x0102);
  kmutex_give(kSelf);
  EXPECT_EQ(val(kgd->lock_holder), addr_of(&first));
  EXPECT_EQ(val(kgd->queue_head), 0u);
}

}  // namespace
}  // namespace rk::test
