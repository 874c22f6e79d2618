// Termination flags set by name, by application and by id, and tested
// without a lock; a sleeper woken by one is in signal_clients_test.
#include <string>

#include "core/errors.h"
#include "core/records.h"
#include "rk.h"
#include "support/signal_test.h"

namespace rk::test {
namespace {

class TermFlagsTest : public SignalTest {
 protected:
  void SetUp() override {
    SignalTest::SetUp();
    register_peer();
  }
  CptEntry& peer() const { return entry(kPeer); }
};

TEST_F(TermFlagsTest, EachSetterRaisesTheFlagAndMarksTheReceiver) {
  ASSERT_EQ(rk_proc_init_app("REMOTE", "", "Plant", "OPS", "B"), kRemote);
  struct {
    const char* what;
    int (*set)();
    rk_client_id receiver;
  } setters[] = {
      {"by name", [] { return rk_set_term_flag(kBoss, "peer"); }, kPeer},
      {"by application", [] { return rk_set_term_flag_ex(kPeer, "OPS", "B", "REMOTE"); }, kRemote},
      {"by id", [] { return rk_set_app_term_flag(kRemote, kBoss); }, kBoss},
  };
  for (const auto& s : setters) {
    SCOPED_TRACE(s.what);
    EXPECT_EQ(rk_test_term_flag(s.receiver), 0);
    EXPECT_EQ(s.set(), 0);
    EXPECT_EQ(val(entry(s.receiver).sig_pending), 1u << 1);
    EXPECT_EQ(entry(s.receiver).stat & kStatTermSeen, kStatTermSeen);
    EXPECT_EQ(rk_test_term_flag(s.receiver), 1);
    EXPECT_EQ(rk_recv_sig(s.receiver), 1);
    EXPECT_EQ(rk_test_term_flag(s.receiver), 1) << "receiving does not consume it";
    EXPECT_EQ(val(entry(s.receiver).stats[kStatTermTests]), 3u);
  }
}

// Holding signal 1 hides the flag, and the receiver is still marked.
TEST_F(TermFlagsTest, AHeldTerminationSignalHidesTheFlagUntilAccepted) {
  ASSERT_EQ(rk_hold_sig(kPeer, 1, 1), 0);
  EXPECT_EQ(rk_set_term_flag(kBoss, "PEER"), 0);
  EXPECT_EQ(peer().stat & kStatTermSeen, kStatTermSeen);
  EXPECT_EQ(rk_test_term_flag(kPeer), 0);
  EXPECT_EQ(rk_hold_sig(kPeer, 1, 0), 1);
  EXPECT_EQ(rk_test_term_flag(kPeer), 1);
  EXPECT_EQ(peer().stats[kStatTermTests], 2u) << "every test counts, whatever it finds";

  // Registering anew clears flag and mark.
  ASSERT_EQ(rk_proc_exit(kPeer), 0);
  register_peer();
  EXPECT_EQ(rk_test_term_flag(kPeer), 0);
  EXPECT_EQ(peer().stat & kStatTermSeen, 0);
}

TEST_F(TermFlagsTest, RefusedSettersAndTestsOfNoClient) {
  struct {
    const char* what;
    int (*set)();
    int error;
  } refused[] = {
      {"no slot of that name", [] { return rk_set_term_flag(kBoss, "NOBODY"); }, kErrNoClient},
      {"no live client", [] { return rk_set_term_flag(kBoss, "IDLE"); }, kErrNotRegistered},
      {"no such application", [] { return rk_set_term_flag_ex(kBoss, "LAB", "A", "PEER"); }, kErrNoApp},
      {"by id, no live client", [] { return rk_set_app_term_flag(kBoss, kIdle); }, kErrNotRegistered},
      {"by id, application not running", [] { return rk_set_app_term_flag(kBoss, 0x0200); }, kErrAppInactive},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    entry(kBoss).errnum = 0;
    EXPECT_EQ(r.set(), -1);
    EXPECT_EQ(entry(kBoss).errnum, r.error);
  }
  for (rk_client_id id : {kIdle, static_cast<rk_client_id>(0x001F), static_cast<rk_client_id>(0x0200)}) {
    EXPECT_EQ(rk_test_term_flag(id), -1) << id;
  }
  EXPECT_EQ(entry(kIdle).stats[kStatTermTests], 0u);
}

}  // namespace
}  // namespace rk::test
