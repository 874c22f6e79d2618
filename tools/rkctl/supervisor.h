// The client programs of a running plant: started with the plant's
// environment, each in a process group of its own, watched, restarted by
// their policy with a back-off, stopped, started and restarted on request,
// and stopped one after the other in the order of the plant file.
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

enum class Request { stop, start, restart };

class Supervisor {
 public:
  // Posts the termination flag of a client; false when it could not be
  // reached (it has not registered), which then gets SIGTERM.
  using Ask = std::function<bool(const PlantInstance&, const PlantClient&)>;
  // Waits up to `ms` for something to happen; true when a second
  // interrupt came, which ends the orderly stop.
  using Wait = std::function<bool(int ms)>;
  // Called once a request is carried out.
  using Done = std::function<void()>;

  // `env` is added to each client's environment; `program_dir` is searched
  // first for a program.
  Supervisor(const Plant& plant, std::vector<std::string> env, std::string program_dir, Ask ask);

  // Starts every client that has a command.
  void start_all();
  // Reaps ended clients, prints their end and plans restarts; starts those
  // whose restart time has come and kills those that did not end in time
  // when asked to. Returns the next time something is due, or
  // Clock::time_point::max().
  Clock::time_point tend();

  // An operator's request for the client `task` of an instance. A stopped
  // client stays down, whatever its policy, until it is started again.
  // `done` runs once the client has ended (stop), has been started (start)
  // or both (restart); at once when there is nothing to do. Returns "" when
  // the request was taken, else why not.
  std::string request(Request what, const std::string& domain, const std::string& instance,
                      const std::string& task, Done done);

  // Asks each client to end, in file order, waits up to the plant's stop
  // time for it, then kills what is left of its process group. A second
  // interrupt, seen by `wait`, kills every client left at once.
  void stop_all(const Wait& wait);

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
    Clock::time_point kill_at = Clock::time_point::max();   // asked to end: killed then
    bool held = false;             // stopped on request: no restarts until started again
    bool start_again = false;      // a restart waits for the end
    std::vector<Done> waiting;     // requests carried out once it has ended
  };

  void start(Child& c);
  void ended(Child& c, int status);
  // Posts the termination flag (or SIGTERM to the group) and sets the time
  // by which it must have ended.
  void ask_to_end(Child& c);
  void kill_group(Child& c);
  // Reaps every child that has ended, without blocking.
  void reap();
  std::string label(const Child& c) const;

  const Plant& plant_;
  std::vector<std::string> env_;
  std::string program_dir_;
  Ask ask_;
  std::vector<Child> children_;
  bool stopping_ = false;
};

}  // namespace rkctl
