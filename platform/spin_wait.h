// Spinning before a sleep. A wait that ends soon ends sooner without a
// system call when the waiter keeps looking, but only while what ends it
// runs on another CPU: on a CPU shared with that process a spin only
// delays it. So the process learns where its wakers run (note_waker_cpu,
// note_waker_shares_cpu) and, while they share its CPU, spins only one
// wait in 64, and briefly. The length of a spin is learnt per process and
// kind of wait: a spin that caught what it waited for keeps the full
// length, one that did not halves it down to a floor, and every eighth
// wait tries the full length again, so that a process that moved to a CPU
// of its own soon spins in full again.
#pragma once

#include <sched.h>
#include <time.h>

#include <atomic>

#include "platform/cpu_relax.h"

namespace rk::os {

// Whether the process that last woke this one ran on this one's CPU: then
// the processes it waits for most likely share its CPU, and a spin would
// only keep them from running. Learnt at every wake-up.
inline std::atomic<bool> g_waker_shares_cpu{false};

// A wake-up came from a process that ran on `cpu` (-1: not known).
inline void note_waker_cpu(int cpu) {
  if (cpu >= 0) g_waker_shares_cpu.store(cpu == sched_getcpu(), std::memory_order_relaxed);
}

// What was waited for came while this process spun (then its waker runs on
// another CPU) or only once it gave its CPU away (then most likely on this).
inline void note_waker_shares_cpu(bool shares) { g_waker_shares_cpu.store(shares, std::memory_order_relaxed); }

class SpinWait {
 public:
  // `full` pauses at most. The looks may grow apart: the first gap is
  // `first` pauses, and each doubles up to `gap`, for a look at a word that
  // its owner writes takes the cache line away from it.
  explicit constexpr SpinWait(int full, int first = 1, int gap = 1)
      : full_(full), first_(first), gap_(gap), budget_(full) {}

  // Looks at ready() with pauses between until it is true (then true) or
  // the spin is over (false).
  template <typename Ready>
  bool spin(Ready&& ready) {
    const unsigned n = waits_.fetch_add(1, std::memory_order_relaxed);
    int spins = (n & 7) == 0 ? full_ : budget_.load(std::memory_order_relaxed);
    if (g_waker_shares_cpu.load(std::memory_order_relaxed)) {
      if ((n & 63) != 0) return ready();
      spins = full_ / 8;
    }
    int gap = first_;
    for (int i = 0; i < spins; i += gap, gap = gap < gap_ ? 2 * gap : gap_) {
      if (ready()) {
        budget_.store(full_, std::memory_order_relaxed);
        // Caught while spinning: the waker runs on another CPU.
        if (i > 0) note_waker_shares_cpu(false);
        return true;
      }
      for (int k = 0; k < gap; ++k) cpu_relax();
    }
    const int b = budget_.load(std::memory_order_relaxed);
    budget_.store(b / 2 > kFloor ? b / 2 : kFloor, std::memory_order_relaxed);
    return ready();
  }

 private:
  static constexpr int kFloor = 8;
  const int full_;
  const int first_;
  const int gap_;
  std::atomic<int> budget_;
  std::atomic<unsigned> waits_{0};
};

// Whether the calling process may run on one CPU only: then whatever ran
// while it yielded ran on its CPU. Looked up again now and then, since the
// affinity can change; meant for paths that wait anyway.
inline bool bound_to_one_cpu() {
  static std::atomic<unsigned> looks{0};
  static std::atomic<bool> bound{false};
  if ((looks.fetch_add(1, std::memory_order_relaxed) & 255) == 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    bound.store(sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) == 1, std::memory_order_relaxed);
  }
  return bound.load(std::memory_order_relaxed);
}

// Lets another process that is ready to run on this CPU run first. True
// when one most likely did: the call took long enough for two switches.
// A look at the monotonic clock on each side costs tens of nanoseconds,
// against the microsecond of the call itself.
inline bool yield_cpu() {
  constexpr long kSwitchedNs = 2000;
  timespec before, after;
  clock_gettime(CLOCK_MONOTONIC, &before);
  sched_yield();
  clock_gettime(CLOCK_MONOTONIC, &after);
  return (after.tv_sec - before.tv_sec) * 1000000000L + (after.tv_nsec - before.tv_nsec) >= kSwitchedNs;
}

}  // namespace rk::os
