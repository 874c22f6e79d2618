// The one RTDB of a benchmark run (a process attaches to one RTDB only):
// application 0 of domain OPS with client 0:0 registered to this process,
// and the types
//   ANALOG  1000 plain 4-byte tags with values per application,
//   DOUBLE  1000 plain 8-byte tags with values per application,
//   MBX     8 mailboxes per application,
//   WIDE    8 plain 64-byte tags, TEXT 8 string tags,
//   BIGn    further plain 8-byte tags, so that the RTDB defines as many
//           tags as RK_BENCH_TAGS says (1000 by default: none of these).
#pragma once

#include <pthread.h>

#include <cstdint>

#include "core/records.h"

namespace rk::bench {

constexpr uint16_t kAnalog = 0;
constexpr uint16_t kDouble = 1;
constexpr uint16_t kMbx = 2;
constexpr uint16_t kAnalogTags = 1000;
constexpr uint16_t kMailboxes = 8;
constexpr uint16_t kWide = 3;
constexpr uint16_t kText = 4;
constexpr uint16_t kWideTags = 8;
constexpr uint16_t kWideBytes = 64;

// Made at the first call, deleted as the process ends.
void bench_rtdb();

// The number of tags the RTDB defines, every type together.
uint32_t tags_defined();

// Makes slot `id` of application 0 a live client of process pid, as
// registration does.
CptEntry& make_client(uint16_t id, uint32_t pid);

// In a child process of the benchmark: attaches as any client process
// does and registers slot `id` of application 0 to itself.
void attach_child(uint16_t id);

// Ends a child's client in the parent's view, once the child has exited.
void forget_client(uint16_t id);

// Pins the calling process to a CPU of RK_BENCH_CPUS ("0,1": the parent
// of a round trip on CPU 0, its child on CPU 1; "0": both on CPU 0).
// Nothing when the variable is not set.
void pin(bool child);

// Makes *m a robust, process-shared mutex, recursive when asked: the
// floors' mutex, as the kernel's own objects are.
void init_robust_mutex(pthread_mutex_t* m, bool recursive);

// Lets the calling process run on every CPU again: for the processes of a
// benchmark that measures them all together.
void unpin();

}  // namespace rk::bench
