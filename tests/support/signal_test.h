// Tests of signals and termination flags: application 0 (OPS A) configures
// BOSS, which this process registers as, SLEEPER and WAKER for client
// processes, IDLE, which nobody registers, and PEER, a second client of
// this process; application 1 (OPS B) configures REMOTE.
#pragma once

#include "rk.h"
#include "support/app_test.h"

namespace rk::test {

constexpr rk_client_id kBoss = 0x0000;
constexpr rk_client_id kSleeper = 0x0001;
constexpr rk_client_id kWaker = 0x0002;
constexpr rk_client_id kIdle = 0x0003;
constexpr rk_client_id kPeer = 0x0005;
constexpr rk_client_id kRemote = 0x0104;

class SignalTest : public AppTest {
 protected:
  void SetUp() override;

  // Registers PEER in this process.
  void register_peer();
};

}  // namespace rk::test
