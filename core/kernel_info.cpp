// What the kernel says about itself: time, title and copyright.
#include "core/kernel_time.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "rk.h"

extern "C" {

RK_API int rk_get_tick(uint32_t* tick, uint16_t* time) {
  if (tick != nullptr) *tick = rk::os::tick_count();
  if (time != nullptr) rk::kernel_time_fields(rk::os::local_time(), time);
  return 0;
}

RK_API const char* rk_get_title(void) {
  static char title[80];
  static const bool formatted = (rk::kfmt(title, "Korvamentis %d.%d", 7, 5), true);
  (void)formatted;
  return title;
}

RK_API const char* rk_get_copyrt(void) {
  return "Korvamentis real-time database kernel. Copyright (c) 2026 its developers.";
}

}  // extern "C"
