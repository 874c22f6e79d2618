// The named mutexes and client events of an RTDB.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Objects made for a kgd whose flags hold kFlagEveryone are readable and
// writable by every user; all others by their owner only.
inline bool wants_everyone(uint16_t flags) { return (flags & kFlagEveryone) != 0; }

// The name of client event (app, slot) of an RTDB; buf holds at least 40 bytes.
void client_event_name(char* buf, const Kgd* kgd, uint32_t app, uint32_t slot);

// Creates one client event per application and slot, with the handles in
// row 0 of the event-handle table, then the kernel mutex, the key mutex and
// the second mutex, not owned. On failure nothing it made is left open.
bool create_kernel_objects(Kgd* kgd);

// Opens each of the three mutexes that this process does not hold yet.
void open_mutexes(const Kgd* kgd);

// Closes the three mutexes and clears their handles.
void close_mutexes();

}  // namespace rk
