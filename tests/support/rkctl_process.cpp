#include "support/rkctl_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "support/child_program.h"

namespace rk::test {

namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point until) {
  return static_cast<int>(std::max<long long>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count()));
}

}  // namespace

RkctlProcess::RkctlProcess(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (spawn_program(&pid_, RKCTL, args, &fa) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  err_ = err[0];
  fcntl(err_, F_SETFL, O_NONBLOCK);
}

RkctlProcess::~RkctlProcess() {
  kill_hard();
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

void RkctlProcess::kill_hard() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool RkctlProcess::read_some(int ms) {
  pollfd p{out_, POLLIN, 0};
  if (poll(&p, 1, ms) != 1) return false;
  char buf[4096];
  const ssize_t n = read(out_, buf, sizeof buf);
  if (n <= 0) return false;
  partial_.append(buf, static_cast<size_t>(n));
  for (size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
    lines_.push_back(partial_.substr(0, nl));
    partial_.erase(0, nl + 1);
  }
  return true;
}

bool RkctlProcess::wait_for(const std::string& text, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  size_t looked = 0;
  for (;;) {
    for (; looked < lines_.size(); ++looked) {
      if (lines_[looked].find(text) != std::string::npos) return true;
    }
    if (!read_some(left_ms(until))) return false;
  }
}

int RkctlProcess::finish(int ms, int sig) {
  if (pid_ <= 0) return code_;
  if (sig != 0) kill(pid_, sig);
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (read_some(left_ms(until))) {
  }
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (Clock::now() >= until) {
      kill_hard();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  pid_ = -1;
  code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return code_;
}

std::string RkctlProcess::output() const {
  std::string all;
  for (const std::string& l : lines_) all += l + "\n";
  return all + partial_;
}

std::string RkctlProcess::errors() {
  char buf[4096];
  ssize_t n;
  while ((n = read(err_, buf, sizeof buf)) > 0) err_text_.append(buf, static_cast<size_t>(n));
  return err_text_;
}

std::vector<pid_t> RkctlProcess::started_pids() const {
  std::vector<pid_t> pids;
  for (const std::string& l : lines_) {
    const size_t at = l.find(", pid ");
    if (l.rfind("rkctl: started ", 0) == 0 && at != std::string::npos) pids.push_back(atoi(l.c_str() + at + 6));
  }
  return pids;
}

ToolResult run_rkctl(const std::vector<std::string>& args, int ms) {
  RkctlProcess p(args);
  ToolResult r;
  r.code = p.finish(ms);
  r.out = p.output();
  r.err = p.errors();
  return r;
}

bool gone(const std::vector<pid_t>& pids, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (pid_t pid : pids) {
    for (;;) {
      // A zombie holds nothing any more: its descriptors are closed.
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string text;
      std::getline(stat, text);
      const size_t paren = text.rfind(')');
      if (!stat || (paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'Z')) break;
      if (Clock::now() >= until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return true;
}

}  // namespace rk::test
