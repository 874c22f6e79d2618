#include "platform/process_info.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rk::os {

namespace {

// The kernel asks for its process id on hot paths (every kernel mutex take),
// so it is read once and read again only in a forked child.
std::atomic<uint32_t> g_pid{0};

void refresh_pid() { g_pid.store(static_cast<uint32_t>(getpid()), std::memory_order_relaxed); }

}  // namespace

uint32_t process_id() {
  uint32_t pid = g_pid.load(std::memory_order_relaxed);
  if (pid == 0) {
    static const int watched = pthread_atfork(nullptr, nullptr, refresh_pid);
    (void)watched;
    refresh_pid();
    pid = g_pid.load(std::memory_order_relaxed);
  }
  return pid;
}

uint32_t thread_id() {
  thread_local uint32_t t_tid = 0;
  thread_local uint32_t t_pid = 0;
  const uint32_t pid = process_id();
  if (t_pid != pid) {
    t_tid = static_cast<uint32_t>(syscall(SYS_gettid));
    t_pid = pid;
  }
  return t_tid;
}

namespace {

// The fields of /proc/<pid>/stat after the command name, which may hold
// blanks and parentheses of its own: the state is the first of them, the
// start time the twentieth. 1 when read, 0 when there is no such process,
// -1 when it cannot be told.
//
// The file is opened through the process's directory: a user-mode emulator
// running this process answers a path naming its own stat file with a file
// of its own making, which has no state and another start time than the
// one every other process reads for it.
int read_stat(uint32_t pid, char* state, uint64_t* start) {
  char path[32];
  snprintf(path, sizeof path, "/proc/%u", pid);
  const int dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return errno == ENOENT ? 0 : -1;
  const int fd = openat(dir, "stat", O_RDONLY | O_CLOEXEC);
  const int open_err = errno;
  close(dir);
  if (fd < 0) return open_err == ENOENT || open_err == ESRCH ? 0 : -1;
  char buf[512];
  const ssize_t n = read(fd, buf, sizeof buf - 1);
  const int err = errno;
  close(fd);
  // A process that ends while it is read leaves its file unreadable.
  if (n <= 0) return n == 0 || err == ESRCH ? 0 : -1;
  buf[n] = '\0';
  const char* p = strrchr(buf, ')');
  unsigned long long ticks = 0;
  if (p == nullptr ||
      sscanf(p + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu", state,
             &ticks) != 2) {
    return -1;
  }
  *start = ticks;
  return 1;
}

// Start times are never 0, which stands for "not known".
uint32_t start_word(uint64_t ticks) {
  const uint32_t low = static_cast<uint32_t>(ticks);
  return low != 0 ? low : 1u;
}

}  // namespace

uint32_t process_start_time(uint32_t pid) {
  char state = 0;
  uint64_t start = 0;
  if (pid == 0 || read_stat(pid, &state, &start) != 1 || state == 'Z' || state == 'X') return 0;
  return start_word(start);
}

uint32_t own_start_time() {
  static uint32_t pid = 0;
  static uint32_t start = 0;
  if (pid != process_id()) {
    pid = process_id();
    start = process_start_time(pid);
  }
  return start;
}

bool process_alive(uint32_t pid, uint32_t start) {
  if (pid == 0) return false;
  char state = 0;
  uint64_t ticks = 0;
  const int found = read_stat(pid, &state, &ticks);
  if (found <= 0) return found < 0;
  if (state == 'Z' || state == 'X') return false;
  return start == 0 || start == start_word(ticks);
}

bool thread_gone(uint32_t tid) {
  char state = 0;
  uint64_t ticks = 0;
  const int found = read_stat(tid, &state, &ticks);
  return found == 0 || (found > 0 && (state == 'Z' || state == 'X'));
}

void kill_self() {
  kill(getpid(), SIGKILL);
  _exit(137);
}

std::string command_line() {
  std::string text;
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fd);
  // Arguments are NUL-separated, the last one NUL-terminated.
  if (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }
  return text;
}

std::string executable_path() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

const char* env_var(const char* name) { return name == nullptr ? nullptr : getenv(name); }

}  // namespace rk::os
