// The one RTDB of a benchmark run (a process attaches to one RTDB only):
// application 0 of domain OPS with client 0:0 registered to this process,
// and the type ANALOG, 1000 plain 4-byte tags with values per application.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk::bench {

constexpr uint16_t kAnalog = 0;
constexpr uint16_t kAnalogTags = 1000;

// Made at the first call, deleted as the process ends.
void bench_rtdb();

// Makes slot `id` of application 0 a live client of process pid, as
// registration does.
CptEntry& make_client(uint16_t id, uint32_t pid);

}  // namespace rk::bench
