#include "platform/named_mutex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/process_info.h"
#include "platform/spin_wait.h"

namespace rk::os {

namespace {

// Mutexes here are held for short sections: a taker that finds one held
// tries again for a while before it sleeps, so that a release costs
// neither side a system call.
SpinWait g_spin(200);

MutexState* state_of(Handle h) {
  NamedObject* obj = handle_get(h, Kind::Mutex);
  return obj == nullptr ? nullptr : static_cast<MutexState*>(obj->body);
}

uint32_t load(const uint32_t* p, int order = __ATOMIC_RELAXED) { return __atomic_load_n(p, order); }
void store(uint32_t* p, uint32_t v) { __atomic_store_n(p, v, __ATOMIC_RELAXED); }

// The word goes from `expected` to `desired`; acquire, so that the new
// owner sees everything the last one did under the mutex.
bool claim(MutexState* m, uint32_t expected, uint32_t desired) {
  return __atomic_compare_exchange_n(&m->word, &expected, desired, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

// Sleeps while the word holds `seen`, for at most the time between two
// looks at the owner. False when the time ran out.
bool sleep_on(MutexState* m, uint32_t seen) {
  const timespec look{0, kOwnerLookMs * 1000000L};
  // Not a private futex: the word is shared between processes.
  const long rc = syscall(SYS_futex, &m->word, FUTEX_WAIT, seen, &look, nullptr, 0);
  return rc == 0 || errno != ETIMEDOUT;
}

// The owner's fields, once the word is the caller's. Only the owner writes
// them; others read them for diagnosis.
void become_owner(MutexState* m) {
  store(&m->depth, 1);
  store(&m->pid, process_id());
  store(&m->start, own_start_time());
}

// Takes the held mutex: sleeps, saying so in the word, and takes it from an
// owner whose thread is gone. True when it was taken from a dead owner.
bool wait_for(MutexState* m, uint32_t self) {
  for (;;) {
    uint32_t seen = load(&m->word);
    if (seen == 0) {
      // Others may sleep still: the next release must wake one.
      if (claim(m, 0, self | kMutexSleepers)) return false;
      continue;
    }
    if ((seen & kMutexSleepers) == 0) {
      if (!__atomic_compare_exchange_n(&m->word, &seen, seen | kMutexSleepers, false, __ATOMIC_RELAXED,
                                       __ATOMIC_RELAXED)) {
        continue;
      }
      seen |= kMutexSleepers;
    }
    if (sleep_on(m, seen)) continue;
    // A thread that ends holding the mutex leaves its id in the word: the
    // first waiter that finds the thread gone takes the mutex over.
    if (thread_gone(seen & kMutexOwnerMask) && claim(m, seen, self | kMutexSleepers)) return true;
  }
}

}  // namespace

Handle mutex_create(const char* name, bool everyone) {
  NamedObject* obj = object_create(Kind::Mutex, name, sizeof(MutexState), everyone);
  if (obj == nullptr) return 0;
  // A new object is all zero, a free mutex; the marker says it is made.
  __atomic_store_n(&static_cast<MutexState*>(obj->body)->marker, kMutexMarker, __ATOMIC_RELEASE);
  return handle_or_release(obj);
}

Handle mutex_open(const char* name, Owner owner) {
  NamedObject* obj = object_open(Kind::Mutex, name, sizeof(MutexState), owner);
  if (obj != nullptr && load(&static_cast<MutexState*>(obj->body)->marker, __ATOMIC_ACQUIRE) != kMutexMarker) {
    object_release(obj);
    set_last_error(EPROTO);
    return 0;
  }
  return handle_or_release(obj);
}

int mutex_wait(Handle h, bool* abandoned) {
  MutexState* m = state_of(h);
  if (m == nullptr) return EBADF;
  const uint32_t self = thread_id();
  bool dead_owner = false;
  const uint32_t seen = load(&m->word);
  if ((seen & kMutexOwnerMask) == self && load(&m->pid) == process_id()) {
    store(&m->depth, load(&m->depth) + 1);
  } else {
    if (!claim(m, 0, self) && !g_spin.spin([&] { return load(&m->word) == 0 && claim(m, 0, self); })) {
      dead_owner = wait_for(m, self);
    }
    become_owner(m);
    if (dead_owner) store(&m->takeovers, load(&m->takeovers) + 1);
  }
  if (abandoned != nullptr) *abandoned = dead_owner;
  return 0;
}

int mutex_release(Handle h) {
  MutexState* m = state_of(h);
  if (m == nullptr) return EBADF;
  if ((load(&m->word) & kMutexOwnerMask) != thread_id() || load(&m->pid) != process_id()) {
    set_last_error(EPERM);
    return EPERM;
  }
  const uint32_t depth = load(&m->depth);
  if (depth > 1) {
    store(&m->depth, depth - 1);
    return 0;
  }
  store(&m->depth, 0);
  store(&m->pid, 0);
  store(&m->start, 0);
  // Release: whatever the owner wrote under the mutex is seen by the next.
  if (__atomic_exchange_n(&m->word, 0, __ATOMIC_RELEASE) & kMutexSleepers) {
    syscall(SYS_futex, &m->word, FUTEX_WAKE, 1, nullptr, nullptr, 0);
  }
  return 0;
}

}  // namespace rk::os
