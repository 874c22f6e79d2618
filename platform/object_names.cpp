#include "platform/object_names.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace rk::os {

namespace {

constexpr const char* kShmDir = "/dev/shm";

// One directory descriptor per process, reopened after a fork: a flock is
// tied to its open file description, and a child sharing the parent's would
// share the parent's lock instead of excluding it.
int g_dir_fd = -1;
pid_t g_dir_pid = 0;
std::recursive_mutex g_local;   // threads of this process
int g_depth = 0;

int dir_fd() {
  pid_t pid = getpid();
  if (g_dir_fd < 0 || g_dir_pid != pid) {
    if (g_dir_fd >= 0 && g_dir_pid != pid) close(g_dir_fd);
    g_dir_fd = open(kShmDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    g_dir_pid = pid;
  }
  return g_dir_fd;
}

}  // namespace

std::string name_space() {
  const char* ns = getenv("RKNAMESPACE");
  return ns != nullptr ? ns : "";
}

std::string object_path(const char* name) {
  if (name == nullptr) return {};
  std::string path = "/" + name_space();
  size_t len = strnlen(name, kMaxObjectName + 1);
  if (len == 0 || len > kMaxObjectName) return {};
  path.append(name, len);
  if (path.size() > 250 || path.find('/', 1) != std::string::npos) return {};
  return path;
}

NameLock::NameLock() {
  g_local.lock();
  if (g_depth++ == 0) {
    int fd = dir_fd();
    if (fd >= 0) {
      while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
}

NameLock::~NameLock() {
  if (--g_depth == 0 && g_dir_fd >= 0) flock(g_dir_fd, LOCK_UN);
  g_local.unlock();
}

}  // namespace rk::os
