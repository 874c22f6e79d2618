#include "platform/named_event.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"

namespace rk::os {

namespace {

// The futex word is 1 while the event is signalled. Waiters announce
// themselves, so that a set with nobody asleep costs no system call.
constexpr int kSpins = 400;   // about 10 us of pauses

struct EventState {
  uint32_t signalled;
  uint32_t sleepers;
};

EventState* state_of(Handle h) {
  NamedObject* obj = handle_get(h, Kind::Event);
  return obj == nullptr ? nullptr : static_cast<EventState*>(obj->body);
}

bool take(EventState* e) {
  uint32_t one = 1;
  return __atomic_compare_exchange_n(&e->signalled, &one, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

long futex(uint32_t* word, int op, uint32_t val) {
  return syscall(SYS_futex, word, op, val, nullptr, nullptr, 0);
}

}  // namespace

Handle event_create(const char* name, bool everyone) {
  return handle_or_release(object_create(Kind::Event, name, sizeof(EventState), everyone));
}

Handle event_open(const char* name) {
  return handle_or_release(object_open(Kind::Event, name, sizeof(EventState)));
}

int event_set(Handle h) {
  EventState* e = state_of(h);
  if (e == nullptr) return EBADF;
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
  if (e == nullptr) return EBADF;
  // A set usually follows soon when the setter runs on another core: a
  // short spin saves the sleep and the wake-up.
  for (int spin = 0; spin < kSpins; ++spin) {
    if (__atomic_load_n(&e->signalled, __ATOMIC_RELAXED) != 0 && take(e)) return 0;
    __builtin_ia32_pause();
  }
  __atomic_add_fetch(&e->sleepers, 1, __ATOMIC_SEQ_CST);
  while (!take(e)) {
    // Sleeps only while the word is still 0; a set in between returns at once.
    long rc = futex(&e->signalled, FUTEX_WAIT, 0);
    if (rc != 0 && errno != EAGAIN && errno != EINTR) {
      int err = errno;
      __atomic_sub_fetch(&e->sleepers, 1, __ATOMIC_SEQ_CST);
      set_last_error(err);
      return err;
    }
  }
  __atomic_sub_fetch(&e->sleepers, 1, __ATOMIC_SEQ_CST);
  return 0;
}

}  // namespace rk::os
