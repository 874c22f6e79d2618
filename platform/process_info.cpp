#include "platform/process_info.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

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
