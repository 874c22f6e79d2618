// Programs the tests start: the build's own (the test client, rkctl) and
// those of plant files. Where the build runs through a user-mode emulator,
// they start through its launcher (RK_TEST_EMULATOR, set by the build); the
// shells of plant files find the same in the environment variable of that
// name, empty where programs run as they are.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace rk::test {

// The launcher, or "" where programs run as they are.
const char* emulator();

// Puts the launcher into RK_TEST_EMULATOR for the programs started from now on.
void export_emulator();

// posix_spawn of `program` with `args` and this process's environment,
// through the launcher where there is one; its result.
int spawn_program(pid_t* pid, const char* program, const std::vector<std::string>& args,
                  const posix_spawn_file_actions_t* actions);

}  // namespace rk::test
