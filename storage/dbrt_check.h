// Consistency check of every dbrt segment of an RTDB, for tests and for
// diagnosing a damaged layout. Reads only; stays inside each segment.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when every dbrt segment is sound: the table entry keeps nothing free,
// the segment header names the entry, the blocks tile the segment exactly
// with the base as owner and correct back links, the free list holds exactly
// the free blocks with consistent links, free payloads are zero and no two
// free blocks are neighbours. Otherwise a short description of the first
// fault found.
std::string dbrt_check(const Kgd* kgd);

}  // namespace rk
