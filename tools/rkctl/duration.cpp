#include "tools/rkctl/duration.h"

#include <cmath>
#include <cstdlib>

namespace rkctl {

double parse_duration(const std::string& text) {
  if (text.empty()) return -1;
  char* end = nullptr;
  const double n = strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(n) || n < 0) return -1;
  const std::string unit(end);
  if (unit.empty() || unit == "s") return n;
  if (unit == "ms") return n / 1000;
  if (unit == "m" || unit == "min") return n * 60;
  if (unit == "h") return n * 3600;
  return -1;
}

}  // namespace rkctl
