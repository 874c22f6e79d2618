// Identity and environment of the calling process.
#pragma once

#include <cstdint>
#include <string>

namespace rk::os {

// Cheap: read from the system once per process (again after a fork).
uint32_t process_id();

// The command line: the arguments joined by blanks.
std::string command_line();

// Full path of the running executable; empty when unknown.
std::string executable_path();

// The value of an environment variable, or null when it is not set.
const char* env_var(const char* name);

}  // namespace rk::os
