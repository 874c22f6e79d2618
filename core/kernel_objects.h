// The named mutexes and client events of an RTDB.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Objects made for a kgd whose flags hold kFlagEveryone are readable and
// writable by every user; all others by their owner only.
inline bool wants_everyone(uint16_t flags) { return (flags & kFlagEveryone) != 0; }

// Makes an object of the attached RTDB with `create` (which gives 0 and
// EEXIST for a name in use). A name of ours in use is a leftover: every name
// of an RTDB follows from its kgd, which the caller holds, so it belongs to
// an RTDB of the same name and index that ended without removing it, or to
// a segment that was made but never counted. It is replaced. Another
// user's object is never touched.
template <typename Create>
uint32_t create_replacing(const char* name, Create create);

// Removes the name when the object behind it is the caller's user's; false
// when it is another user's or cannot be looked at.
bool remove_own_leftover(const char* name);

// Creates one client event per application and slot, with the handles in
// row 0 of the event-handle table, then the kernel mutex, the key mutex and
// the second mutex, not owned. On failure nothing it made is left, open or
// named.
bool create_kernel_objects(Kgd* kgd);

// Opens each of the three mutexes that this process does not hold yet.
void open_mutexes(const Kgd* kgd);

// Closes the three mutexes and clears their handles.
void close_mutexes();

template <typename Create>
uint32_t create_replacing(const char* name, Create create) {
  uint32_t h = create();
  if (h == 0 && remove_own_leftover(name)) h = create();
  return h;
}

}  // namespace rk
