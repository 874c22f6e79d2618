// Named mutexes shared between processes of every variant: recursive per
// thread, and robust: when the owner dies holding one, a waiter takes it
// over as if it were released, and learns that it was abandoned.
//
// The state is the kernel's own, the same bytes on every target (a 32-bit
// and a 64-bit process share one mutex), not the C library's. The owner's
// thread id is the futex word; a waiter that sleeps looks every
// kOwnerLookMs whether the owner's thread still exists, and takes the
// mutex over from a dead one (the system's robust lists belong to one C
// library and one variant, so they cannot serve a mixed plant).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handles.h"

namespace rk::os {

// Six 32-bit words on their natural alignment, so no packing: atomic
// instructions on the futex word are the machine's own on every target.
struct MutexState {
  uint32_t word;       // 0 free, else the owner's thread id, bit 31 set while anybody sleeps
  uint32_t depth;      // levels the owner holds
  uint32_t pid;        // the owner's process, 0 while free (for diagnosis)
  uint32_t start;      // that process's start time
  uint32_t takeovers;  // times the mutex was taken from a dead owner
  uint32_t marker;     // kMutexMarker
};
static_assert(sizeof(MutexState) == 24, "MutexState size");
static_assert(offsetof(MutexState, word) == 0, "MutexState.word offset");
static_assert(offsetof(MutexState, depth) == 4, "MutexState.depth offset");
static_assert(offsetof(MutexState, pid) == 8, "MutexState.pid offset");
static_assert(offsetof(MutexState, start) == 12, "MutexState.start offset");
static_assert(offsetof(MutexState, takeovers) == 16, "MutexState.takeovers offset");
static_assert(offsetof(MutexState, marker) == 20, "MutexState.marker offset");

constexpr uint32_t kMutexMarker = 0x4D4B5201;   // "\x01RKM": the format, version 1
constexpr uint32_t kMutexSleepers = 0x80000000u;
constexpr uint32_t kMutexOwnerMask = 0x3FFFFFFFu;
constexpr int kOwnerLookMs = 50;

// A new mutex, not owned; 0 on failure (EEXIST: the name exists).
Handle mutex_create(const char* name, bool everyone);

// The mutex of that name; 0 on failure (ENOENT: none exists, EACCES:
// another user's while `owner` is Self, EPROTO: not a mutex of this format).
Handle mutex_open(const char* name, Owner owner = Owner::Self);

// Waits without time-out. 0 when acquired, also from a dead owner, which
// sets *abandoned when given; otherwise a system error number.
int mutex_wait(Handle h, bool* abandoned = nullptr);

// 0 when released; otherwise a system error number (EPERM: not the owner).
int mutex_release(Handle h);

}  // namespace rk::os
