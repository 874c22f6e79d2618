// Spinning before a sleep. A wait that ends soon ends sooner without a
// system call when the waiter keeps looking, but only while what ends it
// runs on another CPU: on a CPU shared with that process a spin only
// delays it. So the length of a spin is learnt per process and kind of
// wait: a spin that caught what it waited for keeps the full length, one
// that did not halves it down to a floor, and every eighth wait tries the
// full length again, so that a process that moved to a CPU of its own soon
// spins in full again.
#pragma once

#include <atomic>

namespace rk::os {

class SpinWait {
 public:
  explicit constexpr SpinWait(int full) : full_(full), budget_(full) {}

  // Looks at ready() with a pause between until it is true (then true) or
  // the spin is over (false).
  template <typename Ready>
  bool spin(Ready&& ready) {
    const unsigned n = waits_.fetch_add(1, std::memory_order_relaxed);
    const int spins = (n & 7) == 0 ? full_ : budget_.load(std::memory_order_relaxed);
    for (int i = 0; i < spins; ++i) {
      if (ready()) {
        budget_.store(full_, std::memory_order_relaxed);
        return true;
      }
      __builtin_ia32_pause();
    }
    const int b = budget_.load(std::memory_order_relaxed);
    budget_.store(b / 2 > kFloor ? b / 2 : kFloor, std::memory_order_relaxed);
    return ready();
  }

 private:
  static constexpr int kFloor = 8;
  const int full_;
  std::atomic<int> budget_;
  std::atomic<unsigned> waits_{0};
};

}  // namespace rk::os
