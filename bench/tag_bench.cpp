// Costs of reading and writing tags, each beside a raw loop that does the
// same work without the kernel (take a robust process-shared mutex, find
// the tag, compare, copy, store the change word, give the mutex back; a
// futex to wake), so that one run shows the ratio: a one-tag write and
// read of an 8-byte tag, batches of up to 1000 tags, and a write that
// wakes a client sleeping in another process and is answered the same way.
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_rtdb.h"
#include "core/attachment.h"
#include "core/client_ids.h"
#include "platform/cpu_relax.h"
#include "rk.h"

namespace {

using namespace rk;
using namespace rk::bench;

// What the raw loops work on: a mutex, change words and value cells (an
// attribute word, then the value) in shared memory, as the kernel's are.
struct RawCell {
  uint32_t attr;
  uint8_t value[8];
};

struct RawTags {
  pthread_mutex_t mutex;
  ChangeEntry changes[kAnalogTags];
  RawCell cells[kAnalogTags];
  uint32_t pending_wake;     // the waiters a write collected, as an application's
  volatile uint32_t stop;   // tells a benchmark's child process to end
  std::atomic<uint32_t> ping, pong;
};

// A raw loop's data in shared memory, with its mutex made, once per type.
template <typename Raw>
Raw* shared_raw() {
  static Raw* raw = [] {
    void* p = mmap(nullptr, sizeof(Raw), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* r = static_cast<Raw*>(p);
    init_robust_mutex(&r->mutex, false);
    return r;
  }();
  return raw;
}

RawTags* raw_tags() { return shared_raw<RawTags>(); }

// The raw write of n 8-byte tags named by references: a change only where
// the value differs, its change word stored and its waiters collected.
void raw_write(RawTags* r, const rk_tag_ref* refs, const uint64_t* values, uint32_t n) {
  pthread_mutex_lock(&r->mutex);
  uint32_t waiters = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint16_t index = refs[i].index;
    if (index >= kAnalogTags) continue;
    RawCell& cell = r->cells[index];
    if (std::memcmp(cell.value, &values[i], 8) == 0) continue;
    std::memcpy(cell.value, &values[i], 8);
    r->changes[index].change_word = kChangeBits;
    waiters |= r->changes[index].wait_word;
  }
  if (waiters != 0) r->pending_wake |= waiters;
  pthread_mutex_unlock(&r->mutex);
}

void raw_read(RawTags* r, const rk_tag_ref* refs, uint64_t* values, uint32_t n, uint32_t own_bit) {
  pthread_mutex_lock(&r->mutex);
  for (uint32_t i = 0; i < n; ++i) {
    const uint16_t index = refs[i].index;
    if (index >= kAnalogTags) continue;
    std::memcpy(&values[i], r->cells[index].value, 8);
    r->changes[index].change_word &= ~own_bit;
  }
  pthread_mutex_unlock(&r->mutex);
}

// Finite doubles that differ from round to round.
uint64_t value_bits(uint32_t round, uint32_t i) {
  const double d = static_cast<double>(round) * 1000.0 + i;
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

std::vector<rk_tag_ref> refs_of(uint16_t type, uint32_t n) {
  std::vector<rk_tag_ref> refs(n);
  for (uint32_t i = 0; i < n; ++i) refs[i] = rk_tag_ref{type, static_cast<uint16_t>(i)};
  return refs;
}

void BM_WriteOneTag(benchmark::State& state) {
  bench_rtdb();
  const rk_tag_ref ref{kDouble, 0};
  uint32_t round = 0;
  for (auto _ : state) {
    const uint64_t v = value_bits(++round, 0);
    if (rk_write(0, &ref, 1, &v) != 0) state.SkipWithError("rk_write failed");
  }
}
BENCHMARK(BM_WriteOneTag);

void BM_WriteOneTagRaw(benchmark::State& state) {
  RawTags* r = raw_tags();
  const rk_tag_ref ref{kDouble, 0};
  uint32_t round = 0;
  for (auto _ : state) {
    const uint64_t v = value_bits(++round, 0);
    raw_write(r, &ref, &v, 1);
  }
}
BENCHMARK(BM_WriteOneTagRaw);

// Values wider than one store, whose old bytes are kept before they change:
// a 64-byte value and a 16-byte text, each beside a raw loop that takes the
// mutex, compares, copies and stores the change word.
void BM_WriteOneWideTag(benchmark::State& state) {
  bench_rtdb();
  const rk_tag_ref ref{kWide, 0};
  uint8_t values[2][kWideBytes];
  memset(values[0], 1, kWideBytes);
  memset(values[1], 2, kWideBytes);
  uint32_t round = 0;
  for (auto _ : state) {
    if (rk_write(0, &ref, 1, values[++round & 1]) != 0) state.SkipWithError("rk_write failed");
  }
}
BENCHMARK(BM_WriteOneWideTag);

struct RawWide {
  pthread_mutex_t mutex;
  ChangeEntry change;
  uint32_t attr;
  uint8_t value[kWideBytes];
  uint16_t length;
};

RawWide* raw_wide() { return shared_raw<RawWide>(); }

void raw_write_bytes(RawWide* r, const uint8_t* bytes, uint16_t n) {
  pthread_mutex_lock(&r->mutex);
  if (r->length != n || std::memcmp(r->value, bytes, n) != 0) {
    std::memcpy(r->value, bytes, n);
    r->length = n;
    r->change.change_word = kChangeBits;
  }
  pthread_mutex_unlock(&r->mutex);
}

void BM_WriteOneWideTagRaw(benchmark::State& state) {
  RawWide* r = raw_wide();
  uint8_t values[2][kWideBytes];
  memset(values[0], 1, kWideBytes);
  memset(values[1], 2, kWideBytes);
  uint32_t round = 0;
  for (auto _ : state) raw_write_bytes(r, values[++round & 1], kWideBytes);
}
BENCHMARK(BM_WriteOneWideTagRaw);

void BM_WriteOneString(benchmark::State& state) {
  bench_rtdb();
  const rk_tag_ref ref{kText, 0};
  char texts[2][17] = {"text number one.", "text number two."};
  uint32_t round = 0;
  for (auto _ : state) {
    rk_string_desc d{texts[++round & 1], 16, 16};
    if (rk_write(0, &ref, 1, &d) != 0) state.SkipWithError("rk_write failed");
  }
}
BENCHMARK(BM_WriteOneString);

void BM_WriteOneStringRaw(benchmark::State& state) {
  RawWide* r = raw_wide();
  const char texts[2][17] = {"text number one.", "text number two."};
  uint32_t round = 0;
  for (auto _ : state) raw_write_bytes(r, reinterpret_cast<const uint8_t*>(texts[++round & 1]), 16);
}
BENCHMARK(BM_WriteOneStringRaw);

void BM_ReadOneTag(benchmark::State& state) {
  bench_rtdb();
  const rk_tag_ref ref{kDouble, 0};
  uint64_t v = 0;
  for (auto _ : state) {
    if (rk_read(0, &ref, 1, &v) != 0) state.SkipWithError("rk_read failed");
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ReadOneTag);

void BM_ReadOneTagRaw(benchmark::State& state) {
  RawTags* r = raw_tags();
  const rk_tag_ref ref{kDouble, 0};
  uint64_t v = 0;
  for (auto _ : state) {
    raw_read(r, &ref, &v, 1, 1);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ReadOneTagRaw);

// A batch of state.range(0) tags of one type, every tag changed by every
// write: write(refs, values, n) runs once an iteration, the values made
// anew outside the timing. Items are tags.
template <typename Write>
void run_batch(benchmark::State& state, Write write) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  const std::vector<rk_tag_ref> refs = refs_of(kDouble, n);
  std::vector<uint64_t> values(n);
  uint32_t round = 0;
  for (auto _ : state) {
    ++round;
    state.PauseTiming();
    for (uint32_t i = 0; i < n; ++i) values[i] = value_bits(round, i);
    state.ResumeTiming();
    if (!write(refs.data(), values.data(), n)) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// Pausing the timer costs more than a small batch: here the batch
// alternates between two sets of values made beforehand, every write still
// a change of every tag.
template <typename Write>
void run_batch_steady(benchmark::State& state, Write write) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  const std::vector<rk_tag_ref> refs = refs_of(kDouble, n);
  std::vector<uint64_t> a(n), b(n);
  for (uint32_t i = 0; i < n; ++i) {
    a[i] = value_bits(1, i);
    b[i] = value_bits(2, i);
  }
  bool flip = false;
  for (auto _ : state) {
    flip = !flip;
    if (!write(refs.data(), (flip ? a : b).data(), n)) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations() * n);
}

bool kernel_write(const rk_tag_ref* refs, const uint64_t* values, uint32_t n) {
  return rk_write(0, refs, n, values) == 0;
}

bool floor_write(const rk_tag_ref* refs, const uint64_t* values, uint32_t n) {
  raw_write(raw_tags(), refs, values, n);
  return true;
}

void BM_WriteBatch(benchmark::State& state) {
  bench_rtdb();
  run_batch(state, kernel_write);
  state.counters["tags_defined"] = tags_defined();
}

void BM_WriteBatchRaw(benchmark::State& state) { run_batch(state, floor_write); }

void BM_WriteBatchSteady(benchmark::State& state) {
  bench_rtdb();
  run_batch_steady(state, kernel_write);
  state.counters["tags_defined"] = tags_defined();
}

void BM_WriteBatchSteadyRaw(benchmark::State& state) { run_batch_steady(state, floor_write); }

BENCHMARK(BM_WriteBatchSteady)->Arg(1)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_WriteBatchSteadyRaw)->Arg(1)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_WriteBatch)->Arg(1000);
BENCHMARK(BM_WriteBatchRaw)->Arg(1000);

[[noreturn]] void child_failed(const char* call, uint16_t id) {
  fprintf(stderr, "child: %s failed, error %d\n", call, rk_errno(id));
  _exit(1);
}

uint64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// The round trips of the last run, in nanoseconds, to RK_BENCH_LATENCY_DIR.
void keep_latencies(const char* name, const std::vector<uint32_t>& ns) {
  const char* dir = getenv("RK_BENCH_LATENCY_DIR");
  if (dir == nullptr || ns.empty()) return;
  const char* cpus = getenv("RK_BENCH_CPUS");
  std::string path = std::string(dir) + "/" + name + (cpus != nullptr && strchr(cpus, ',') ? "_2cpu" : "_1cpu") + ".txt";
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) return;
  for (uint32_t v : ns) fprintf(f, "%u\n", v);
  fclose(f);
}

// A write there and back: this process changes tag 1, on which client 0:1
// in a child process sleeps in rk_change_wait; woken, the child changes
// tag 2, on which this process sleeps the same way.
void BM_WriteWakesWaiterInOtherProcess(benchmark::State& state) {
  bench_rtdb();
  RawTags* shared = raw_tags();
  shared->stop = 0;
  const rk_tag_ref ping{kAnalog, 1}, pong{kAnalog, 2};
  pid_t child = fork();
  if (child == 0) {
    pin(true);
    const uint16_t me = 0x0001;
    attach_child(me);
    // Only the changes made from here on count, and every write is one.
    if (rk_clear_chng(me, &ping, 1) != 0) child_failed("rk_clear_chng", me);
    uint32_t position = 0, seen = 0, v = 0;
    rk_read(me, &pong, 1, &v);
    for (;;) {
      if (rk_change_wait(me, &ping, 1, &position, &seen) != 0) child_failed("rk_change_wait", me);
      if (shared->stop != 0) _exit(0);
      ++v;   // every write a change, in every run
      rk_write(me, &pong, 1, &v);
    }
  }
  // Until the child sleeps in its wait.
  while (app_block(attachment().kgd, 0)->cpt[1].wait_state != 2) sched_yield();
  rk_clear_chng(0, &pong, 1);
  uint32_t position = 0, seen = 0, v = 0;
  rk_read(0, &ping, 1, &v);
  std::vector<uint32_t> latencies;
  latencies.reserve(1 << 20);
  for (auto _ : state) {
    const uint64_t start = now_ns();
    ++v;
    rk_write(0, &ping, 1, &v);
    if (rk_change_wait(0, &pong, 1, &position, &seen) != 0) state.SkipWithError("rk_change_wait failed");
    if (latencies.size() < latencies.capacity()) latencies.push_back(static_cast<uint32_t>(now_ns() - start));
  }
  shared->stop = 1;
  rk_write(0, &ping, 1, &++v);
  waitpid(child, nullptr, 0);
  forget_client(1);
  keep_latencies("rk_write_wake", latencies);
}
BENCHMARK(BM_WriteWakesWaiterInOtherProcess)->UseRealTime();

// Whether the two sides of a round trip run on CPUs of their own: only
// then does a waiter spin before it sleeps.
bool several_cpus() {
  const char* cpus = getenv("RK_BENCH_CPUS");
  if (cpus != nullptr && *cpus != 0) return strchr(cpus, ',') != nullptr;
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
}

// An auto-reset event on a futex word of the raw tags' shared memory.
void raw_set(std::atomic<uint32_t>& word) {
  word.store(1);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

void raw_wait(std::atomic<uint32_t>& word, int spins) {
  for (int i = 0; i < spins; ++i) {
    uint32_t one = 1;
    if (word.load(std::memory_order_relaxed) == 1 && word.compare_exchange_strong(one, 0)) return;
    rk::os::cpu_relax();
  }
  uint32_t one = 1;
  while (!word.compare_exchange_strong(one, 0)) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, 0, nullptr, nullptr, 0);
    one = 1;
  }
}

// The floor of the round trip: a futex ping-pong between two processes,
// the waiter spinning first when it has a CPU of its own to spin on.
void BM_FutexPingPong(benchmark::State& state) {
  RawTags* r = raw_tags();
  r->stop = 0;
  r->ping = 0;
  r->pong = 0;
  const int spins = several_cpus() ? 4000 : 0;
  pid_t child = fork();
  if (child == 0) {
    pin(true);
    for (;;) {
      raw_wait(r->ping, spins);
      if (r->stop != 0) _exit(0);
      raw_set(r->pong);
    }
  }
  std::vector<uint32_t> latencies;
  latencies.reserve(1 << 20);
  for (auto _ : state) {
    const uint64_t start = now_ns();
    raw_set(r->ping);
    raw_wait(r->pong, spins);
    if (latencies.size() < latencies.capacity()) latencies.push_back(static_cast<uint32_t>(now_ns() - start));
  }
  r->stop = 1;
  raw_set(r->ping);
  waitpid(child, nullptr, 0);
  keep_latencies("futex_pingpong", latencies);
}
BENCHMARK(BM_FutexPingPong)->UseRealTime();

}  // namespace
