#include "platform/process_info.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>

namespace rk::os {

uint32_t process_id() { return static_cast<uint32_t>(getpid()); }

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
