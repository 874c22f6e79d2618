// The database lock between registered client processes.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "core/lock_word.h"
#include "core/records.h"
#include "platform/user_emulation.h"
#include "rk.h"
#include "support/app_test.h"
#include "support/plant_run.h"

namespace rk::test {
namespace {

// Under an emulator every take and give of the lock goes through the
// kernel mutex: there is no uncontended take to look at.
constexpr const char* kNoUncontendedTake = "no take without the kernel mutex under an emulator";

// Application 0 (OPS A) configures the slots HOLD, P5A, P5B and P9 with
// their priorities; application 1 (OPS B) has free slots.
class DbLockClientsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    std::vector<rk_cpt_entry> a = app_template({{1, "HOLD", 1}, {2, "P5A", 5}, {3, "P5B", 5}, {4, "P9", 9}});
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", a.data()), 0);
    ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template().data()), 1);
  }
  // Sends the lock call and returns once the client is queued for the lock.
  void queue(Client& c, uint16_t id) {
    c.send("dblock " + std::to_string(id));
    EXPECT_TRUE(await([&] { return entry(id).wait_state == 1; })) << id;
  }
  // A client registered under `task` and holding the lock.
  Client& holding(const std::string& task, uint16_t id) {
    Client& c = client(task, id);
    EXPECT_EQ(c.call("dblock " + std::to_string(id)), "ok");
    return c;
  }
  // A client registered under `task` and queued for the lock.
  Client& queued(const std::string& task, uint16_t id) {
    Client& c = client(task, id);
    queue(c, id);
    return c;
  }
  Addr holder() const { return kgd()->lock_holder; }
};

TEST_F(DbLockClientsTest, WaitersGetTheLockByPriorityThenByArrival) {
  Client& hold = holding("HOLD", 1);
  Client& p5a = queued("P5A", 2);
  Client& p5b = queued("P5B", 3);
  Client& p9 = queued("P9", 4);

  // A queued client asks again, from another process.
  EXPECT_EQ(rk_lock(2), -1);
  EXPECT_EQ(rk_errno(2), kErrLockQueued);
  EXPECT_EQ(rk_lock_nowait(3), -1);
  EXPECT_EQ(rk_errno(3), kErrLockQueued);
  EXPECT_EQ(entry(2).wait_state, 1) << "still queued";

  struct {
    Client* releaser;
    uint16_t releaser_id;
    Client* next;
    uint16_t next_id;
  } order[] = {{&hold, 1, &p9, 4}, {&p9, 4, &p5a, 2}, {&p5a, 2, &p5b, 3}};
  for (const auto& step : order) {
    SCOPED_TRACE(step.next_id);
    EXPECT_EQ(step.releaser->call("dbunlock " + std::to_string(step.releaser_id)), "ok");
    EXPECT_EQ(holder(), addr_of(&entry(step.next_id)));
    EXPECT_EQ(step.next->reply(), "ok");
  }
  EXPECT_EQ(p5b.call("dbunlock 3"), "ok");
  EXPECT_EQ(holder(), 0u);
  EXPECT_EQ(val(kgd()->queue_head), 0u);
}

TEST_F(DbLockClientsTest, NestedLocksNeedAsManyUnlocksAndTheLastHandsOn) {
  const int16_t me = rk_proc_init("HOLD", "");
  ASSERT_EQ(me, 1);
  Client& waiter = client("P5A", 2);
  for (int n = 0; n < 3; ++n) ASSERT_EQ(rk_lock(1), 0);
  queue(waiter, 2);
  EXPECT_EQ(rk_unlock(1), 0);
  EXPECT_EQ(rk_unlock(1), 0);
  EXPECT_EQ(holder(), addr_of(&entry(1)));
  EXPECT_EQ(entry(2).wait_state, 1);
  EXPECT_EQ(rk_unlock(1), 0);
  EXPECT_EQ(holder(), addr_of(&entry(2)));
  EXPECT_EQ(waiter.reply(), "ok");
  EXPECT_EQ(rk_unlock(1), -1);
  EXPECT_EQ(rk_errno(1), kErrNotLocked);
  EXPECT_EQ(waiter.call("dbunlock 2"), "ok");
}

