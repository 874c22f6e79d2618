// Tags by name: TYPE[INDEX] or TYPE[FIRST..LAST], the type by its name in
// the RTDB's type table (case ignored).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rk.h"

namespace rkctl {

struct TypeInfo {
  uint16_t number = 0;
  std::string name;
  uint16_t stat = 0;        // value kind
  uint16_t max = 0;
  uint16_t usiz = 0;
  uint16_t type_class = 0;
  bool per_app = false;
};

struct NamedTag {
  std::string name;         // as it is shown: TYPE[INDEX]
  TypeInfo type;
  rk_tag_ref ref;
};

// The type table of the attached RTDB.
std::vector<TypeInfo> type_table();

// Each name, expanded; throws Failure for an unknown type or a bad index.
std::vector<NamedTag> resolve_tags(const std::vector<std::string>& names);

}  // namespace rkctl
