// Type tables and domains that tests create RTDBs with.
#pragma once

#include <cstring>
#include <initializer_list>
#include <vector>

#include "rk.h"

namespace rk::test {

inline rk_type_entry type_entry(const char* name, uint16_t stat, uint16_t max, uint16_t usiz,
                                uint16_t per_app = 1, uint16_t type_class = 0) {
  rk_type_entry t{};
  t.stat = stat;
  t.max = max;
  t.usiz = usiz;
  t.per_app = per_app;
  t.type_class = type_class;
  strncpy(t.name, name, sizeof t.name);
  return t;
}

// The types of the RTDB that processes of both variants share in the mixed
// tests: 0 ANALOG (4 bytes), 1 WIDE (64), 2 WORD8 (8), 3 TEXT (string),
// 4 MBX (mailbox), 5 FLAG (digital).
inline std::vector<rk_type_entry> mixed_types() {
  return {type_entry("ANALOG", 0, 10, 4), type_entry("WIDE", 0, 4, 64), type_entry("WORD8", 0, 4, 8),
          type_entry("TEXT", 2, 4, 8),    type_entry("MBX", 3, 2, 22),  type_entry("FLAG", 1, 4, 2)};
}

inline rk_kusr kusr(const char* name, uint32_t instances) {
  rk_kusr k{};
  // A domain name may use all 16 bytes, without a NUL.
  memcpy(k.name, name, strnlen(name, sizeof k.name));
  k.instances = instances;
  return k;
}

// A slot of an application template: configured under a name, with a
// queue priority.
struct SlotConfig {
  uint32_t slot;
  const char* name;
  uint16_t prty = 0;
};

// The 31 entries of an application template: the given slots configured
// (stat 1), all others free.
inline std::vector<rk_cpt_entry> app_template(std::initializer_list<SlotConfig> slots = {}) {
  std::vector<rk_cpt_entry> table(31);
  for (const SlotConfig& c : slots) {
    rk_cpt_entry& e = table.at(c.slot);
    strncpy(e.name, c.name, sizeof e.name - 1);
    e.stat = 1;
    e.prty = c.prty;
  }
  return table;
}

}  // namespace rk::test
