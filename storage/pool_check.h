// Consistency check of the kernel memory pools, for tests and for
// diagnosing a damaged heap. Reads only, and only inside each pool's
// segment.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when every pool of the Kernel Memory Table is sound: its segment is a
// whole pool segment that keeps nothing for seg_reserve, the fixed fields
// hold their values, the blocks tile the units from the first to the last
// block, every allocated block and its slot name each other and no other
// slot is in use (so at most kPoolSlots blocks are allocated), the counters
// add up, the first free block is the lowest free block, the next slot is
// free (kPoolFree exactly when every slot is in use), the generation is a
// multiple of kGenerationStep, and no header's reserved bytes are set.
// Otherwise "pool N: " and the first fault found.
std::string pool_check(const Kgd* kgd);

}  // namespace rk
