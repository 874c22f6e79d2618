// Building the tag database layout: validating a type table, placing or
// growing every type's change and value arrays, and committing the table.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// The kernel bytes (ksiz) of a value of kind `stat` whose type table gives
// it `usiz`; -1 when the kind does not allow that size. A string takes 8 or
// 12 and a mailbox 22 or 26, the record sizes of a 32-bit and a 64-bit
// table writer.
int32_t value_ksiz(uint16_t stat, uint16_t usiz);

// Installs `count` entries of `table`: the existing types first, unchanged
// but for larger max, then the new types. Writes ksiz and the array sizes
// back into the caller's entries. 0, or kErrKernelMutex, kErrIncompatible,
// kErrNothingToDo, kErrBadTag or kErrNoMemory. Existing tags keep their
// values and change bits when their arrays grow.
int dbrt_build(Kgd* kgd, TypeEntry* table, uint32_t count);

}  // namespace rk
