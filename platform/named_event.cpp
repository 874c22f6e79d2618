#include "platform/named_event.h"

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "platform/last_error.h"
#include "platform/spin_wait.h"

namespace rk::os {

namespace {

// The futex word is 1 while the event is signalled. Waiters announce
// themselves, so that a set with nobody asleep costs no system call.
SpinWait g_spin(2000);   // some tens of microseconds at most

// Three 32-bit words: the same bytes on every target, so that processes of
// every variant share one event.
struct EventState {
  uint32_t signalled;
  uint32_t sleepers;
  int32_t setter_cpu;   // where the last set ran, for the waiter's spin
};
static_assert(sizeof(EventState) == 12 && offsetof(EventState, sleepers) == 4 &&
                  offsetof(EventState, setter_cpu) == 8,
              "EventState layout");

EventState* state_of(Handle h) {
  NamedObject* obj = handle_get(h, Kind::Event);
  return obj == nullptr ? nullptr : static_cast<EventState*>(obj->body);
}

bool take(EventState* e) {
  uint32_t one = 1;
  if (!__atomic_compare_exchange_n(&e->signalled, &one, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) return false;
  note_waker_cpu(__atomic_load_n(&e->setter_cpu, __ATOMIC_RELAXED));
  return true;
}

long futex(uint32_t* word, int op, uint32_t val, const timespec* timeout = nullptr) {
  return syscall(SYS_futex, word, op, val, timeout, nullptr, 0);
}

// Absolute CLOCK_MONOTONIC time `ms` from now; waits take relative times,
// so each sleep is given what is left.
timespec deadline_after(uint32_t ms) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += ms / 1000;
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000;
  if (t.tv_nsec >= 1000000000) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000;
  }
  return t;
}

// What is left until the deadline; false when it has passed.
bool time_left(const timespec& deadline, timespec* left) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  left->tv_sec = deadline.tv_sec - now.tv_sec;
  left->tv_nsec = deadline.tv_nsec - now.tv_nsec;
  if (left->tv_nsec < 0) {
    left->tv_nsec += 1000000000;
    left->tv_sec -= 1;
  }
  return left->tv_sec >= 0 && (left->tv_sec > 0 || left->tv_nsec > 0);
}

// The common wait; a null deadline waits for ever.
int wait_until(EventState* e, const timespec* deadline) {
  // A set usually follows soon when the setter runs on another core: a
  // short spin saves the sleep and the wake-up.
  if (take(e)) return 0;
  if (g_spin.spin([&] { return __atomic_load_n(&e->signalled, __ATOMIC_RELAXED) != 0 && take(e); })) return 0;
  __atomic_add_fetch(&e->sleepers, 1, __ATOMIC_SEQ_CST);
  int result = 0;
  while (!take(e)) {
    timespec left;
    if (deadline != nullptr && !time_left(*deadline, &left)) {
      result = ETIMEDOUT;
      break;
    }
    // Sleeps only while the word is still 0; a set in between returns at once.
    long rc = futex(&e->signalled, FUTEX_WAIT, 0, deadline != nullptr ? &left : nullptr);
    if (rc != 0 && errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT) {
      result = errno;
      break;
    }
  }
  __atomic_sub_fetch(&e->sleepers, 1, __ATOMIC_SEQ_CST);
  if (result != 0) set_last_error(result);
  return result;
}

}  // namespace

Handle event_create(const char* name, bool everyone) {
  return handle_or_release(object_create(Kind::Event, name, sizeof(EventState), everyone));
}

Handle event_open(const char* name, Owner owner) {
  return handle_or_release(object_open(Kind::Event, name, sizeof(EventState), owner));
}

int event_set(Handle h) {
  EventState* e = state_of(h);
  if (e == nullptr) return EBADF;
  __atomic_store_n(&e->setter_cpu, sched_getcpu(), __ATOMIC_RELAXED);
  __atomic_store_n(&e->signalled, 1, __ATOMIC_SEQ_CST);
  if (__atomic_load_n(&e->sleepers, __ATOMIC_SEQ_CST) != 0) futex(&e->signalled, FUTEX_WAKE, 1);
  return 0;
}

int event_reset(Handle h) {
  EventState* e = state_of(h);
  if (e == nullptr) return EBADF;
  __atomic_store_n(&e->signalled, 0, __ATOMIC_SEQ_CST);
  return 0;
}

int event_wait(Handle h) {
  EventState* e = state_of(h);
  return e == nullptr ? EBADF : wait_until(e, nullptr);
}

int event_wait_for(Handle h, uint32_t ms) {
  EventState* e = state_of(h);
  if (e == nullptr) return EBADF;
  const timespec deadline = deadline_after(ms);
  return wait_until(e, &deadline);
}

}  // namespace rk::os
