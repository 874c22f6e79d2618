// Signals, termination flags and rk_wakeup_proc reaching clients that sleep
// in rk_wait in other processes.
#include <string>

#include "core/errors.h"
#include "core/lock_queue.h"
#include "core/records.h"
#include "rk.h"
#include "support/signal_test.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

class SignalClientsTest : public SignalTest {
 protected:
  Addr holder() const { return kgd()->lock_holder; }
  CptEntry& sleeper() const { return entry(kSleeper); }
};

// A held signal leaves the sleeper asleep, and so does accepting it; once
// woken for another reason, its wait ends on the signal.
TEST_F(SignalClientsTest, AHeldSignalWakesNobody) {
  Client& c = client("SLEEPER", kSleeper);
  struct {
    int sig;
    const char* was_held;   // reply to holding it before the wait
    const char* wait_ends;
    const char* received;   // the next receive after the first
  } cases[] = {{5, "ok 1", "err 34", "err 33"}, {1, "ok 0", "err 27", "ok 1"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.sig);
    const std::string sig = std::to_string(k.sig);
    ASSERT_EQ(c.call("holdsig 1 " + sig + " 1"), k.was_held);
    ASSERT_TRUE(fall_asleep(c, kSleeper, 3));
    EXPECT_EQ(rk_send_sig(kBoss, "SLEEPER", k.sig), 0);
    EXPECT_EQ(sleeper().wait_state, kWaitEither) << "asleep";
    EXPECT_EQ(sleeper().sig_pending, 1u << k.sig);

    EXPECT_EQ(rk_hold_sig(kSleeper, k.sig, 0), 1);
    EXPECT_EQ(sleeper().wait_state, kWaitEither) << "accepting wakes nobody";
    EXPECT_EQ(rk_wakeup_proc(kBoss, "SLEEPER", 3), 0);
    EXPECT_EQ(c.reply(), k.wait_ends);
    EXPECT_EQ(holder(), addr_of(&sleeper()));
    EXPECT_EQ(c.call("recvsig 1"), "ok " + sig);
    EXPECT_EQ(c.call("recvsig 1"), k.received);
    EXPECT_EQ(c.call("dbunlock 1"), "ok");
    sleeper().sig_pending = 0;
  }
}

// Posted from another process, an accepted signal releases a sleeper in
// every mode of rk_wait; it has the lock at once when nobody holds it, else
// when the holder gives it back.
TEST_F(SignalClientsTest, AnAcceptedSignalEndsEveryKindOfWaitWith34) {
  Client& c = client("SLEEPER", kSleeper);
  Client& waker = client("WAKER", kWaker);
  ASSERT_EQ(c.call("holdsig 1 6 0"), "ok 1");
  for (int mode = 1; mode <= 3; ++mode) {
    for (bool locked : {false, true}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + (locked ? ", lock held" : ""));
      ASSERT_TRUE(fall_asleep(c, kSleeper, mode));
      if (locked) {
        ASSERT_EQ(rk_lock(kBoss), 0);
      }
      EXPECT_EQ(waker.call("sendsig 2 SLEEPER 6"), "ok 0");
      if (locked) {
        EXPECT_EQ(sleeper().wait_state, kWaitLock);
        EXPECT_FALSE(c.reply_ready(0));
        EXPECT_EQ(rk_unlock(kBoss), 0);
      }
      EXPECT_EQ(c.reply(), "err 34");
      EXPECT_EQ(holder(), addr_of(&sleeper()));
      EXPECT_EQ(c.call("recvsig 1"), "ok 6");
      EXPECT_EQ(c.call("dbunlock 1"), "ok");
    }
  }
}

TEST_F(SignalClientsTest, TheTerminationFlagEndsAWaitWith27AndStaysSet) {
  Client& c = client("SLEEPER", kSleeper);
  ASSERT_TRUE(fall_asleep(c, kSleeper, 1));
  EXPECT_EQ(rk_set_term_flag(kBoss, "SLEEPER"), 0);
  EXPECT_EQ(c.reply(), "err 27");
  EXPECT_EQ(holder(), addr_of(&sleeper()));
  EXPECT_EQ(sleeper().stat & kStatTermSeen, kStatTermSeen);
  for (int n = 0; n < 3; ++n) EXPECT_EQ(c.call("testtermflag 1"), "ok 1");
  EXPECT_EQ(c.call("recvsig 1"), "ok 1");
  EXPECT_EQ(c.call("testtermflag 1"), "ok 1") << "receiving does not consume it";
  EXPECT_EQ(sleeper().stats[kStatTermTests], 4u);
  EXPECT_EQ(c.call("wait 1 1"), "err 27") << "every later wait ends at once";
  EXPECT_EQ(c.call("dbunlock 1"), "ok");
}

TEST_F(SignalClientsTest, WakingByNameReleasesOnlyTheModesItStandsFor) {
  Client& c = client("SLEEPER", kSleeper);
  ASSERT_TRUE(fall_asleep(c, kSleeper, 1));
  struct {
    const char* name;
    int mode;
    int error;
  } refused[] = {
      {"NOBODY", 9, kErrNoClient},   {nullptr, 1, kErrNoClient},     {"#0:31", 1, kErrNoClient},
      {"SLEEPER", 0, kErrRange},     {"SLEEPER", 4, kErrRange},
      {"SLEEPER", 2, kErrNobodyWoken},   // a mailbox wakes no tag waiter
      {"IDLE", 3, kErrNobodyWoken},      {"BOSS", 3, kErrNobodyWoken},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(std::string(r.name ? r.name : "null") + " " + std::to_string(r.mode));
    entry(kBoss).errnum = 0;
    EXPECT_EQ(rk_wakeup_proc(kBoss, r.name, r.mode), -1);
    EXPECT_EQ(entry(kBoss).errnum, r.error);
    EXPECT_EQ(sleeper().wait_state, kWaitTag) << "asleep";
  }
  EXPECT_EQ(rk_wakeup_proc(kBoss, "sleeper", 1), 0);
  EXPECT_EQ(c.reply(), "ok");
  EXPECT_EQ(c.call("dbunlock 1"), "ok");
}

}  // namespace
}  // namespace rk::test