TEST_F(DbLockClientsTest, AHolderThatLeavesHandsTheLockToTheFirstWaiter) {
  Client& hold = holding("HOLD", 1);
  Client& p5a = queued("P5A", 2);
  Client& p5b = queued("P5B", 3);
  EXPECT_EQ(hold.call("procexit 1"), "ok 0");
  EXPECT_EQ(holder(), addr_of(&entry(2)));
  EXPECT_EQ(p5a.reply(), "ok");
  EXPECT_EQ(entry(3).wait_state, 1);
  EXPECT_EQ(p5a.call("dbunlock 2"), "ok");
  EXPECT_EQ(p5b.reply(), "ok");
  EXPECT_EQ(p5b.call("dbunlock 3"), "ok");
}

// A queued client sleeps in rk_lock; ended from elsewhere, it must not sleep on.
TEST_F(DbLockClientsTest, AQueuedClientThatIsEndedIsWokenAndItsCallFails) {
  Client& hold = holding("HOLD", 1);
  Client& p5a = queued("P5A", 2);
  EXPECT_EQ(rk_proc_exit(2), 0);
  EXPECT_EQ(p5a.reply(), "err -1");
  EXPECT_EQ(entry(2).stat, 1);
  EXPECT_EQ(val(kgd()->queue_head), 0u);
  EXPECT_EQ(hold.call("dbunlock 1"), "ok");
  EXPECT_EQ(holder(), 0u) << "nobody was left to hand it to";
}

// True when a thread sleeps on the kernel mutex: the futex word at the start
// of the mutex object carries the waiters bit then.
bool kernel_mutex_contended(const std::string& file) {
  uint32_t word = 0;
  const int fd = open(file.c_str(), O_RDONLY);
  if (fd >= 0) {
    EXPECT_EQ(pread(fd, &word, sizeof word, 0), static_cast<ssize_t>(sizeof word));
    close(fd);
  }
  return (word & 0x80000000u) != 0;
}

// An application can end after a lock call has checked the id and before
// the call has the kernel mutex; the call must not take the lock for a
// client that nobody could unlock for any more.
TEST_F(DbLockClientsTest, ALockCallWhoseApplicationEndsMeanwhileFails) {
  client_env("OPS", "B");
  Client& late = client("LATE", 0x0100);
  for (const char* call : {"dblock 256", "wait 256 1"}) {
    SCOPED_TRACE(call);
    ASSERT_EQ(kmutex_take(kSelf), 0);
    late.send(call);
    ASSERT_TRUE(await([&] { return kernel_mutex_contended(shm_file("Plant_CRIT_00")); }));
    EXPECT_EQ(rk_exit_app(0x0100), 0);
    kmutex_give(kSelf);
    EXPECT_EQ(late.reply(), "err -1");
    EXPECT_EQ(holder(), 0u);
    EXPECT_EQ(val(kgd()->queue_head), 0u);
    // The instance again, for the next call.
    ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template().data()), 1);
    EXPECT_EQ(late.call("procinit LATE"), "ok 256");
  }
}

