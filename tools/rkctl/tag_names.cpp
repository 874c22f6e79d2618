#include "tools/rkctl/tag_names.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "tools/rkctl/failure.h"

namespace rkctl {

std::vector<TypeInfo> type_table() {
  std::vector<TypeInfo> types;
  const int n = rk_get_ntypes();
  for (int i = 0; i < n; ++i) {
    rk_type_entry e;
    memset(&e, 0, sizeof e);
    if (rk_get_type(i, &e) != 0 || e.usiz == 0) continue;
    TypeInfo t;
    t.number = static_cast<uint16_t>(i);
    t.name = std::string(e.name, strnlen(e.name, sizeof e.name));
    t.stat = e.stat;
    t.max = e.max;
    t.usiz = e.usiz;
    t.ksiz = e.ksiz;
    t.type_class = e.type_class;
    t.per_app = e.per_app != 0;
    types.push_back(t);
  }
  return types;
}

namespace {

bool number(const std::string& s, unsigned long* out) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 6) return false;
  *out = strtoul(s.c_str(), nullptr, 10);
  return true;
}

}  // namespace

const char* kind_name(uint16_t stat) {
  switch (stat) {
    case 0: return "bytes";
    case 1: return "digital";
    case 2: return "string";
    case 3: return "mailbox";
    default: return "unknown";
  }
}

std::string class_name(uint16_t type_class) {
  static const char* const words[] = {"digital", "int16", "double", "string", "int32", "raw"};
  return type_class < 6 ? words[type_class] : "class " + std::to_string(type_class);
}

std::vector<NamedTag> resolve_tags(const std::vector<std::string>& names) {
  const std::vector<TypeInfo> types = type_table();
  std::vector<NamedTag> tags;
  for (const std::string& full : names) {
    const size_t open = full.find('[');
    const bool whole = open == std::string::npos;
    if (!whole && full.back() != ']') {
      throw Failure("rkctl: " + full + ": a tag is named TYPE, TYPE[INDEX] or TYPE[FIRST..LAST]");
    }
    const std::string type_name = whole ? full : full.substr(0, open);
    const TypeInfo* type = nullptr;
    for (const TypeInfo& t : types) {
      if (t.name == type_name) type = &t;
    }
    for (const TypeInfo& t : types) {
      if (type == nullptr && strcasecmp(t.name.c_str(), type_name.c_str()) == 0) type = &t;
    }
    if (type == nullptr) throw Failure("rkctl: " + full + ": no type named " + type_name);
    unsigned long first = 0, last = 0;
    if (whole) {
      if (type->max == 0) throw Failure("rkctl: " + full + ": the type has no tags");
      last = type->max - 1u;
    } else {
      const std::string inside = full.substr(open + 1, full.size() - open - 2);
      const size_t dots = inside.find("..");
      const bool ok = dots == std::string::npos ? number(inside, &first) && number(inside, &last)
                                                : number(inside.substr(0, dots), &first) &&
                                                      number(inside.substr(dots + 2), &last);
      if (!ok || first > last) throw Failure("rkctl: " + full + ": bad index");
      if (last >= type->max) {
        throw Failure("rkctl: " + full + ": index out of range (" + type->name + " has " +
                      std::to_string(type->max) + " tags)");
      }
    }
    for (unsigned long i = first; i <= last; ++i) {
      tags.push_back(NamedTag{type->name + "[" + std::to_string(i) + "]", *type,
                              rk_tag_ref{type->number, static_cast<uint16_t>(i)}});
    }
  }
  return tags;
}

}  // namespace rkctl
