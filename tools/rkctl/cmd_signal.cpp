// rkctl signal: post a signal to a client by its task name.
#include <strings.h>

#include <cerrno>
#include <cstdlib>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/mailbox_view.h"

namespace rkctl {

namespace {

// A number 0..31, or a word for the signals the kernel itself posts.
int signal_number(const std::string& s) {
  if (strcasecmp(s.c_str(), "term") == 0) return 1;
  if (strcasecmp(s.c_str(), "list") == 0) return 2;
  if (strcasecmp(s.c_str(), "owner") == 0) return 3;
  // long long: 64 bits on every target, so a text means the same everywhere.
  char* end = nullptr;
  errno = 0;
  const long long n = strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno != 0 || n < 0 || n > 31) {
    throw Failure("rkctl signal: " + s + ": a signal is 0..31, term, list or owner");
  }
  return static_cast<int>(n);
}

}  // namespace

int post_signal(const Target& target, const std::string& name, const std::string& signal) {
  const int sig = signal_number(signal);
  Session s(target);
  if (rk_send_sig_ex(s.id(), s.where().domain.c_str(), s.where().instance.c_str(), name.c_str(), sig) != 0) {
    throw Failure("rkctl signal: " + name + ": " + error_text(rk_errno(s.id())));
  }
  return 0;
}

}  // namespace rkctl
