#include "platform/console.h"

#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace rk {

void console_write(const char* text) {
  if (text == nullptr) return;
  const int saved_errno = errno;  // a message must not disturb the caller's error

  // A client whose output is a closed pipe must lose the message, not die of
  // SIGPIPE: hold the signal back for this thread and swallow the one the
  // write raises, unless one was already pending before us.
  sigset_t pipe_only, old_mask, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigemptyset(&pending);
  const bool masked = pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask) == 0;
  if (masked) sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;

  bool broken_pipe = false;
  std::size_t left = std::strlen(text);
  int interrupted = 0;
  while (left > 0) {
    const ssize_t n = write(1, text, left);
    if (n > 0) {
      text += n;
      left -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR && ++interrupted < 100) {
      continue;
    } else {
      broken_pipe = n < 0 && errno == EPIPE;
      break;
    }
  }

  if (masked) {
    if (broken_pipe && !was_pending) {
      const timespec no_wait{0, 0};
      while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  }
  errno = saved_errno;
}

}  // namespace rk
