#include "tools/rkctl/interrupts.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace rkctl {

namespace {

std::mutex guard;
std::condition_variable woken;
std::function<void()> action_now;
std::atomic<bool> seen{false};

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void catch_interrupts() {
  sigset_t set = interrupt_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      std::lock_guard<std::mutex> hold(guard);
      seen = true;
      if (action_now) action_now();
      woken.notify_all();
    }
  }).detach();
}

void on_interrupt(std::function<void()> action) {
  std::lock_guard<std::mutex> hold(guard);
  action_now = std::move(action);
  if (seen && action_now) action_now();
}

bool interrupted() { return seen; }

bool sleep_unless_interrupted(int ms) {
  std::unique_lock<std::mutex> hold(guard);
  return !woken.wait_for(hold, std::chrono::milliseconds(ms), [] { return seen.load(); });
}

}  // namespace rkctl
