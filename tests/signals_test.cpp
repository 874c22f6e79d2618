// Posting, receiving, holding and accepting signals between clients of
// this process; sleepers woken by signals are in signal_clients_test.
#include <functional>
#include <string>

#include "core/errors.h"
#include "core/records.h"
#include "rk.h"
#include "support/signal_test.h"

namespace rk::test {
namespace {

class SignalsTest : public SignalTest {
 protected:
  void SetUp() override {
    SignalTest::SetUp();
    register_peer();
  }
  CptEntry& peer() const { return entry(kPeer); }
};

TEST_F(SignalsTest, AHeldSignalStaysPendingAndIsReceivedOnceAccepted) {
  EXPECT_EQ(rk_send_sig(kBoss, "PEER", 5), 0);
  EXPECT_EQ(rk_send_sig(kBoss, "peer", 5), 0) << "one pending bit, however often posted";
  EXPECT_EQ(peer().sig_pending, 1u << 5);
  EXPECT_EQ(rk_recv_sig(kPeer), -1) << "held";
  EXPECT_EQ(rk_errno(kPeer), kErrNoSignal);

  EXPECT_EQ(rk_hold_sig(kPeer, 5, 0), 1) << "it was held";
  EXPECT_EQ(peer().sig_pending, 1u << 5) << "accepting leaves it pending";
  EXPECT_EQ(rk_recv_sig(kPeer), 5);
  EXPECT_EQ(rk_recv_sig(kPeer), -1);
  EXPECT_EQ(rk_errno(kPeer), kErrNoSignal);
  EXPECT_EQ(peer().sig_pending, 0u);
}

// Signals 0 and 1 are never consumed: a client that wants the others holds
// them first.
TEST_F(SignalsTest, SignalsZeroAndOneAreReturnedUntilHeld) {
  ASSERT_EQ(rk_hold_sig(kPeer, 4, 0), 1);
  for (int sig : {0, 1}) {
    SCOPED_TRACE(sig);
    ASSERT_EQ(rk_send_sig(kBoss, "PEER", 4), 0);
    ASSERT_EQ(rk_send_sig(kBoss, "PEER", sig), 0);
    for (int n = 0; n < 3; ++n) EXPECT_EQ(rk_recv_sig(kPeer), sig);
    EXPECT_EQ(rk_hold_sig(kPeer, sig, 1), 0) << "it was accepted";
    EXPECT_EQ(rk_recv_sig(kPeer), 4);
    EXPECT_EQ(rk_recv_sig(kPeer), -1);
    EXPECT_EQ(rk_errno(kPeer), kErrNoSignal);
    EXPECT_EQ(peer().sig_pending, 1u << sig) << "still pending, only held";
    peer().sig_pending = 0;
  }
}

TEST_F(SignalsTest, HoldingAndAcceptingReportTheStateBefore) {
  struct {
    int sig, hold, result;
  } steps[] = {{7, 1, 1}, {7, 0, 1}, {7, 0, 0}, {7, 1, 0}, {0, 1, 0}, {31, 0, 1}, {1, 5, 0}};
  for (const auto& s : steps) EXPECT_EQ(rk_hold_sig(kPeer, s.sig, s.hold), s.result) << s.sig << " " << s.hold;
  EXPECT_EQ(peer().sig_accepted, 1u << 31);

  for (int sig : {32, -1, 1000}) {
    SCOPED_TRACE(sig);
    EXPECT_EQ(rk_hold_sig(kPeer, sig, 0), -1);
    EXPECT_EQ(rk_errno(kPeer), kErrRange);
    EXPECT_EQ(peer().sig_accepted, 1u << 31);
  }
}

// Each failure is the first that applies, in the order name, live client,
// signal number; a failed post changes nothing in the receiver.
TEST_F(SignalsTest, RefusedPostsReportTheirFirstFault) {
  ASSERT_EQ(rk_proc_init_app("REMOTE", "", "Plant", "OPS", "B"), kRemote);
  struct {
    const char* what;
    std::function<int()> post;
    int error;
  } cases[] = {
      {"unknown name, bad signal", [] { return rk_send_sig(kBoss, "NOBODY", 40); }, kErrNoClient},
      {"null name", [] { return rk_send_sig(kBoss, nullptr, 5); }, kErrNoClient},
      {"numeric name of no slot here", [] { return rk_send_sig(kBoss, "#1:5", 5); }, kErrNoClient},
      {"no live client, bad signal", [] { return rk_send_sig(kBoss, "IDLE", 40); }, kErrNotRegistered},
      {"signal 32", [] { return rk_send_sig(kBoss, "PEER", 32); }, kErrRange},
      {"signal -1", [] { return rk_send_sig(kBoss, "PEER", -1); }, kErrRange},
      {"unknown application", [] { return rk_send_sig_ex(kBoss, "OPS", "C", "NOBODY", 40); }, kErrNoApp},
      {"null application names", [] { return rk_send_sig_ex(kBoss, nullptr, nullptr, "PEER", 5); }, kErrNoApp},
      {"name of another application", [] { return rk_send_sig_ex(kBoss, "OPS", "B", "PEER", 5); }, kErrNoClient},
      {"by id, application not running", [] { return rk_send_app_sig(kBoss, 0x0200, 5); }, kErrAppInactive},
      {"by id, no live client", [] { return rk_send_app_sig(kBoss, kIdle, 40); }, kErrNotRegistered},
      {"by id, no slot", [] { return rk_send_app_sig(kBoss, 0x001F, 5); }, kErrNotRegistered},
      {"by id, bad signal", [] { return rk_send_app_sig(kBoss, kPeer, 40); }, kErrRange},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    entry(kBoss).errnum = 0;
    EXPECT_EQ(c.post(), -1);
    EXPECT_EQ(entry(kBoss).errnum, c.error);
  }
  EXPECT_EQ(peer().sig_pending, 0u);
  EXPECT_EQ(peer().sig_accepted, kAcceptedAtStart);
  EXPECT_EQ(peer().stat, kStatConfigured | kStatLive);

  // A client of an application that has ended can receive nothing any more.
  ASSERT_EQ(rk_exit_app(0x0100), 0);
  EXPECT_EQ(rk_send_sig_ex(kBoss, "OPS", "B", "REMOTE", 5), -1);
  EXPECT_EQ(entry(kBoss).errnum, kErrNotRegistered);
  EXPECT_EQ(rk_send_app_sig(kBoss, kRemote, 5), -1);
  EXPECT_EQ(entry(kBoss).errnum, kErrAppInactive);
  EXPECT_EQ(entry(kRemote).sig_pending, 0u);
}

TEST_F(SignalsTest, PostsReachTheirReceiverByNameByApplicationAndById) {
  ASSERT_EQ(rk_proc_init_app("REMOTE", "", "Plant", "OPS", "B"), kRemote);
  EXPECT_EQ(rk_send_sig(kBoss, "PEER", 9), 0);
  EXPECT_EQ(rk_send_sig_ex(kBoss, "ops", "b", "remote", 10), 0);
  EXPECT_EQ(rk_send_sig_ex(kRemote, "OPS", "A", "#0:5", 11), 0);
  EXPECT_EQ(rk_send_app_sig(kRemote, kPeer, 12), 0);
  EXPECT_EQ(rk_send_app_sig(kPeer, kRemote, 13), 0);
  // To oneself, by name and by id.
  EXPECT_EQ(rk_send_sig(kBoss, "boss", 14), 0);
  EXPECT_EQ(rk_send_app_sig(kBoss, kBoss, 15), 0);
  EXPECT_EQ(peer().sig_pending, 1u << 9 | 1u << 11 | 1u << 12);
  EXPECT_EQ(entry(kRemote).sig_pending, 1u << 10 | 1u << 13);
  EXPECT_EQ(val(entry(kBoss).sig_pending), 1u << 14 | 1u << 15);
}

TEST_F(SignalsTest, CallersThatDoNotResolveGetMinusOneAndStoreNothing) {
  for (rk_client_id id : {kIdle, static_cast<rk_client_id>(0x001F), static_cast<rk_client_id>(0x0200)}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(rk_send_sig(id, "PEER", 5), -1);
    EXPECT_EQ(rk_send_sig_ex(id, "OPS", "A", "PEER", 5), -1);
    EXPECT_EQ(rk_send_app_sig(id, kPeer, 5), -1);
    EXPECT_EQ(rk_recv_sig(id), -1);
    EXPECT_EQ(rk_hold_sig(id, 5, 0), -1);
    EXPECT_EQ(rk_wakeup_proc(id, "PEER", 1), -1);
  }
  EXPECT_EQ(entry(kIdle).errnum, 0);
  EXPECT_EQ(peer().sig_pending, 0u);

  // With ids accepted only from their own process, posting by id and
  // testing the flag still work for a client of another process.
  kgd()->flags |= kFlagOwnerCheck;
  peer().pid += 1;
  EXPECT_EQ(rk_send_sig(kPeer, "BOSS", 5), -1);
  EXPECT_EQ(rk_recv_sig(kPeer), -1);
  EXPECT_EQ(rk_hold_sig(kPeer, 5, 0), -1);
  EXPECT_EQ(rk_send_app_sig(kPeer, kBoss, 6), 0);
  EXPECT_EQ(rk_test_term_flag(kPeer), 0);
  EXPECT_EQ(peer().errnum, 0);
  EXPECT_EQ(val(entry(kBoss).sig_pending), 1u << 6);
  peer().pid -= 1;   // its own again, so that it is cleaned up
}

TEST_F(SignalsTest, SignalQueuesAreNotSupported) {
  EXPECT_EQ(rk_attach_queue(), -1);
  EXPECT_EQ(rk_detach_queue(), -1);
}

}  // namespace
}  // namespace rk::test
