// Consistency check of the descriptors of every string tag, for tests and
// for diagnosing damage. Reads only the descriptors and the segment table;
// the texts themselves are not looked at.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when every string tag's descriptor is sound: without a buffer, its
// size and length are 0; with one, the buffer has a size and lies wholly in
// the used part of a segment from which segment space is handed out (not a
// dbrt segment, not a memory pool); the length is never above the size.
// Otherwise "string TAG app A: " (a shared type's tags once, as "string
// TAG: ") and the first fault found. Arrays that tag_arrays refuses are
// passed over: layout_check reports them.
std::string string_check(const Kgd* kgd);

}  // namespace rk
