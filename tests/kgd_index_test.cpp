// rk_map_nextkgd goes on one above the index it is given: from the largest
// int, as from 31, there is no further RTDB, whichever exist.
#include <climits>
#include <string>

#include "support/plant_run.h"

namespace rk::test {
namespace {

using KgdIndexTest = KernelTest;

TEST_F(KgdIndexTest, NextFromTheLastIndexOrAboveFindsNoMore) {
  auto maker = spawn_client();
  ASSERT_EQ(bounded_call(*maker, "rtdbmake Plant 1 0 0 0"), "ok 0");
  auto looker = spawn_client();
  for (const int from : {INT_MAX, INT_MAX - 1, 31}) {
    EXPECT_EQ(bounded_call(*looker, "kgdnext " + std::to_string(from)), "ok -42 32") << from;
    EXPECT_EQ(bounded_call(*looker, "unmapkgd"), "ok");
  }
  EXPECT_EQ(bounded_call(*looker, "kgdnext -1"), "ok 0 0") << "the RTDB is there";
  EXPECT_EQ(bounded_call(*looker, "unmapkgd"), "ok");
  EXPECT_EQ(bounded_call(*maker, "delete 0"), "ok 0");
}

}  // namespace
}  // namespace rk::test
