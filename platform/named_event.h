// Named auto-reset events shared between processes. A set before anyone
// waits is kept for the next wait; one set releases at most one wait.
#pragma once

#include "platform/handles.h"

namespace rk::os {

// A new event, not signalled; 0 on failure (EEXIST: the name is live).
Handle event_create(const char* name, bool everyone);

// The live event of that name; 0 on failure (ENOENT: none exists).
Handle event_open(const char* name);

// Each returns 0, or a system error number (EBADF for a bad handle).
int event_set(Handle h);
int event_reset(Handle h);
int event_wait(Handle h);   // without time-out; consumes the signal

}  // namespace rk::os
