#include "support/rkctl_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <grp.h>
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

RkctlProcess::RkctlProcess(const std::vector<std::string>& args, const SpawnOptions& options) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
  // Everything the child needs is made before the fork: after it, only
  // calls that take no lock.
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& o : options.env) replaced = replaced || o.substr(0, o.find('=')) == name;
    if (!replaced) env_text.push_back(entry);
  }
  for (const std::string& o : options.env) env_text.push_back(o);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  // Through the emulator's launcher where the build runs through one.
  std::vector<char*> argv;
  if (*emulator() != '\0') argv.push_back(const_cast<char*>(emulator()));
  argv.push_back(const_cast<char*>(RKCTL));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(126);
    if (options.as_user && (setgroups(0, nullptr) != 0 || setgid(options.gid) != 0 || setuid(options.uid) != 0)) {
      _exit(126);
    }
    // As a shell starts it: the test ignores SIGPIPE, which would carry over.
    signal(SIGPIPE, SIG_DFL);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  err_ = err[0];
  fcntl(err_, F_SETFL, O_NONBLOCK);
}

void RkctlProcess::close_output() {
  if (out_ >= 0) close(out_);
  out_ = -1;
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
  if (out_ < 0) return false;
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

bool RkctlProcess::wait_for(const std::string& text, int ms, size_t from) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  size_t looked = from;
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
    // The run manager's lines begin with their time stamp.
    const size_t at = l.find(", pid ");
    if (l.find("rkctl: started ") != std::string::npos && at != std::string::npos) {
      pids.push_back(atoi(l.c_str() + at + 6));
    }
  }
  return pids;
}

ToolResult run_rkctl(const std::vector<std::string>& args, int ms, const SpawnOptions& options) {
  RkctlProcess p(args, options);
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
