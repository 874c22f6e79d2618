// The kernel's own formatter. Every text the kernel builds (object names,
// messages, dump tables) goes through it, so the output is the same on every
// C library and already carries CR LF line ends.
//
// Format: %% or %[-][0][width][l]conv with conv one of d u o x X c s. Every
// conversion but c and s takes one 32-bit argument; c takes an int and prints
// its low byte. Any other conv character is printed as it is and takes no
// argument. A line feed, in the format or in a %s argument, is stored as
// CR LF; the width counts characters before that. No printf format
// attribute: the rules differ (%ld takes 32 bits, %5.2f is legal text).
#pragma once

#include <cstdarg>
#include <cstddef>

namespace rk {

// Stores the text and a final NUL in buf, which must be large enough.
// Returns the number of characters stored, not counting the NUL.
int kfmt(char* buf, const char* fmt, ...);
int kvfmt(char* buf, const char* fmt, va_list ap);

// Same, but never stores more than cap bytes, the NUL included: longer text
// is cut. Returns the number of characters stored (0 when cap is 0, and then
// nothing is stored at all).
int kfmt_n(char* buf, std::size_t cap, const char* fmt, ...);
int kvfmt_n(char* buf, std::size_t cap, const char* fmt, va_list ap);

}  // namespace rk
