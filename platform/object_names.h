// Kernel object names on the host: every named object is a POSIX
// shared-memory object, and RKNAMESPACE is prefixed to every name so that
// independent installations (and tests) never see each other's objects.
#pragma once

#include <string>

namespace rk::os {

// Longest kernel object name accepted (without the namespace prefix).
constexpr size_t kMaxObjectName = 200;

// The RKNAMESPACE prefix, empty when it is not set.
std::string name_space();

// The shared-memory name ("/" + RKNAMESPACE + name) of a kernel object name,
// or an empty string when the result would not be a valid name.
std::string object_path(const char* name);

}  // namespace rk::os
