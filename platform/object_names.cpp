#include "platform/object_names.h"

#include <cstdlib>
#include <cstring>

namespace rk::os {

std::string name_space() {
  const char* ns = getenv("RKNAMESPACE");
  return ns != nullptr ? ns : "";
}

std::string object_path(const char* name) {
  if (name == nullptr) return {};
  std::string path = "/" + name_space();
  size_t len = strnlen(name, kMaxObjectName + 1);
  if (len == 0 || len > kMaxObjectName) return {};
  path.append(name, len);
  if (path.size() > 250 || path.find('/', 1) != std::string::npos) return {};
  return path;
}

}  // namespace rk::os
