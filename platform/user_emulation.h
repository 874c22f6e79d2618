// Whether this process runs under a user-mode emulator: a 32-bit program on
// a kernel that cannot run one itself, or a program built for another
// machine (the aarch64 variant tested on x86_64). Two things the kernel
// relies on work differently there. The emulator keeps no list of a
// thread's robust mutexes, so nothing releases one whose owner died; and
// its locked instructions on a word that is not aligned are atomic among
// the threads of one process only, not between processes.
#pragma once

namespace rk::os {

// Read from the system once per process.
bool under_user_emulation();

}  // namespace rk::os
