// rk_wakeup and rk_wait between client processes: the lock given away and
// held again, the modes, refusals, the queue order of released clients, and
// signals that end a wait.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "support/test_rtdb.h"
#include "support/waiting_clients.h"
#include "tags/wake.h"

namespace rk::test {
namespace {

class WakeupTest : public RtdbTest {
 protected:
  void SetUp() override {
    RtdbTest::SetUp();
    rtdb_ = attach_test_rtdb(1);
    ASSERT_NE(rtdb_.kgd, nullptr);
    me_ = &make_live(0x0000, getpid());
  }
  void TearDown() override {
    clients_.clear();
    RtdbTest::TearDown();
  }
  Client& start(uint16_t id, uint16_t prty = 0) {
    clients_.push_back(start_client(id, prty));
    return *clients_.back();
  }
  CptEntry& entry(uint16_t id) const { return rtdb_.apps[0].cpt[id]; }
  Addr holder() const { return rtdb_.kgd->lock_holder; }

  TestRtdb rtdb_;
  CptEntry* me_ = nullptr;
  std::vector<std::unique_ptr<Client>> clients_;
};

TEST_F(WakeupTest, AWaitGivesTheLockAwayAndReturnsHoldingItAgain) {
  Client& sleeper = start(1);
  Client& waker = start(2);
  ASSERT_EQ(sleeper.call("dblock 1"), "ok");
  ASSERT_TRUE(fall_asleep(sleeper, 1, 1));   // nested once more
  EXPECT_EQ(holder(), 0u) << "the sleeper gave the lock away";

  ASSERT_EQ(waker.call("dblock 2"), "ok");
  EXPECT_EQ(waker.call("wakeup 2 2 1"), "ok");
  EXPECT_EQ(entry(1).wait_state, kWaitLock) << "released, it waits for the lock";
  EXPECT_FALSE(sleeper.reply_ready(0));
  EXPECT_EQ(waker.call("dbunlock 2"), "ok");
  EXPECT_EQ(sleeper.reply(), "ok");
  EXPECT_EQ(holder(), addr_of(&entry(1)));
  EXPECT_EQ(entry(1).lock, 2) << "the nesting depth survives the wait";
  EXPECT_EQ(val(entry(1).stats[kStatWaits]), 1u);

  EXPECT_EQ(sleeper.call("dbunlock 1"), "ok");
  EXPECT_EQ(holder(), addr_of(&entry(1)));
  EXPECT_EQ(sleeper.call("dbunlock 1"), "ok");
  EXPECT_EQ(holder(), 0u);
}

TEST_F(WakeupTest, EachModeReleasesTheWaitsItStandsFor) {
  Client& sleeper = start(1);
  Client& waker = start(2);
  // [rk_wait mode - 1][rk_wakeup mode - 1]: tag, mailbox, either.
  const bool released[3][3] = {{true, false, true}, {false, true, true}, {true, true, true}};
  for (int wait = 1; wait <= 3; ++wait) {
    for (int wake = 1; wake <= 3; ++wake) {
      SCOPED_TRACE("wait " + std::to_string(wait) + ", wakeup " + std::to_string(wake));
      ASSERT_TRUE(fall_asleep(sleeper, 1, wait));
      const std::string wakeup = "wakeup 2 2 " + std::to_string(wake);
      if (released[wait - 1][wake - 1]) {
        EXPECT_EQ(waker.call(wakeup), "ok");
        EXPECT_EQ(holder(), addr_of(&entry(1))) << "nobody held the lock: the released client has it at once";
      } else {
        EXPECT_EQ(waker.call(wakeup), "err 32");
        EXPECT_EQ(entry(1).wait_state, wait + 1) << "it sleeps on";
        EXPECT_EQ(waker.call("wakeup 2 2 3"), "ok");
      }
      EXPECT_EQ(sleeper.reply(), "ok");
      EXPECT_EQ(sleeper.call("dbunlock 1"), "ok");
    }
  }
}

TEST_F(WakeupTest, RefusedWakeupsStoreTheirErrorOrNone) {
  make_live(0x0001, getpid());   // not waiting
  CptEntry& lock_waiter = make_live(0x0002, getpid());
  kmutex_take(kSelf);
  enqueue(rtdb_.kgd, &lock_waiter, kWaitLock);
  kmutex_give(kSelf);

  struct {
    uint32_t mask;
    int mode;
    int error;
  } cases[] = {
      {0, 1, kErrNobodyWoken},
      {1u << 0, 3, kErrNobodyWoken},    // the caller itself
      {1u << 1, 3, kErrNobodyWoken},    // not waiting
      {1u << 2, 3, kErrNobodyWoken},    // waiting for the lock, not asleep
      {1u << 9, 3, kErrNobodyWoken},    // no client there
      {1u << 31, 3, kErrNobodyWoken},   // no slot
      {1u << 1, 0, kErrRange},
      {1u << 1, 4, kErrRange},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    me_->errnum = 0;
    EXPECT_EQ(rk_wakeup(0x0000, &c.mask, c.mode), -1);
    EXPECT_EQ(me_->errnum, c.error);
  }
  me_->errnum = 0;
  EXPECT_EQ(rk_wakeup(0x0000, nullptr, 1), -1);
  EXPECT_EQ(me_->errnum, kErrRange);
  EXPECT_EQ(lock_waiter.wait_state, kWaitLock);

  // Ids that do not resolve store nothing anywhere.
  make_live(0x0003, 1);   // a client of another process
  rtdb_.kgd->flags |= kFlagOwnerCheck;
  me_->errnum = 0;
  const uint32_t all = ~0u;
  for (rk_client_id id : {0x0009, 0x0100, 0x001F, 0x0003}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(rk_wakeup(id, &all, 3), -1);
    EXPECT_EQ(entry(3).errnum, 0);
  }
  EXPECT_EQ(me_->errnum, 0);
}

TEST_F(WakeupTest, ReleasedSleepersQueueForTheLockByPriorityWithLockWaiters) {
  Client& first5 = start(1, 5);
  Client& second5 = start(2, 5);
  Client& top9 = start(3, 9);
  Client& locker7 = start(4, 7);
  ASSERT_TRUE(fall_asleep(first5, 1, 1));
  ASSERT_TRUE(fall_asleep(second5, 2, 3));
  ASSERT_TRUE(fall_asleep(top9, 3, 1));
  ASSERT_EQ(rk_lock(0x0000), 0);
  locker7.send("dblock 4");
  ASSERT_TRUE(reaches_state(entry(4), kWaitLock));

  const uint32_t sleepers = 0b1110;
  ASSERT_EQ(rk_wakeup(0x0000, &sleepers, 1), 0);
  ASSERT_EQ(rk_unlock(0x0000), 0);
  struct {
    Client& client;
    uint16_t id;
  } order[] = {{top9, 3}, {locker7, 4}, {first5, 1}, {second5, 2}};
  for (const auto& o : order) {
    SCOPED_TRACE(o.id);
    EXPECT_EQ(holder(), addr_of(&entry(o.id)));
    EXPECT_EQ(o.client.reply(), "ok");
    EXPECT_EQ(o.client.call("dbunlock " + std::to_string(o.id)), "ok");
  }
  EXPECT_EQ(holder(), 0u);
}

TEST_F(WakeupTest, AWakerThatIsNoClientStillWakesTheNewHolder) {
  Client& sleeper = start(1);
  ASSERT_TRUE(fall_asleep(sleeper, 1, 1));
  // This process has no entry any more, so no row to post from.
  me_->stat = kStatConfigured;
  me_->pid = 0;
  EXPECT_EQ(wake_clients(rtdb_.kgd, kSelf, &rtdb_.apps[0], entry(1).own_bit, kWakeTag), 1u);
  EXPECT_EQ(holder(), addr_of(&entry(1)));
  EXPECT_EQ(sleeper.reply(), "ok");
  EXPECT_EQ(sleeper.call("dbunlock 1"), "ok");
}

TEST_F(WakeupTest, AnAcceptedSignalEndsTheWaitWithTheLockHeld) {
  Client& sleeper = start(1);
  CptEntry& e = entry(1);
  struct {
    uint32_t pending;   // signal 1 (bit value 2) asks for termination
    bool while_asleep;
    const char* reply;
  } cases[] = {{2, false, "err 27"}, {8, false, "err 34"}, {2 | 8, true, "err 27"}, {8, true, "err 34"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply + std::string(c.while_asleep ? ", asleep" : ", at once"));
    ASSERT_EQ(sleeper.call("dblock 1"), "ok");
    if (c.while_asleep) {
      sleeper.send("wait 1 1");
      ASSERT_TRUE(reaches_state(e, kWaitTag));
      // As a signal arrives: marked and woken for any reason, under the mutex.
      ASSERT_EQ(kmutex_take(0x0000), 0);
      e.sig_pending = e.sig_accepted = c.pending;
      EXPECT_EQ(wake_clients(rtdb_.kgd, 0x0000, &rtdb_.apps[0], e.own_bit, kWakeAny), 1u);
      kmutex_give(0x0000);
      EXPECT_EQ(sleeper.reply(), c.reply);
    } else {
      e.sig_pending = e.sig_accepted = c.pending;
      EXPECT_EQ(sleeper.call("wait 1 1"), c.reply);
    }
    EXPECT_EQ(holder(), addr_of(&e));
    EXPECT_EQ(e.wait_state, kNotWaiting);
    e.sig_pending = 0;
    EXPECT_EQ(sleeper.call("dbunlock 1"), "ok");
  }
}

}  // namespace
}  // namespace rk::test
