// Type tables and domains that tests create RTDBs with.
#pragma once

#include <cstring>
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

inline rk_kusr kusr(const char* name, uint32_t instances) {
  rk_kusr k{};
  // A domain name may use all 16 bytes, without a NUL.
  memcpy(k.name, name, strnlen(name, sizeof k.name));
  k.instances = instances;
  return k;
}

}  // namespace rk::test
