#include "tools/rkctl/run_log.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/rkctl/failure.h"
#include "tools/rkctl/json_out.h"

namespace rkctl {

namespace {

int log_fd = -1;

// The whole text, or as much as the descriptor takes; errors are dropped.
void put(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void put_both(const std::string& text) {
  put(1, text);
  if (log_fd >= 0) put(log_fd, text);
}

}  // namespace

void log_to_file(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) throw Failure("rkctl run: --log " + path + ": " + strerror(errno));
  log_fd = fd;
}

std::string time_stamp() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm t;
  localtime_r(&tv.tv_sec, &t);
  char b[96];
  snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
           t.tm_min, t.tm_sec, static_cast<long>(tv.tv_usec / 1000));
  return b;
}

void say(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  put_both(time_stamp() + " rkctl: " + text + "\n");
}

void say_verbatim(const std::string& text) { put_both(text); }

}  // namespace rkctl

namespace rkctl {

std::string iso_time() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm t;
  localtime_r(&tv.tv_sec, &t);
  char zone[8] = "+0000";
  strftime(zone, sizeof zone, "%z", &t);
  char b[96];
  snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.%03ld%.3s:%.2s", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
           t.tm_hour, t.tm_min, t.tm_sec, static_cast<long>(tv.tv_usec / 1000), zone, zone + 3);
  return b;
}

}  // namespace rkctl
