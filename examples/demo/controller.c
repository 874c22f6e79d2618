/* A controller: it sleeps until the field device's time stamp changes,
 * measures how long the wake-up took from the stamp written with the
 * values, reads the analog inputs, writes the outputs (AO) and sends an
 * alarm message to the mailbox ALARM[0] whenever one of the first 20 inputs
 * rises above its limit. At the end it prints the wake-up latencies and the
 * number of messages sent. */
#include "demo_common.h"

#define WATCHED 20
#define LIMIT 95.0
#define MAX_SAMPLES 200000

static int by_value(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

int main(void) {
  rk_client_id id = demo_register("CONTROL", "controller");
  uint16_t ai = demo_type("CONTROL", "AI"), ao = demo_type("CONTROL", "AO");
  uint16_t stamp_type = demo_type("CONTROL", "STAMP"), alarm = demo_type("CONTROL", "ALARM");
  uint16_t n = demo_count(ai), i;
  rk_tag_ref stamp = {stamp_type, 0};
  rk_tag_ref* in = calloc(n, sizeof *in);
  rk_tag_ref* out = calloc(n, sizeof *out);
  double* values = calloc(n, sizeof *values);
  double* latencies = calloc(MAX_SAMPLES, sizeof *latencies);
  int high[WATCHED] = {0};
  unsigned long samples = 0, sent = 0;
  if (in == NULL || out == NULL || values == NULL || latencies == NULL) return 2;
  for (i = 0; i < n; ++i) {
    in[i] = (rk_tag_ref){ai, i};
    out[i] = (rk_tag_ref){ao, i};
  }
  rk_clear_chng(id, &stamp, 1);

  while (!demo_stop) {
    uint32_t position = 0;
    double written;
    if (rk_change_wait(id, &stamp, 1, &position, &written) != 0) {
      if (rk_errno(id) == RK_ETERM) break;
      continue;
    }
    if (samples < MAX_SAMPLES) latencies[samples++] = demo_now() - written;
    if (rk_read(id, in, n, values) != 0) continue;
    for (i = 0; i < WATCHED && i < n; ++i) {
      int now_high = values[i] > LIMIT;
      if (now_high && !high[i]) {
        char text[64];
        rk_message_record m;
        memset(&m, 0, sizeof m);
        snprintf(text, sizeof text, "AI[%u] high: %.1f", (unsigned)i, values[i]);
        m.data = text;
        m.length = m.size = (uint16_t)strlen(text);
        if (rk_write_mbx(id, (rk_tag_ref){alarm, 0}, &m) == 0) ++sent;
      }
      high[i] = now_high;
    }
    for (i = 0; i < n; ++i) values[i] *= 0.5;
    rk_write(id, out, n, values);
  }
  qsort(latencies, samples, sizeof *latencies, by_value);
  printf("demo-controller changes=%lu median_us=%.0f p99_us=%.0f sent=%lu\n", samples,
         samples ? latencies[samples / 2] * 1e6 : 0.0, samples ? latencies[samples * 99 / 100] * 1e6 : 0.0, sent);
  fflush(stdout);
  free(in);
  free(out);
  free(values);
  free(latencies);
  rk_proc_exit(id);
  return 0;
}
