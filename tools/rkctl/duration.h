// Durations on the command line and in plant files: "10s", "500ms", "2m",
// "1.5s", or a plain number of seconds.
#pragma once

#include <string>

namespace rkctl {

// Seconds, or -1 when the text is no duration.
double parse_duration(const std::string& text);

}  // namespace rkctl
