// Tests of tag changes that wake clients in other processes: this process
// creates an RTDB of two running applications (0 and 1, domain OPS) with
// two 4-byte plain types of 8 tags, one whose values each application keeps
// and one whose values they share. Clients are slots made live by hand,
// here or in client processes that live until the test ends.
#pragma once

#include <cstdint>

#include "support/tag_rtdb_test.h"

namespace rk::test {

class WakeRtdbTest : public TagRtdbTest {
 protected:
  static constexpr uint16_t kLocal = 0;    // values per application
  static constexpr uint16_t kShared = 1;   // values shared by both

  void SetUp() override;
};

}  // namespace rk::test
