// Named mutexes shared between processes: recursive per thread, and robust:
// when the owner dies holding one, the next waiter gets it as if released,
// and learns that it was abandoned.
#pragma once

#include "platform/handles.h"

namespace rk::os {

// A new mutex, not owned; 0 on failure (EEXIST: the name exists).
Handle mutex_create(const char* name, bool everyone);

// The mutex of that name; 0 on failure (ENOENT: none exists, EACCES:
// another user's while `owner` is Self).
Handle mutex_open(const char* name, Owner owner = Owner::Self);

// Waits without time-out. 0 when acquired, also from a dead owner, which
// sets *abandoned when given; otherwise a system error number.
int mutex_wait(Handle h, bool* abandoned = nullptr);

// 0 when released; otherwise a system error number (EPERM: not the owner).
int mutex_release(Handle h);

// True when the calling thread owns the mutex whose state is at body.
bool mutex_owned_here(const void* body);

}  // namespace rk::os
