// The texts that the consistency checks report a fault with.
#pragma once

#include <string>

namespace rk {

// Formats through the kernel formatter, so every argument is a 32-bit
// number; a fault is one short line, cut at 159 characters.
std::string check_text(const char* fmt, ...);

}  // namespace rk
