#ifdef RK_CRASH_POINTS
#include "core/crash_point.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/process_info.h"

namespace rk {

namespace {

struct Target {
  bool read = false;
  std::string name;
  long pass = 0;
  long seen = 0;
  bool trace = false;
};

Target& target() {
  static Target t;
  if (!t.read) {
    t.read = true;
    if (const char* at = os::env_var("RK_CRASH_AT")) {
      const char* colon = std::strrchr(at, ':');
      t.name = colon != nullptr ? std::string(at, colon) : std::string(at);
      t.pass = colon != nullptr ? std::strtol(colon + 1, nullptr, 10) : 1;
    }
    const char* trace = os::env_var("RK_CRASH_TRACE");
    t.trace = trace != nullptr && trace[0] == '1';
  }
  return t;
}

}  // namespace

void crash_point(const char* name) {
  Target& t = target();
  if (t.trace) std::fprintf(stderr, "crash point %s\n", name);
  if (t.name.empty() || t.name != name || ++t.seen != t.pass) return;
  os::kill_self();
}

}  // namespace rk
#endif