// A killed client leaves its entry live and keeps the lock; the end of its
// application passes the lock on, and the others go on.
// A give of the lock cut off as a death would cut it. A hand-over: the
// waiter is off the queue and the lock free, but nobody set the waiter's
// event. A give without the kernel mutex, which frees the holder word
// before it looks whether anyone queued meanwhile: the lock is free with
// clients queued for it.
TEST_F(DbLockClientsTest, AWaiterLeftOutOfAGiveThatWasCutOffFindsTheLock) {
  const struct {
    const char* cut;
    void (*cut_off)(Kgd* kgd, CptEntry* holder, CptEntry* first);
  } cases[] = {
      {"hand-over",
       [](Kgd* kgd, CptEntry*, CptEntry* first) {
         ASSERT_EQ(kmutex_take(kSelf), 0);
         unlink_queued(kgd, first);
         kgd->lock_holder = 0;
         kmutex_give(kSelf);
       }},
      {"give without the kernel mutex",
       [](Kgd* kgd, CptEntry* holder, CptEntry*) { ASSERT_TRUE(drop_lock(kgd, holder)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cut);
    ASSERT_EQ(rk_proc_init_app("HOLD", "", "Plant", "OPS", "A"), 1);
    ASSERT_EQ(rk_lock(1), 0);
    Client& p5a = queued("P5A", 2);
    Client& p9 = queued("P9", 4);
    c.cut_off(kgd(), &entry(1), &entry(4));
    // The first waiter takes it when it looks for itself; the other waiter
    // stays queued behind it.
    EXPECT_EQ(bounded_reply(p9), "ok");
    EXPECT_EQ(holder(), addr_of(&entry(4)));
    EXPECT_EQ(val(entry(2).wait_state), kWaitLock);
    EXPECT_EQ(p9.call("dbunlock 4"), "ok");
    EXPECT_EQ(p5a.reply(), "ok");
    EXPECT_EQ(p5a.call("dbunlock 2"), "ok");
    // This process's own level is no longer the lock: its unlock gives nothing.
    EXPECT_EQ(rk_unlock(1), 0);
    EXPECT_EQ(holder(), 0u);
    EXPECT_EQ(rk_proc_exit(1), 0);
    EXPECT_EQ(p5a.call("procexit 2"), "ok 0");
    EXPECT_EQ(p9.call("procexit 4"), "ok 0");
  }
}

TEST_F(DbLockClientsTest, AKilledHoldersLockGoesOnWhenItsApplicationEndsOrItsSlotIsTaken) {
  // Whoever notices the death first (the waiter looking for itself, the end
  // of the dead client's application, a registration into its slot) does
  // what its exit trap would have done: the lock goes to the waiter.
  const struct {
    bool by_registration;
    const char* task;
    uint16_t id;
  } cases[] = {{false, "P5A", 2}, {true, "P9", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.task);
    client_env("OPS", "B");
    Client& doomed = holding("DOOMED", 0x0100);
    client_env("OPS", "A");
    Client& waiter = queued(c.task, c.id);
    doomed.kill_hard();
    if (c.by_registration) {
      EXPECT_EQ(rk_proc_init_app("DOOMED", "", "Plant", "OPS", "B"), 0x0100) << "the dead client's slot is free";
      EXPECT_EQ(val(entry(0x0100).pid), static_cast<uint32_t>(getpid()));
    } else {
      EXPECT_EQ(rk_exit_app(0x0100), 0);
      ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template().data()), 1);
    }
    EXPECT_EQ(waiter.reply(), "ok");
    EXPECT_EQ(holder(), addr_of(&entry(c.id)));
    EXPECT_EQ(waiter.call("dbunlock " + std::to_string(c.id)), "ok");
    EXPECT_EQ(holder(), 0u);
  }
}


