// Before a plant starts, every command it gives is checked against the
// machine: the program a command runs must be found on the plant's program
// directory or PATH and be executable, so that a typing mistake is one
// line of the plant file's errors, not a client restarted for ever.
#pragma once

#include <string>
#include <vector>

#include "tools/rkctl/plant.h"

namespace rkctl {

// The directory searched first for programs: the plant's program_dir,
// relative to the plant file; without one, the directory of rkctl itself.
std::string program_dir_of(const Plant& p);

// The first word a shell line runs as a program, or "" when the line
// starts with a builtin or a reserved word, or with something only the
// shell can read (a quote, an expansion).
std::string first_program(const std::string& line);

// Where `program` is found: as given when it holds a slash, else the first
// executable file of that name on `dir` and then PATH. "" when nowhere;
// `why` then says what was found wrong.
std::string find_program(const std::string& program, const std::string& dir, std::string* why);

// Appends one "file:line: key: what" text per command that cannot run.
void check_commands(const Plant& p, const std::string& program_dir, std::vector<std::string>& errors);

}  // namespace rkctl
