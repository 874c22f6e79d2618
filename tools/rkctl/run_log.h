// The run manager's own lines: each begins with the local time to the
// millisecond ("2025-03-07 14:02:11.042 rkctl: ..."), goes to standard
// output in one write, and to the --log file as well when there is one.
// A write that fails (the reader of a pipe went away) is dropped: the run
// manager goes on and stops the plant in order all the same.
#pragma once

#include <string>

namespace rkctl {

// Appends every later line to `path` too; throws Failure when it cannot be
// opened.
void log_to_file(const std::string& path);

// One line, stamped; printf-style.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Text that is not ours (a dump), passed on as it is.
void say_verbatim(const std::string& text);

// The stamp of this moment.
std::string time_stamp();

}  // namespace rkctl
