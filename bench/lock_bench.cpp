// Costs of the hot paths of locking and waking: a nested kernel-mutex take,
// a full take and give, the database lock beside a robust, process-shared,
// recursive mutex (its floor), and an event round trip between two
// processes.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/mman.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_rtdb.h"
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/named_object.h"
#include "rk.h"

namespace {

using namespace rk;

void setup() { bench::bench_rtdb(); }

void BM_KernelMutexNestedTake(benchmark::State& state) {
  setup();
  kmutex_take(kSelf);
  for (auto _ : state) {
    kmutex_take(kSelf);
    kmutex_give(kSelf);
  }
  kmutex_give(kSelf);
}
BENCHMARK(BM_KernelMutexNestedTake);

void BM_KernelMutexTakeGive(benchmark::State& state) {
  setup();
  for (auto _ : state) {
    kmutex_take(kSelf);
    kmutex_give(kSelf);
  }
}
BENCHMARK(BM_KernelMutexTakeGive);

void BM_DatabaseLockUnlock(benchmark::State& state) {
  setup();
  for (auto _ : state) {
    rk_lock(0);
    rk_unlock(0);
  }
}
BENCHMARK(BM_DatabaseLockUnlock);

void BM_DatabaseLockNested(benchmark::State& state) {
  setup();
  rk_lock(0);
  for (auto _ : state) {
    rk_lock(0);
    rk_unlock(0);
  }
  rk_unlock(0);
}
BENCHMARK(BM_DatabaseLockNested);

// The floor of the database lock: a robust, process-shared, recursive
// mutex in shared memory, as the kernel's own objects are.
pthread_mutex_t* floor_mutex() {
  static pthread_mutex_t* m = [] {
    void* p = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* mutex = static_cast<pthread_mutex_t*>(p);
    bench::init_robust_mutex(mutex, true);
    return mutex;
  }();
  return m;
}

void BM_RobustMutexLockUnlock(benchmark::State& state) {
  pthread_mutex_t* m = floor_mutex();
  for (auto _ : state) {
    pthread_mutex_lock(m);
    pthread_mutex_unlock(m);
  }
}
BENCHMARK(BM_RobustMutexLockUnlock);

// The kernel's own mutex, the same bytes on every target, beside the robust
// mutex it replaces: an uncontended take and give of each.
void BM_OwnMutexTakeGive(benchmark::State& state) {
  setup();
  const std::string name = "BENCH_MTX_" + std::to_string(getpid());
  const os::Handle h = os::mutex_create(name.c_str(), false);
  for (auto _ : state) {
    os::mutex_wait(h);
    os::mutex_release(h);
  }
  os::close_handle(h);
  os::object_remove(name.c_str());
}
BENCHMARK(BM_OwnMutexTakeGive);

void BM_RobustMutexNested(benchmark::State& state) {
  pthread_mutex_t* m = floor_mutex();
  pthread_mutex_lock(m);
  for (auto _ : state) {
    pthread_mutex_lock(m);
    pthread_mutex_unlock(m);
  }
  pthread_mutex_unlock(m);
}
BENCHMARK(BM_RobustMutexNested);

// A wake-up there and back: this process sets the other's event and sleeps
// on its own until the other, woken, sets it.
void BM_EventRoundTripBetweenProcesses(benchmark::State& state) {
  setup();
  os::Handle ping = os::event_create("bench_ping", false);
  os::Handle pong = os::event_create("bench_pong", false);
  pid_t child = fork();
  if (child == 0) {
    bench::pin(true);
    for (;;) {
      os::event_wait(ping);
      os::event_set(pong);
    }
  }
  for (auto _ : state) {
    os::event_set(ping);
    os::event_wait(pong);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  os::close_handle(ping);
  os::close_handle(pong);
  // Names stay until they are removed.
  os::object_remove("bench_ping");
  os::object_remove("bench_pong");
}
BENCHMARK(BM_EventRoundTripBetweenProcesses)->UseRealTime();

}  // namespace
