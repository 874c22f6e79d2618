/* What the three demo programs share: registration from the environment
 * the run manager gives them, tag references by type name, the clock. */
#ifndef DEMO_COMMON_H
#define DEMO_COMMON_H

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "rk.h"

/* Set by SIGTERM: the run manager sends it to a client that it could not
 * reach through its termination flag. */
static volatile sig_atomic_t demo_stop;

static void demo_on_term(int sig) {
  (void)sig;
  demo_stop = 1;
}

static inline double demo_now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Registers under `task` (RKNAME, RKDOMAIN and RKUSER come from the run
 * manager) and leaves again at exit; exits on failure. */
static inline rk_client_id demo_register(const char* task, const char* desc) {
  int16_t id;
  signal(SIGTERM, demo_on_term);
  id = rk_proc_init(task, desc);
  if (id < 0) {
    fprintf(stderr, "%s: cannot register: %s (%d)\n", task, rk_strerror(id), id);
    exit(2);
  }
  atexit(rk_exit_trap);
  return (rk_client_id)id;
}

/* The number of the type called `name`; exits when there is none. */
static inline uint16_t demo_type(const char* task, const char* name) {
  int type = rk_find_type(name);
  if (type < 0) {
    fprintf(stderr, "%s: type %s: %s\n", task, name, rk_strerror(type));
    exit(2);
  }
  return (uint16_t)type;
}

/* The number of tags of a type. */
static inline uint16_t demo_count(uint16_t type) {
  rk_type_entry e;
  memset(&e, 0, sizeof e);
  return rk_get_type(type, &e) == 0 ? e.max : 0;
}

#endif
