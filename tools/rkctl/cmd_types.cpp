// rkctl types: every type of an RTDB with what a tag of it is, to name tags
// by (TYPE, TYPE[INDEX], TYPE[FIRST..LAST]).
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/json_out.h"
#include "tools/rkctl/tag_names.h"

namespace rkctl {

int list_types(const std::string& rtdb, bool json) {
  Attached at(rtdb);
  const std::vector<TypeInfo> types = type_table();
  if (json) {
    nlohmann::json out = nlohmann::json::array();
    for (const TypeInfo& t : types) {
      out.push_back({{"number", t.number},
                     {"name", t.name},
                     {"kind", kind_name(t.stat)},
                     {"class", class_name(t.type_class)},
                     {"count", t.max},
                     {"size", t.usiz},
                     {"per_app", t.per_app}});
    }
    std::cout << json_text(out) << std::endl;
    return 0;
  }
  // SIZE is the type table's value size: a plain value's bytes, 2 for
  // digital tags, the string or message record's size for the others.
  printf("%4s %-16s %-8s %-8s %6s %5s %s\n", "TYPE", "NAME", "KIND", "CLASS", "COUNT", "SIZE", "PER-APP");
  for (const TypeInfo& t : types) {
    printf("%4u %-16s %-8s %-8s %6u %5u %s\n", t.number, t.name.c_str(), kind_name(t.stat),
           class_name(t.type_class).c_str(), t.max, t.usiz, t.per_app ? "yes" : "no");
  }
  return 0;
}

}  // namespace rkctl
