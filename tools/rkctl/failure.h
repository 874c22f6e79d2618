// The one way a command fails: a line for standard error and an exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace rkctl {

struct Failure : std::runtime_error {
  explicit Failure(const std::string& what, int code = 1) : std::runtime_error(what), exit_code(code) {}
  int exit_code;
};

}  // namespace rkctl
