#include "support/tag_rtdb_test.h"

#include "core/attachment.h"
#include "core/client_ids.h"
#include "rk.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {

void TagRtdbTest::create(std::initializer_list<rk_type_entry> types, uint32_t napps, uint32_t memories) {
  std::vector<rk_type_entry> table(types);
  rk_kusr ops = kusr("OPS", napps);
  ASSERT_GE(rk_create_rtdb("", "", "PLANT", &ops, 1, table.data(), static_cast<uint32_t>(table.size()), 5, memories, 0),
            0);
  kgd_ = attachment().kgd;
  for (uint32_t a = 0; a < napps; ++a) app(a)->active = 1;   // as the instances will start
}

void TagRtdbTest::TearDown() {
  clients_.clear();
  rk_unmap_kgd();
  KernelTest::TearDown();
}

AppBlock* TagRtdbTest::app(uint32_t a) const { return app_block(kgd_, a); }

CptEntry& TagRtdbTest::entry(uint16_t id) const { return *slot_entry(kgd_, id); }

ChangeEntry& TagRtdbTest::change(uint32_t a, TagRef ref) const {
  return at<ChangeEntry>(at<TagArrayPair>(app(a)->pairs)[ref.type].change_array)[ref.index];
}

uint8_t* TagRtdbTest::cell(uint32_t a, TagRef ref) const {
  const TypeEntry& t = at<TypeEntry>(kgd_->type_table)[ref.type];
  return at<uint8_t>(at<TagArrayPair>(app(a)->pairs)[ref.type].value_array + (t.ksiz + 4) * ref.index);
}

Client& TagRtdbTest::start(uint16_t id) {
  clients_.push_back(start_client(id));
  return *clients_.back();
}

}  // namespace rk::test
