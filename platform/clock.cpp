#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace rk::os {

uint32_t tick_count() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
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
