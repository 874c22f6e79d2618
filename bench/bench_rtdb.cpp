#include "bench_rtdb.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_events.h"
#include "core/client_ids.h"
#include "rk.h"

namespace rk::bench {

namespace {

constexpr uint32_t kBigTypeTags = 50000;

rk_type_entry type(const char* name, uint16_t stat, uint16_t max, uint16_t usiz) {
  rk_type_entry t{};
  t.stat = stat;
  t.max = max;
  t.usiz = usiz;
  t.per_app = 1;
  memcpy(t.name, name, strnlen(name, sizeof t.name));  // the name field needs no NUL
  return t;
}

uint32_t wanted_tags() {
  const char* v = getenv("RK_BENCH_TAGS");
  const uint32_t n = v != nullptr ? static_cast<uint32_t>(strtoul(v, nullptr, 10)) : 0;
  return n > 2u * kAnalogTags ? n : 2u * kAnalogTags;
}

struct BenchRtdb {
  uint32_t defined = 0;
  BenchRtdb() {
    std::string ns = "rkbench" + std::to_string(getpid()) + "_";
    setenv("RKNAMESPACE", ns.c_str(), 1);
    rk_kusr ops{};
    memcpy(ops.name, "OPS", 4);
    ops.instances = 1;
    std::vector<rk_type_entry> types = {type("ANALOG", 0, kAnalogTags, 4), type("DOUBLE", 0, kAnalogTags, 8),
                                        type("MBX", 3, kMailboxes, 22), type("WIDE", 0, kWideTags, kWideBytes),
                                        type("TEXT", 2, kWideTags, 8)};
    defined = 2u * kAnalogTags;
    for (uint32_t left = wanted_tags() - defined; left > 0;) {
      const uint32_t n = left < kBigTypeTags ? left : kBigTypeTags;
      types.push_back(type(("BIG" + std::to_string(types.size())).c_str(), 0, static_cast<uint16_t>(n), 8));
      defined += n;
      left -= n;
    }
    if (rk_create_rtdb("", "", "Bench", &ops, 1, types.data(), static_cast<uint32_t>(types.size()), 5, 8, 0) < 0) {
      abort();
    }
    app_block(attachment().kgd, 0)->active = 1;
    open_events(&make_client(0x0000, static_cast<uint32_t>(getpid())));
  }
  ~BenchRtdb() { rk_unmap_kgd(); }
};

// The benchmark process itself sits where RK_BENCH_CPUS puts a parent.
const bool g_pinned = (pin(false), true);

BenchRtdb& the_rtdb() {
  static BenchRtdb rtdb;
  return rtdb;
}

}  // namespace

void bench_rtdb() { the_rtdb(); }

uint32_t tags_defined() { return the_rtdb().defined; }

CptEntry& make_client(uint16_t id, uint32_t pid) {
  AppBlock* app = app_block(attachment().kgd, 0);
  CptEntry& e = app->cpt[slot_of(id)];
  e.stat = kStatConfigured | kStatLive;
  e.pid = pid;
  e.id = id;
  e.own_bit = 1u << slot_of(id);
  e.nmap = 1;   // segment 0 only: the process maps the others at its first lock
  app->registered |= e.own_bit;
  return e;
}

void attach_child(uint16_t id) {
  rk_unmap_kgd();
  int index = -1;
  if (rk_map_firstkgd(&index) != 0) _exit(3);
  open_events(&make_client(id, static_cast<uint32_t>(getpid())));
}

void forget_client(uint16_t id) {
  AppBlock* app = app_block(attachment().kgd, 0);
  CptEntry& gone = app->cpt[slot_of(id)];
  gone.stat = 0;
  app->registered &= ~gone.own_bit;
}

void pin(bool child) {
  const char* cpus = getenv("RK_BENCH_CPUS");
  if (cpus == nullptr || *cpus == 0) return;
  int first = atoi(cpus);
  const char* comma = strchr(cpus, ',');
  const int cpu = child && comma != nullptr ? atoi(comma + 1) : first;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

void init_robust_mutex(pthread_mutex_t* m, bool recursive) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (recursive) pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
}

void unpin() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  for (long c = 0; c < cpus && c < CPU_SETSIZE; ++c) CPU_SET(c, &set);
  sched_setaffinity(0, sizeof set, &set);
}

}  // namespace rk::bench
