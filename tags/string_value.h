// String values. A string tag's cell holds the kernel's descriptor
// (StringDesc: a 32-bit address of segment memory, valid in every process
// and never given back); a caller's element holds the caller's own
// rk_string_desc, whose buffer is a real pointer into the caller's process.
// Both have a buffer, a size (capacity) and a length (bytes in use), and
// content when all three are nonzero. A length above the size is never
// trusted: at most size bytes are read from any buffer.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// 1 when the cell and the caller's descriptor hold different texts, 0 when
// they hold the same. A caller without content differs only from a cell
// with content.
int string_differs(const StringDesc* cell, const rk_string_desc* caller);

// What string_assign did.
enum StringAssign {
  kStringSame = 0,        // the destination already held the text
  kStringChanged = 1,
  kStringNoBuffer = 2,    // the destination has no buffer and may not get one
  kStringNoMemory = 3,    // its buffer could not be reserved
};

// Copies a text into the destination, cut to its size; a text shorter than
// the destination's buffer is terminated with a 0 byte, one that fills it is
// not. A source without content empties the destination.
//
// Into a cell, from a caller's descriptor: a cell without a buffer gets one
// of the caller's size when `may_allocate` (segment memory).
int string_assign(StringDesc* cell, const rk_string_desc* caller, bool may_allocate);
// Into a caller's descriptor, from a cell: a caller without a buffer
// receives nothing (kStringNoBuffer).
int string_assign(rk_string_desc* caller, const StringDesc* cell);

// A cell's descriptor as a caller's, for handing the kernel's own text to
// a write of another tag.
inline rk_string_desc caller_view(const StringDesc& cell) {
  return rk_string_desc{cell.buffer != 0 ? at<char>(cell.buffer) : nullptr, cell.size, cell.length};
}

}  // namespace rk
