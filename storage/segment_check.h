// Consistency check of the Kernel Segment Table, for tests and for
// diagnosing a damaged table. Reads only the table in segment 0; every
// other check follows addresses into the segments it describes, so this one
// comes first.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when the table is sound: between 1 and its capacity entries in use;
// entry 0 is the kgd's segment; every entry has a size, no more used and
// free bytes than its size, and no flag but the dbrt flag (never on segment
// 0); the segments after the first start on 64 KiB boundaries with even
// sizes, each above the end of the one before, and the last ends below
// 4 GiB and no higher than the next free mapping address; the dbrt flags
// count the dbrt segments, and the dbrt segments, extra segments and
// memory pools with segment 0 make up the entries in use. Otherwise
// "segment table: " or "segment N: " and the first fault found.
std::string segment_check(const Kgd* kgd);

}  // namespace rk
