// The names of an RTDB's kernel objects. Every name follows from the RTDB
// name and its kgd index, so an RTDB's objects are removed by their exact
// names, never by a prefix (another RTDB's name may start with this one's).
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Buffers given to these hold at least kObjectNameBytes.
constexpr uint32_t kObjectNameBytes = 64;

void kgd_name(char* buf, uint32_t index);
void segment_name(char* buf, const Kgd* kgd, uint32_t n);
void mutex_name(char* buf, const Kgd* kgd, int which);
void client_event_name(char* buf, const Kgd* kgd, uint32_t app, uint32_t slot);

// Removes every name of the RTDB whose kgd (of `size` bytes, at any address)
// was found under kgd index `index`, the kgd's own last: segments, including
// one that was made but not yet counted, the three mutexes and the client
// events. Counts are taken within the limits that the kgd's size allows, so
// a damaged kgd cannot make this run away; a kgd that does not carry its own
// index names nothing but itself. The caller is the last user of the RTDB,
// or deletes it.
void remove_rtdb_objects(const Kgd* kgd, uint32_t size, uint32_t index);

}  // namespace rk
