// How long a waiter spins before it sleeps, learnt per process and per kind
// of wait. Spinning pays only while what ends the wait runs on another CPU:
// a spin that catches it keeps the full budget, one that does not halves
// it down to a floor, as when the process that would end the wait shares
// the waiter's only CPU and cannot run while the waiter spins.
#pragma once

#include <atomic>

namespace rk::os {

class SpinBudget {
 public:
  explicit constexpr SpinBudget(int full) : full_(full), budget_(full) {}

  int spins() const { return budget_.load(std::memory_order_relaxed); }

  // The spin ended the wait.
  void caught() {
    if (budget_.load(std::memory_order_relaxed) != full_) budget_.store(full_, std::memory_order_relaxed);
  }

  // The spin ran out and the waiter slept.
  void missed() {
    const int b = budget_.load(std::memory_order_relaxed);
    budget_.store(b / 2 > kFloor ? b / 2 : kFloor, std::memory_order_relaxed);
  }

 private:
  static constexpr int kFloor = 8;
  const int full_;
  std::atomic<int> budget_;
};

}  // namespace rk::os
