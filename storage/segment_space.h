// Permanent space taken from the segments of the attached RTDB: the unused
// tail of the kgd segment first, then extra segments opened on demand. It is
// never given back; string buffers and type records live here.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Least size of an extra segment.
constexpr uint32_t kExtraSegBytes = 65536;

// Takes `bytes` from the first segment in table order whose free count is
// large enough, else from a new extra segment of max(bytes, 64 KiB) while
// the kgd's extra-segment limit allows one. A request of 0 always opens a
// new extra segment and returns its base. Returns 0 when nothing can be had.
Addr seg_reserve(uint32_t bytes);

// Reserves a string buffer of `bytes` and records it in the descriptor:
// 0 with the buffer's address and size stored, or -1 with address 0 and
// size 0 stored. The length is left alone. A zero-byte buffer is refused:
// it could hold nothing, and every later write would reserve again.
int seg_reserve_string(StringDesc* desc, uint16_t bytes);

}  // namespace rk
