// Crash points: named places in the updates of shared data where a test
// build can make the process die, to show that whoever takes over finds
// every structure whole. The shipped library compiles them to nothing; a
// test build (RK_CRASH_POINTS) kills the process at the N-th pass of the
// point named by RK_CRASH_AT="name:N", and with RK_CRASH_TRACE=1 names
// every point on standard error as it passes.
#pragma once

#ifdef RK_CRASH_POINTS
namespace rk {
void crash_point(const char* name);
}  // namespace rk
#define RK_CRASH_POINT(name) ::rk::crash_point(name)
#else
#define RK_CRASH_POINT(name) ((void)0)
#endif
