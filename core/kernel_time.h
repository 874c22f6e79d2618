// The kernel's time record: hour, minute, second, hundredths, day, month,
// year, weekday (0 Sunday), each a u16.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace rk {

inline void kernel_time_fields(const os::LocalTime& t, uint16_t out[8]) {
  const uint16_t fields[8] = {t.hour, t.minute, t.second, static_cast<uint16_t>(t.millisecond / 10),
                              t.day,  t.month,  t.year,   t.weekday};
  for (int i = 0; i < 8; ++i) out[i] = fields[i];
}

}  // namespace rk
