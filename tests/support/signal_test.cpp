#include "support/signal_test.h"

namespace rk::test {

void SignalTest::SetUp() {
  AppTest::SetUp();
  const auto ops_a = app_template({{0, "BOSS"}, {1, "SLEEPER"}, {2, "WAKER"}, {3, "IDLE"}, {5, "PEER"}});
  ASSERT_EQ(rk_init_app("Plant", "OPS", "A", ops_a.data()), 0);
  ASSERT_EQ(rk_init_app("Plant", "OPS", "B", app_template({{4, "REMOTE"}}).data()), 1);
  ASSERT_EQ(rk_proc_init("BOSS", ""), kBoss);
}

void SignalTest::register_peer() { ASSERT_EQ(rk_proc_init("PEER", ""), kPeer); }

}  // namespace rk::test
