// Text fields of the shared records: fixed widths, read by other processes
// as NUL-terminated texts.
#pragma once

#include <cstddef>
#include <cstring>

namespace rk {

// Stores text cut to width - 1 characters, NUL-terminated, the rest of the
// field zero. A null text stores an empty one.
inline void copy_text(char* field, size_t width, const char* text) {
  if (width == 0) return;
  // Measured first: the text may be another record's field, full to its end.
  const size_t n = text != nullptr ? strnlen(text, width - 1) : 0;
  if (n != 0) memcpy(field, text, n);
  memset(field + n, 0, width - n);
}

// Copies a text field into one of the same width: at most width - 1
// characters, NUL-terminated, the rest zero. The source is read no further
// than its own width, whether or not it ends in a NUL.
inline void copy_field(char* field, const char* from, size_t width) {
  if (width == 0) return;
  const size_t n = strnlen(from, width - 1);
  memcpy(field, from, n);
  memset(field + n, 0, width - n);
}

}  // namespace rk
