// The kernel's few messages go straight to the calling process's standard
// output. Best effort: a process without one loses them silently.
#pragma once

namespace rk {

// Writes the NUL-terminated text to fd 1. Failures are ignored; a null text
// writes nothing.
void console_write(const char* text);

}  // namespace rk
