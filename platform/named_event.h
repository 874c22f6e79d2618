// Named auto-reset events shared between processes. A set before anyone
// waits is kept for the next wait; one set releases at most one wait.
#pragma once

#include "platform/handles.h"

namespace rk::os {

// A new event, not signalled; 0 on failure (EEXIST: the name exists).
Handle event_create(const char* name, bool everyone);

// The event of that name; 0 on failure (ENOENT: none exists, EACCES:
// another user's while `owner` is Self).
Handle event_open(const char* name, Owner owner = Owner::Self);

// Each returns 0, or a system error number (EBADF for a bad handle).
int event_set(Handle h);
int event_reset(Handle h);
int event_wait(Handle h);   // without time-out; consumes the signal

// As event_wait, but gives up after about `ms` milliseconds with ETIMEDOUT.
int event_wait_for(Handle h, uint32_t ms);

}  // namespace rk::os
