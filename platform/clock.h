// Time as the kernel sees it.
#pragma once

#include <cstdint>

namespace rk::os {

// Milliseconds of the coarse monotonic clock, truncated to 32 bits: it
// wraps, so all tick arithmetic is unsigned. It advances in steps of the
// system's scheduler tick, not of single milliseconds.
uint32_t tick_count();

struct LocalTime {
  uint16_t year, month, weekday, day, hour, minute, second, millisecond;
};

LocalTime local_time();

// The local time of a moment given in seconds since the epoch.
LocalTime local_time_at(int64_t seconds, uint16_t millisecond);

void sleep_ms(uint32_t ms);

}  // namespace rk::os
