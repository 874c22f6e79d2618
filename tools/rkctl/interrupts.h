// Ctrl-C and SIGTERM for the monitoring commands: a thread of their own
// receives them, so that the command can end its waits and leave its slot
// in order instead of dying in the middle of a kernel call.
#pragma once

#include <functional>

namespace rkctl {

// Blocks the signals in this thread (before any other thread exists) and
// starts the thread that receives them.
void catch_interrupts();
// Run (on the signal thread) at the next interrupt; null for none.
void on_interrupt(std::function<void()> action);
bool interrupted();
// Sleeps up to ms; false when an interrupt came first.
bool sleep_unless_interrupted(int ms);

}  // namespace rkctl
