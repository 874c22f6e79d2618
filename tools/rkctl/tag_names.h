// Tags by name: TYPE[INDEX], TYPE[FIRST..LAST] or TYPE for every tag of the
// type, the type by its name in the RTDB's type table (the exact name
// first, else case ignored).
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
  uint16_t ksiz = 0;
  uint16_t type_class = 0;
  bool per_app = false;
};

struct NamedTag {
  std::string name;         // as it is shown: TYPE[INDEX]
  TypeInfo type;
  rk_tag_ref ref;
};

const char* kind_name(uint16_t stat);
// The class as a word: digital, int16, double, string, int32, raw; others "class N".
std::string class_name(uint16_t type_class);

// The type table of the attached RTDB.
std::vector<TypeInfo> type_table();

// Each name, expanded; throws Failure for an unknown type or a bad index.
std::vector<NamedTag> resolve_tags(const std::vector<std::string>& names);

}  // namespace rkctl
