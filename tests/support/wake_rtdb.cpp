#include "support/wake_rtdb.h"

#include "support/test_rtdb_layouts.h"

namespace rk::test {

void WakeRtdbTest::SetUp() {
  TagRtdbTest::SetUp();
  create({type_entry("LOCAL", 0, 8, 4, 1), type_entry("SHARED", 0, 8, 4, 0)}, 2);
}

}  // namespace rk::test
