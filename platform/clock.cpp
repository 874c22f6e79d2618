// The tick clock is the vDSO's clock_gettime64, called straight; where it
// cannot be found, the C library's 64-bit time interface, which goes to
// the vDSO too, where the 32-bit one converts a 64-bit result.
#define _FILE_OFFSET_BITS 64
#define _TIME_BITS 64

#include "platform/clock.h"

#include <dlfcn.h>
#include <time.h>

#include <cerrno>

namespace rk::os {

namespace {

// The clock_gettime64 of the vDSO, called without the C library's wrapper.
// It fills the kernel's timespec: two 64-bit fields.
struct KernelTimespec {
  int64_t tv_sec;
  int64_t tv_nsec;
};
using VdsoClock = int (*)(clockid_t, KernelTimespec*);

// Null until the library's initialisation found it, and where the vDSO
// has none: the C library's clock is read then.
VdsoClock find_vdso_clock() {
  void* vdso = dlopen("linux-gate.so.1", RTLD_NOW | RTLD_NOLOAD);
  if (vdso == nullptr) return nullptr;
  void* f = dlvsym(vdso, "__vdso_clock_gettime64", "LINUX_2.6");
  dlclose(vdso);
  return reinterpret_cast<VdsoClock>(f);
}

VdsoClock g_vdso_clock = find_vdso_clock();

inline uint32_t ms_of(uint32_t sec, uint32_t nsec) { return sec * 1000u + nsec / 1000000u; }

}  // namespace

uint32_t tick_count() {
  // The coarse clock is read from the vDSO without touching the hardware
  // counter; its resolution (a scheduler tick, a few milliseconds at most)
  // is enough for tick counts. The ticks wrap at 32 bits anyway, so the
  // arithmetic stays in 32 bits: no 64-bit multiply or division.
  KernelTimespec now;
  const VdsoClock vdso = __atomic_load_n(&g_vdso_clock, __ATOMIC_RELAXED);
  if (vdso != nullptr && vdso(CLOCK_MONOTONIC_COARSE, &now) == 0) {
    return ms_of(static_cast<uint32_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec));
  }
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return ms_of(static_cast<uint32_t>(ts.tv_sec), static_cast<uint32_t>(ts.tv_nsec));
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
