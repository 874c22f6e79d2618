// The block allocator of dbrt segments, the segments that hold the tag
// arrays. Every array is the payload of one block; a doubly linked free list
// per segment keeps the free blocks, whose payloads are always zero, so new
// arrays start zeroed. Only the layout build calls these, under the kernel
// mutex; `kgd` is the attached RTDB's.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Best fit over every dbrt segment in table order: the free block with the
// smallest payload of at least bytes + 20 (the first met on a tie). A block
// of exactly bytes + 20 is taken whole, a larger one is split. Returns the
// zeroed payload, or 0 when no block qualifies.
Addr dbrt_alloc(Kgd* kgd, uint32_t bytes);

// Zeroes the payload and returns the block to its segment, merged with a
// free neighbour on either side. Anything that is not the payload of an
// allocated block of a dbrt segment of this RTDB is ignored, 0 included.
void dbrt_free(Kgd* kgd, Addr payload);

// Makes *slot (an array address or 0) name a block of at least `bytes`:
// nothing to do when its block is large enough; otherwise the array moves to
// a new block, its whole old payload copied to the same positions, and the
// old block is freed. 0, or kErrNoMemory with nothing changed when no block
// is to be had or *slot is not an array of this allocator. *slot is an
// aligned word of the caller's (a copy of a packed field, written back after).
int dbrt_grow(Kgd* kgd, uint32_t bytes, Addr* slot);

// The same for an array address kept in a field of a shared record, which
// may lie on any byte: the new block and the field change as one update,
// and only then is the old block given back. Kernel mutex held.
int dbrt_grow_field(Kgd* kgd, uint32_t bytes, Addr* field);

// Opens a dbrt segment of bytes + 28 (at least kDbrtSegBytes unless the kgd
// segment is the only one; rounded up to even like every segment) holding
// one free block, and returns its table entry; null when the kgd's dbrt
// limit is reached or no segment can be made.
SegEntry* dbrt_add_segment(Kgd* kgd, uint32_t bytes);

}  // namespace rk
