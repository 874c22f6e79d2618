// Several processes writing disjoint tags at once: the total throughput of
// 2 to 6 processes, each writing its own 8-byte tag, beside the same
// processes taking one robust process-shared mutex around the same copies.
// An iteration is one round of kRoundWrites writes by every process; items
// are writes, all processes together.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "bench_rtdb.h"
#include "rk.h"

namespace {

using namespace rk;
using namespace rk::bench;

constexpr uint32_t kRoundWrites = 2000;

struct Rounds {
  pthread_mutex_t mutex;             // the raw side's one mutex
  uint64_t cells[8][8];              // a cache line of values per process
  std::atomic<uint32_t> round;       // the round the processes are to run
  std::atomic<uint32_t> done;        // rounds finished, every process together
  std::atomic<uint32_t> stop;
};

Rounds* rounds() {
  static Rounds* r = [] {
    auto* p = static_cast<Rounds*>(
        mmap(nullptr, sizeof(Rounds), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    init_robust_mutex(&p->mutex, false);
    return p;
  }();
  return r;
}

// Runs `write(k, v)` kRoundWrites times in each of n child processes per
// round, rounds as the benchmark's iterations.
template <typename Setup, typename Write>
void run_writers(benchmark::State& state, Setup setup, Write write) {
  Rounds* r = rounds();
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  r->round = 0;
  r->done = 0;
  r->stop = 0;
  std::vector<pid_t> children;
  for (uint32_t k = 0; k < n; ++k) {
    pid_t child = fork();
    if (child == 0) {
      unpin();
      setup(k);
      uint32_t seen = 0;
      uint64_t v = 0;
      for (;;) {
        while (r->round.load() == seen) {
          if (r->stop != 0) _exit(0);
          sched_yield();
        }
        ++seen;
        for (uint32_t i = 0; i < kRoundWrites; ++i) write(k, ++v);
        r->done.fetch_add(1);
      }
    }
    children.push_back(child);
  }
  uint32_t round = 0;
  for (auto _ : state) {
    r->round.store(++round);
    while (r->done.load() < round * n) sched_yield();
  }
  r->stop = 1;
  for (pid_t c : children) waitpid(c, nullptr, 0);
  state.SetItemsProcessed(state.iterations() * n * kRoundWrites);
}

void BM_ProcessesWriting(benchmark::State& state) {
  bench_rtdb();
  run_writers(
      state, [](uint32_t k) { attach_child(static_cast<uint16_t>(0x0008 + k)); },
      [](uint32_t k, uint64_t v) {
        // Tags 8 apart: each process's value and change entry on cache
        // lines of their own, as the floor's cells.
        const rk_tag_ref ref{kDouble, static_cast<uint16_t>(100 + 8 * k)};
        const double d = static_cast<double>(v);
        rk_write(static_cast<uint16_t>(0x0008 + k), &ref, 1, &d);
      });
  for (uint16_t k = 0; k < state.range(0); ++k) forget_client(static_cast<uint16_t>(0x0008 + k));
}
BENCHMARK(BM_ProcessesWriting)->DenseRange(2, 6)->UseRealTime();

void BM_ProcessesWritingRaw(benchmark::State& state) {
  run_writers(
      state, [](uint32_t) {},
      [](uint32_t k, uint64_t v) {
        Rounds* r = rounds();
        pthread_mutex_lock(&r->mutex);
        const double d = static_cast<double>(v);
        if (std::memcmp(&r->cells[k][0], &d, 8) != 0) std::memcpy(&r->cells[k][0], &d, 8);
        pthread_mutex_unlock(&r->mutex);
      });
}
BENCHMARK(BM_ProcessesWritingRaw)->DenseRange(2, 6)->UseRealTime();

}  // namespace
