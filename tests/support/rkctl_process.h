// rkctl run as the operator runs it: a process of its own whose output the
// test reads line by line with a bound on every wait.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace rk::test {

// How it is started: with more environment, or as another user.
struct SpawnOptions {
  std::vector<std::string> env;   // NAME=VALUE, set or replaced
  uid_t uid = 0;                  // with as_user: setgid(gid), then setuid(uid)
  gid_t gid = 0;
  bool as_user = false;
};

class RkctlProcess {
 public:
  explicit RkctlProcess(const std::vector<std::string>& args, const SpawnOptions& options = {});
  ~RkctlProcess();   // SIGKILL if still running
  RkctlProcess(const RkctlProcess&) = delete;
  RkctlProcess& operator=(const RkctlProcess&) = delete;

  // Reads standard output until a line containing `text` (true), the end
  // of the output or the bound (false), looking at lines from number
  // `from` on. Every line read is kept.
  bool wait_for(const std::string& text, int ms, size_t from = 0);
  // Sends a signal; waits for the exit and returns its code (-1 killed or
  // not ended within the bound). The rest of the output is kept.
  int finish(int ms, int sig = 0);
  void kill_hard();
  // Closes our end of its standard output, as a reader that goes away does.
  void close_output();
  // Its standard output, to read it as it comes (a line at a time).
  int output_fd() const { return out_; }

  const std::vector<std::string>& lines() const { return lines_; }
  std::string output() const;
  std::string errors();
  // The pids of the clients it reported started.
  std::vector<pid_t> started_pids() const;
  pid_t pid() const { return pid_; }

 private:
  bool read_some(int ms);

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::string partial_, err_text_;
  std::vector<std::string> lines_;
  int code_ = -1;
};

// Runs rkctl to its end (bounded): exit code, standard output, standard error.
struct ToolResult {
  int code = -1;
  std::string out, err;
};
ToolResult run_rkctl(const std::vector<std::string>& args, int ms = 20000, const SpawnOptions& options = {});

// Waits (bounded) until none of the processes is alive any more.
bool gone(const std::vector<pid_t>& pids, int ms);

}  // namespace rk::test
