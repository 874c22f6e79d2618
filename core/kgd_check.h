// What a kgd must look like before a process uses it. Another user may
// leave an object under a kgd name, and a crashed creation leaves a kgd
// half written: a kgd is trusted only when its marker, counts and every
// table pointer are exactly what creation lays out for its counts.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Where creation lays the fixed tables of segment 0, in bytes from its base,
// and the size of segment 0.
struct Segment0Plan {
  uint64_t kusr_table, app_blocks, mem_table, app_data, type_table, pairs, hist_ids, hist_pids, event_table, intents;
  uint64_t size;
};

Segment0Plan plan_segment0(uint64_t apps, uint64_t kusrs, uint64_t maxsegs, uint64_t memories);

constexpr uint32_t kHistoryCap = 500;        // kernel mutex history ring
constexpr uint32_t kSegmentsAdded = 400;     // segment table capacity beyond the creator's count
constexpr uint32_t kMaxApps = 128;           // application indexes a client id can name
// Segment table capacity and memory pools: the table dumps print a segment
// index and a pool index in at most five digits, as 16-bit numbers.
constexpr uint32_t kMaxSegTable = 65535;
constexpr uint32_t kMaxPools = 65535;
constexpr uint64_t kMaxSegment0 = 0x40000000;

// True when the kgd, mapped at its own base with `size` bytes under kgd
// index `index`, is a complete RTDB laid out by creation. `own` tells that
// the caller's user owns it; another user's kgd is accepted only when its
// creator shares it with everybody (flag value 4).
bool kgd_trusted(const Kgd* kgd, uint32_t size, uint32_t index, bool own);

}  // namespace rk
