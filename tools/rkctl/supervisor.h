// The client programs of a running plant: started with the plant's
// environment, watched, restarted by their policy with a back-off, and
// stopped one after the other in the order of the plant file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/rkctl/plant.h"

namespace rkctl {

using Clock = std::chrono::steady_clock;

// The delay before restart number `n` (1 for the first) of a client whose
// runs keep failing: 200 ms doubled each time, at most 10 s. A run that
// lasted kSteadyRun resets the count.
std::chrono::milliseconds restart_delay(int n);
constexpr std::chrono::seconds kSteadyRun{10};

class Supervisor {
 public:
  // `env` is added to each client's environment; `program_dir` is searched
  // first for a command without a slash.
  Supervisor(const Plant& plant, std::vector<std::string> env, std::string program_dir);

  // Starts every client that has a command.
  void start_all();
  // Reaps ended clients, prints their end and plans restarts; then starts
  // those whose restart time has come. Returns the time of the next planned
  // restart, or Clock::time_point::max().
  Clock::time_point tend();
  // Asks each client to end, in file order: `ask` (which posts the
  // termination flag and returns false when the client could not be
  // reached, which then gets SIGTERM), waits up to the plant's stop time
  // for it, then kills what is left of its process group.
  void stop_all(const std::function<bool(const PlantInstance&, const PlantClient&)>& ask);

  // Whether any client process is still running.
  bool any_running() const;

 private:
  struct Child {
    const PlantInstance* instance = nullptr;
    const PlantClient* client = nullptr;
    pid_t pid = 0;
    int failures = 0;              // consecutive runs that ended too soon
    int restarts = 0;
    Clock::time_point started;
    Clock::time_point restart_at = Clock::time_point::max();
  };

  void start(Child& c);
  void ended(Child& c, int status);
  // Reaps every child that has ended, without blocking.
  void reap();
  std::string label(const Child& c) const;

  const Plant& plant_;
  std::vector<std::string> env_;
  std::string program_dir_;
  std::vector<Child> children_;
  bool stopping_ = false;
};

}  // namespace rkctl
