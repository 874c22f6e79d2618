// String values. A string tag's cell and a caller's element both hold a
// string descriptor: buffer address, size (capacity) and length (bytes in
// use). The cell's buffer is segment memory, valid in every process and
// never given back; a caller's is in the caller's process. A descriptor has
// content when all three are nonzero. A length above the size is never
// trusted: at most size bytes are read from any buffer.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// 1 when d and s hold different texts, 0 when they hold the same. A source
// without content differs only from a destination with content.
int string_differs(const StringDesc* d, const StringDesc* s);

// What string_assign did.
enum StringAssign {
  kStringSame = 0,        // the destination already held the text
  kStringChanged = 1,
  kStringNoBuffer = 2,    // the destination has no buffer and may not get one
  kStringNoMemory = 3,    // its buffer could not be reserved
};

// Copies s's text into d, cut to d's size; a text shorter than d's buffer
// is terminated with a 0 byte, one that fills it is not. A source without
// content empties d. A d without a buffer gets one of s's size when
// `may_allocate` (only for the kernel's own descriptors, whose buffers are
// segment memory).
int string_assign(StringDesc* d, const StringDesc* s, bool may_allocate);

}  // namespace rk
