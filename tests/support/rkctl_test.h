// Tests of rkctl against real plants: a plant file of the test's own in a
// directory of its own, and every run manager the test starts killed with
// its clients however the test ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/kernel_test.h"
#include "support/rkctl_process.h"

namespace rk::test {

// Long enough for any step on a loaded machine; reaching it is a failure.
constexpr int kBoundMs = 20000;

class RkctlTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the plant file (plant.toml, or `name`) and gives its path.
  std::string plant(const std::string& text, const std::string& name = "plant.toml");

  RkctlProcess& start(const std::vector<std::string>& args, const SpawnOptions& options = {});

  // The demo plant. rkctl starts its programs by name from its own
  // directory; where the build runs through an emulator, the plant runs
  // from a copy that finds each name in a directory of the test's own, as a
  // script that starts the program through the emulator's launcher.
  std::string demo_plant();

  // Index of the first output line containing `text`, or -1.
  static int line_of(const RkctlProcess& p, const std::string& text);

  std::string dir_;
  std::vector<std::unique_ptr<RkctlProcess>> runs_;
};

// A plant of one domain OPS with one instance A of it: the RTDB's name,
// its [[type]] tables and the instance's [[instance.client]] tables.
std::string one_instance(const std::string& name, const std::string& types, const std::string& clients);

}  // namespace rk::test
