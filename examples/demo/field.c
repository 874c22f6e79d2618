/* A simulated field device: every period it writes all analog inputs (AI,
 * doubles following slow sine waves), all digital inputs (DI) and the time
 * stamp STAMP[0] of the batch, in one write, until its termination flag is
 * set. At the end it prints how many tag writes it made. */
#include <math.h>

#include "demo_common.h"

int main(int argc, char** argv) {
  const long period_ms = argc > 1 ? atol(argv[1]) : 10;
  rk_client_id id = demo_register("FIELD", "simulated field device");
  uint16_t ai = demo_type("FIELD", "AI"), di = demo_type("FIELD", "DI"), stamp = demo_type("FIELD", "STAMP");
  uint16_t nai = demo_count(ai), ndi = demo_count(di);
  uint32_t n = (uint32_t)nai + ndi + 1, i;
  rk_tag_ref* refs = calloc(n, sizeof *refs);
  unsigned char* values = calloc((size_t)nai * 8 + (size_t)ndi * 2 + 8, 1);
  unsigned long long writes = 0;
  double start = demo_now(), t;
  struct timespec next;
  if (refs == NULL || values == NULL) return 2;
  for (i = 0; i < nai; ++i) refs[i] = (rk_tag_ref){ai, (uint16_t)i};
  for (i = 0; i < ndi; ++i) refs[nai + i] = (rk_tag_ref){di, (uint16_t)i};
  refs[n - 1] = (rk_tag_ref){stamp, 0};
  printf("field: writing %u tags every %ld ms\n", n, period_ms);
  fflush(stdout);

  clock_gettime(CLOCK_MONOTONIC, &next);
  while (!demo_stop && rk_test_term_flag(id) == 0) {
    unsigned char* p = values;
    t = demo_now() - start;
    for (i = 0; i < nai; ++i, p += 8) {
      /* Periods of 2 to 6 s, one phase each. */
      double v = 50.0 + 50.0 * sin(2.0 * M_PI * t / (2.0 + (i % 5)) + i);
      memcpy(p, &v, 8);
    }
    for (i = 0; i < ndi; ++i, p += 2) {
      uint16_t bit = (uint16_t)(((long)(t * 4) + i) % 8 == 0);
      memcpy(p, &bit, 2);
    }
    t = demo_now();
    memcpy(p, &t, 8);
    if (rk_write(id, refs, n, values) != 0) {
      fprintf(stderr, "field: write failed: %s\n", rk_strerror(rk_errno(id)));
      return 1;
    }
    writes += n;
    next.tv_nsec += period_ms * 1000000L;
    while (next.tv_nsec >= 1000000000L) {
      next.tv_nsec -= 1000000000L;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
  }
  printf("demo-field writes=%llu seconds=%.3f\n", writes, demo_now() - start);
  fflush(stdout);
  free(refs);
  free(values);
  rk_proc_exit(id);
  return 0;
}