// Nobody queued: the take and the give leave the kernel mutex alone. A
// client that queues behind such a holder makes the holder's give go
// through the kernel mutex, which hands the lock over; once nobody queues
// any more, takes and gives go past the mutex again.
TEST_F(DbLockClientsTest, AClientQueuedBehindAnUncontendedTakeIsHandedTheLock) {
  if (os::under_user_emulation()) GTEST_SKIP() << kNoUncontendedTake;
  Client& hold = client("HOLD", 1);
  Client& p5a = client("P5A", 2);
  const uint32_t taken = val(kgd()->mtx_count);
  EXPECT_EQ(hold.call("dblock 1"), "ok");
  EXPECT_EQ(val(kgd()->mtx_count), taken) << "an uncontended take";
  EXPECT_EQ(holder(), addr_of(&entry(1)));
  EXPECT_EQ(val(entry(1).stats[kStatLockGrants]), 1u);
  EXPECT_EQ(val(kgd()->lock_tick), val(entry(1).stamp));
  queue(p5a, 2);
  EXPECT_TRUE(lock_is_slow(kgd())) << "a client queues";
  EXPECT_EQ(hold.call("dbunlock 1"), "ok");
  EXPECT_EQ(p5a.reply(), "ok");
  EXPECT_EQ(holder(), addr_of(&entry(2)));
  EXPECT_EQ(p5a.call("dbunlock 2"), "ok");
  EXPECT_EQ(holder(), 0u);
  EXPECT_FALSE(lock_is_slow(kgd()));
  const uint32_t later = val(kgd()->mtx_count);
  EXPECT_EQ(hold.call("dblock 1"), "ok");
  EXPECT_EQ(hold.call("dbunlock 1"), "ok");
  EXPECT_EQ(val(kgd()->mtx_count), later);
  EXPECT_EQ(val(entry(1).stats[kStatLockGrants]), 2u);
}

// A client that finds the lock held looks for it a while before it queues;
// meanwhile it must never take the lock ahead of the clients queued already.
// Repeated, so that the gives fall into the look as well as after it.
TEST_F(DbLockClientsTest, AClientStillLookingForTheLockNeverTakesItAheadOfAQueuedOne) {
  Client& hold = client("HOLD", 1);
  Client& p5a = client("P5A", 2);
  Client& p9 = client("P9", 4);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(hold.call("dblock 1"), "ok");
    queue(p5a, 2);
    p9.send("dblock 4");   // higher priority: it queues at once, ahead of P5A
    ASSERT_TRUE(await([&] { return entry(4).wait_state == 1; }));
    ASSERT_EQ(hold.call("dbunlock 1"), "ok");
    hold.send("dblock 1");   // looks for the lock while P9 holds it and P5A queues
    EXPECT_EQ(p9.reply(), "ok");
    EXPECT_EQ(holder(), addr_of(&entry(4)));
    EXPECT_EQ(p9.call("dbunlock 4"), "ok");
    EXPECT_EQ(p5a.reply(), "ok");
    EXPECT_EQ(holder(), addr_of(&entry(2)));
    EXPECT_EQ(p5a.call("dbunlock 2"), "ok");
    EXPECT_EQ(hold.reply(), "ok");
    EXPECT_EQ(holder(), addr_of(&entry(1)));
    ASSERT_EQ(hold.call("dbunlock 1"), "ok");
  }
}

// A holder that took the lock without the kernel mutex and is killed,
// before or after a client queues behind it: the waiter gets the lock, as
// from any other dead holder, when it next looks for itself.
TEST_F(DbLockClientsTest, AKilledUncontendedHolderLosesTheLockToTheWaiter) {
  if (os::under_user_emulation()) GTEST_SKIP() << kNoUncontendedTake;
  for (const bool queued_first : {false, true}) {
    SCOPED_TRACE(queued_first ? "queued before the kill" : "queued after the kill");
    client_env("OPS", "B");
    Client& doomed = client("DOOMED", 0x0100);
    const uint32_t taken = val(kgd()->mtx_count);
    EXPECT_EQ(doomed.call("dblock 256"), "ok");
    ASSERT_EQ(val(kgd()->mtx_count), taken) << "an uncontended take";
    client_env("OPS", "A");
    Client& waiter = client("P5A", 2);
    if (queued_first) queue(waiter, 2);
    doomed.kill_hard();
    if (!queued_first) queue(waiter, 2);
    EXPECT_EQ(bounded_reply(waiter), "ok");
    EXPECT_EQ(holder(), addr_of(&entry(2)));
    EXPECT_EQ(waiter.call("dbunlock 2"), "ok");
    EXPECT_EQ(holder(), 0u);
    EXPECT_EQ(rk_exit_app(0x0100), 0);
    ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template().data()), 1);
    EXPECT_EQ(waiter.call("procexit 2"), "ok 0");
  }
}

}  // namespace
}  // namespace rk::test
