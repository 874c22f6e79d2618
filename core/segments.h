// Segments 1.. of an RTDB: created one at a time on 64 KiB boundaries above
// the previous one, recorded in the Kernel Segment Table, and mapped lazily
// by every other process at the address recorded there.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// The base of the segment that follows one ending at next_free: the 64 KiB
// boundary strictly above it.
constexpr uint32_t segment_base_after(uint32_t next_free) { return (next_free & ~0xFFFFu) + 0x10000u; }

// Adds a segment of at least `size` bytes (rounded up to even) to the
// attached RTDB and returns its base, or 0 when the table is full or the
// segment cannot be created or mapped. The caller holds the database lock
// or is creating the RTDB.
Addr new_segment(uint32_t size);

// Maps every segment that this process does not have mapped yet; does
// nothing when it has them all. With an entry, sets the entry's nmap to the
// first segment still missing in this process (the entries in use when none
// is). False when some segment could not be mapped here; the next call
// tries it again.
bool map_new_segments(CptEntry* entry);

}  // namespace rk
