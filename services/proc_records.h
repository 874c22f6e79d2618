// Client Process Table entries as monitoring and configuring processes see
// them: copies of one slot, taken whole under the kernel mutex, and the
// configuration of a slot that holds no client.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Copies the slot that id names (live or not) into copy, consistent in
// itself: taken under the kernel mutex as the calling process. False when
// no RTDB is attached, id names no slot, or the mutex fails.
bool copy_slot(uint16_t id, CptEntry* copy);

}  // namespace rk
