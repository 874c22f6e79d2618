#include "support/wake_rtdb.h"

#include "core/attachment.h"
#include "core/client_ids.h"
#include "rk.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {

void WakeRtdbTest::SetUp() {
  KernelTest::SetUp();
  rk_type_entry types[] = {type_entry("LOCAL", 0, 8, 4, 1), type_entry("SHARED", 0, 8, 4, 0)};
  rk_kusr ops = kusr("OPS", 2);
  ASSERT_GE(rk_create_rtdb("", "", "PLANT", &ops, 1, types, 2, 5, 0, 0), 0);
  kgd_ = attachment().kgd;
  for (uint32_t a = 0; a < 2; ++a) app_block(kgd_, a)->active = 1;
}

void WakeRtdbTest::TearDown() {
  clients_.clear();
  rk_unmap_kgd();
  KernelTest::TearDown();
}

ChangeEntry& WakeRtdbTest::change(uint32_t a, TagRef ref) const {
  return at<ChangeEntry>(at<TagArrayPair>(app_block(kgd_, a)->pairs)[ref.type].change_array)[ref.index];
}

Client& WakeRtdbTest::start(uint16_t id) {
  clients_.push_back(start_client(id));
  return *clients_.back();
}

}  // namespace rk::test
