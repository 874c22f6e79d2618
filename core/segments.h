// Segments 1.. of an RTDB: created one at a time on 64 KiB boundaries above
// the previous one, recorded in the Kernel Segment Table, and mapped lazily
// by every other process at the address recorded there.
#pragma once

#include <cstdint>

#include "core/attachment.h"
#include "core/kgd_words.h"
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
// The part of map_new_segments that maps: the first n segments, an
// attached RTDB, some of them not mapped here yet.
bool map_missing_segments(CptEntry* entry, uint32_t n);

// Lets go of this process's views of segments beyond the count: a repair
// undid their publication, and whoever adds the next segment makes it anew.
void forget_unpublished_views();

// The table entry of the segment that holds all of [a, a + bytes) as far as
// both its entry and this process's mapping of it reach; null when no
// segment of the attached RTDB mapped here does. For the consistency
// checks, which follow an address read from shared memory only into memory
// that is there. The bases are taken to rise with the index, as segments are
// made; where they do not, an address may go unfound, never misplaced.
const SegEntry* mapped_segment_holding(const Kgd* kgd, Addr a, uint64_t bytes);

// Inline: every grant of the lock asks, and the answer is nearly always
// that nothing is missing.
inline bool map_new_segments(CptEntry* entry) {
  const Attachment& att = attachment();
  Kgd* kgd = att.kgd;
  if (kgd == nullptr) return false;
  const uint32_t n = load_nsegs(kgd);
  // Every segment is mapped in this process already: nothing to lock. What
  // is mapped is this process's to know: the entry's count may have been
  // written by another process that used the same client id.
  if (att.mapped >= n) {
    if (entry != nullptr && entry->nmap != n) entry->nmap = static_cast<uint16_t>(n);
    return true;
  }
  return map_missing_segments(entry, n);
}

}  // namespace rk
