// The log of a client loop that a test kills at any moment: each line goes
// out in one write(2) to a file of the test's, so what the loop logged
// before it died is there for the test to read, and nothing it did not.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace rk::test {

class LoopLog {
 public:
  explicit LoopLog(const std::string& path)
      : fd_(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)) {}
  ~LoopLog() {
    if (fd_ >= 0) close(fd_);
  }
  LoopLog(const LoopLog&) = delete;
  LoopLog& operator=(const LoopLog&) = delete;

  bool open_ok() const { return fd_ >= 0; }
  void line(const std::string& text) const {
    const std::string l = text + "\n";
    if (write(fd_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) _exit(3);
  }

 private:
  int fd_;
};

// The monotonic clock in nanoseconds, one clock for every process: read
// under the database lock, it orders the holds of the lock.
inline uint64_t monotonic_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

}  // namespace rk::test
