#include "core/check_text.h"

#include <cstdarg>

#include "platform/format.h"

namespace rk {

std::string check_text(const char* fmt, ...) {
  char text[160];
  va_list ap;
  va_start(ap, fmt);
  kvfmt_n(text, sizeof text, fmt, ap);
  va_end(ap);
  return text;
}

}  // namespace rk
