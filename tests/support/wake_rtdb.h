// Tests of tag changes that wake clients in other processes: this process
// creates an RTDB of two running applications (0 and 1, domain OPS) with
// two 4-byte plain types of 8 tags, one whose values each application keeps
// and one whose values they share. Clients are slots made live by hand,
// here or in client processes that live until the test ends.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/records.h"
#include "support/kernel_test.h"

namespace rk::test {

class WakeRtdbTest : public KernelTest {
 protected:
  static constexpr uint16_t kLocal = 0;    // values per application
  static constexpr uint16_t kShared = 1;   // values shared by both

  void SetUp() override;
  void TearDown() override;

  // The tag's change entry in application a.
  ChangeEntry& change(uint32_t a, TagRef ref) const;
  // A client process live in slot id, its events open.
  Client& start(uint16_t id);

  Kgd* kgd_ = nullptr;
  std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace rk::test
