// Identity and environment of the calling process.
#pragma once

#include <cstdint>
#include <string>

namespace rk::os {

// Cheap: read from the system once per process (again after a fork).
uint32_t process_id();

// The calling thread's id, as the system numbers threads. Cheap: read from
// the system once per thread (again after a fork).
uint32_t thread_id();

// When the process started, in clock ticks since the machine booted, cut to
// 32 bits: with the process id it tells a process from a later one that was
// given the same id. 0 when there is no such process or it has ended (a
// zombie has ended).
uint32_t process_start_time(uint32_t pid);

// This process's start time, as process_start_time gives it; cheap, read
// once per process (again after a fork).
uint32_t own_start_time();

// Whether the process of that id runs and, when `start` is nonzero, is the
// one that started then. A process that cannot be looked at counts as
// running.
bool process_alive(uint32_t pid, uint32_t start);

// Whether no thread of that id runs any more: there is none, or it has
// ended. False when it cannot be told.
bool thread_gone(uint32_t tid);

// Ends this process at once with SIGKILL, as a kill from outside would.
[[noreturn]] void kill_self();

// The command line: the arguments joined by blanks.
std::string command_line();

// Full path of the running executable; empty when unknown.
std::string executable_path();

// The value of an environment variable, or null when it is not set.
const char* env_var(const char* name);

}  // namespace rk::os
