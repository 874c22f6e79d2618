// Costs of reading and writing tags, each beside a raw loop that does the
// same work without the kernel (take a process-shared mutex, compare, copy,
// store the change word, give it back; a futex to wake), so that one run
// shows the ratio: a
// one-tag write and read, a batch of 1000 tags, and a write that wakes a
// client sleeping in another process and is answered the same way.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <signal.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_rtdb.h"
#include "core/attachment.h"
#include "core/client_events.h"
#include "core/client_ids.h"
#include "rk.h"

namespace {

using namespace rk;
using namespace rk::bench;

// What the raw loops work on: a mutex, change words and values in shared
// memory, as the kernel's are.
struct RawTags {
  pthread_mutex_t mutex;
  ChangeEntry changes[kAnalogTags];
  uint32_t values[kAnalogTags];
  volatile uint32_t stop;   // tells a benchmark's child process to end
  std::atomic<uint32_t> ping, pong;
};

RawTags* raw_tags() {
  static RawTags* raw = [] {
    void* p = mmap(nullptr, sizeof(RawTags), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* r = static_cast<RawTags*>(p);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&r->mutex, &attr);
    return r;
  }();
  return raw;
}

// The raw write of n tags: a change only where the value differs.
void raw_write(RawTags* r, const uint32_t* values, uint32_t n) {
  pthread_mutex_lock(&r->mutex);
  for (uint32_t i = 0; i < n; ++i) {
    if (std::memcmp(&r->values[i], &values[i], 4) == 0) continue;
    std::memcpy(&r->values[i], &values[i], 4);
    r->changes[i].change_word = kChangeBits;
  }
  pthread_mutex_unlock(&r->mutex);
}

void raw_read(RawTags* r, uint32_t* values, uint32_t n, uint32_t own_bit) {
  pthread_mutex_lock(&r->mutex);
  for (uint32_t i = 0; i < n; ++i) {
    std::memcpy(&values[i], &r->values[i], 4);
    r->changes[i].change_word &= ~own_bit;
  }
  pthread_mutex_unlock(&r->mutex);
}

void BM_WriteOneTag(benchmark::State& state) {
  bench_rtdb();
  const rk_tag_ref ref{kAnalog, 0};
  uint32_t v = 0;
  for (auto _ : state) {
    ++v;
    if (rk_write(0, &ref, 1, &v) != 0) state.SkipWithError("rk_write failed");
  }
}
BENCHMARK(BM_WriteOneTag);

void BM_WriteOneTagRaw(benchmark::State& state) {
  RawTags* r = raw_tags();
  uint32_t v = 0;
  for (auto _ : state) {
    ++v;
    raw_write(r, &v, 1);
  }
}
BENCHMARK(BM_WriteOneTagRaw);

void BM_ReadOneTag(benchmark::State& state) {
  bench_rtdb();
  const rk_tag_ref ref{kAnalog, 0};
  uint32_t v = 0;
  for (auto _ : state) {
    if (rk_read(0, &ref, 1, &v) != 0) state.SkipWithError("rk_read failed");
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ReadOneTag);

void BM_ReadOneTagRaw(benchmark::State& state) {
  RawTags* r = raw_tags();
  uint32_t v = 0;
  for (auto _ : state) {
    raw_read(r, &v, 1, 1);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ReadOneTagRaw);

// Every tag of the batch changes, one type throughout.
void BM_Write1000Tags(benchmark::State& state) {
  bench_rtdb();
  std::vector<rk_tag_ref> refs(kAnalogTags);
  std::vector<uint32_t> values(kAnalogTags);
  for (uint16_t i = 0; i < kAnalogTags; ++i) refs[i] = rk_tag_ref{kAnalog, i};
  uint32_t round = 0;
  for (auto _ : state) {
    ++round;
    for (uint32_t i = 0; i < kAnalogTags; ++i) values[i] = round + i;
    if (rk_write(0, refs.data(), kAnalogTags, values.data()) != 0) state.SkipWithError("rk_write failed");
  }
  state.SetItemsProcessed(state.iterations() * kAnalogTags);
}
BENCHMARK(BM_Write1000Tags);

void BM_Write1000TagsRaw(benchmark::State& state) {
  RawTags* r = raw_tags();
  std::vector<uint32_t> values(kAnalogTags);
  uint32_t round = 0;
  for (auto _ : state) {
    ++round;
    for (uint32_t i = 0; i < kAnalogTags; ++i) values[i] = round + i;
    raw_write(r, values.data(), kAnalogTags);
  }
  state.SetItemsProcessed(state.iterations() * kAnalogTags);
}
BENCHMARK(BM_Write1000TagsRaw);

[[noreturn]] void child_failed(const char* call, uint16_t id) {
  fprintf(stderr, "child: %s failed, error %d\n", call, rk_errno(id));
  _exit(1);
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
    // A process of its own: it attaches as any client process does, and
    // maps the tag arrays at its first lock.
    rk_unmap_kgd();
    int index = -1;
    if (rk_map_firstkgd(&index) != 0) child_failed("rk_map_firstkgd", 0);
    const uint16_t me = 0x0001;
    open_events(&make_client(me, static_cast<uint32_t>(getpid())));
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
  for (auto _ : state) {
    ++v;
    rk_write(0, &ping, 1, &v);
    if (rk_change_wait(0, &pong, 1, &position, &seen) != 0) state.SkipWithError("rk_change_wait failed");
  }
  shared->stop = 1;
  rk_write(0, &ping, 1, &++v);
  waitpid(child, nullptr, 0);
  CptEntry& gone = app_block(attachment().kgd, 0)->cpt[1];
  gone.stat = 0;
  app_block(attachment().kgd, 0)->registered &= ~gone.own_bit;
}
BENCHMARK(BM_WriteWakesWaiterInOtherProcess)->UseRealTime();

// An auto-reset event on a futex word of the raw tags' shared memory.
void raw_set(std::atomic<uint32_t>& word) {
  word.store(1);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

void raw_wait(std::atomic<uint32_t>& word) {
  uint32_t one = 1;
  while (!word.compare_exchange_strong(one, 0)) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, 0, nullptr, nullptr, 0);
    one = 1;
  }
}

// The same round trip with a mutex, the tag work and a futex each way.
void BM_WriteWakesWaiterInOtherProcessRaw(benchmark::State& state) {
  RawTags* r = raw_tags();
  r->stop = 0;
  pid_t child = fork();
  if (child == 0) {
    for (uint32_t v = 0;; ++v) {
      raw_wait(r->ping);
      if (r->stop != 0) _exit(0);
      raw_write(r, &v, 1);
      raw_set(r->pong);
    }
  }
  uint32_t v = 0;
  for (auto _ : state) {
    ++v;
    raw_write(r, &v, 1);
    raw_set(r->ping);
    raw_wait(r->pong);
  }
  r->stop = 1;
  raw_set(r->ping);
  waitpid(child, nullptr, 0);
}
BENCHMARK(BM_WriteWakesWaiterInOtherProcessRaw)->UseRealTime();

}  // namespace
