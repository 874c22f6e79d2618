// Tests on the tags of an RTDB made by this process: the given type table,
// the domain OPS with `napps` instances, all of them active as if started,
// and client processes started into slots of it that end with the test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "core/records.h"
#include "support/kernel_test.h"

namespace rk::test {

class TagRtdbTest : public KernelTest {
 protected:
  // Creates and attaches the RTDB "PLANT", with `memories` kernel memory pools.
  void create(std::initializer_list<rk_type_entry> types, uint32_t napps, uint32_t memories = 0);
  void TearDown() override;

  AppBlock* app(uint32_t a) const;
  CptEntry& entry(uint16_t id) const;
  ChangeEntry& change(uint32_t a, TagRef ref) const;
  // The tag's value cell in application a: its attribute word, then its value.
  uint8_t* cell(uint32_t a, TagRef ref) const;
  // A client process live in slot id (start_client), kept until the test ends.
  Client& start(uint16_t id);

  Kgd* kgd_ = nullptr;
  std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace rk::test
