// The 64-bit time interface of the C library: its clock_gettime goes to
// the vDSO straight, where the 32-bit one converts a 64-bit result.
#define _FILE_OFFSET_BITS 64
#define _TIME_BITS 64

#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace rk::os {

uint32_t tick_count() {
  // The coarse clock is read from the vDSO without touching the hardware
  // counter; its resolution (a scheduler tick, a few milliseconds at most)
  // is enough for tick counts. The ticks wrap at 32 bits anyway, so the
  // arithmetic stays in 32 bits: no 64-bit multiply or division.
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<uint32_t>(ts.tv_sec) * 1000u + static_cast<uint32_t>(ts.tv_nsec) / 1000000u;
}

LocalTime local_time_at(int64_t seconds, uint16_t millisecond) {
  time_t secs = static_cast<time_t>(seconds);
  tm t{};
  localtime_r(&secs, &t);
  return LocalTime{static_cast<uint16_t>(t.tm_year + 1900), static_cast<uint16_t>(t.tm_mon + 1),
                   static_cast<uint16_t>(t.tm_wday),        static_cast<uint16_t>(t.tm_mday),
                   static_cast<uint16_t>(t.tm_hour),        static_cast<uint16_t>(t.tm_min),
                   static_cast<uint16_t>(t.tm_sec),         millisecond};
}

LocalTime local_time() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return local_time_at(ts.tv_sec, static_cast<uint16_t>(ts.tv_nsec / 1000000));
}

void sleep_ms(uint32_t ms) {
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
}

}  // namespace rk::os
