#include "platform/named_mutex.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/last_error.h"
#include "platform/process_info.h"
#include "platform/spin_wait.h"
#include "platform/user_emulation.h"

namespace rk::os {

namespace {

// The mutexes the calling thread holds, once per level: the system keeps
// its own record of the owner private.
thread_local std::vector<const void*> t_owned;

// Mutexes here are held for short sections: a taker that finds one held
// tries again for a while before it sleeps, so that a release costs
// neither side a system call.
SpinWait g_spin(200);

// Under an emulator, what the system does for a thread that ends holding a
// robust mutex: when the owner named in the futex word has gone, the word
// keeps only its waiters bit and gets the owner-died bit, and a waiter is
// woken. The next lock then reports the mutex abandoned, as it would
// after the system's own release.
void release_if_owner_gone(pthread_mutex_t* m) {
  auto* word = reinterpret_cast<uint32_t*>(&m->__data.__lock);
  const uint32_t seen = __atomic_load_n(word, __ATOMIC_ACQUIRE);
  const uint32_t owner = seen & FUTEX_TID_MASK;
  if (owner == 0 || (seen & FUTEX_OWNER_DIED) != 0 || !thread_gone(owner)) return;
  uint32_t expected = seen;
  const uint32_t died = (seen & FUTEX_WAITERS) | FUTEX_OWNER_DIED;
  if (__atomic_compare_exchange_n(word, &expected, died, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    syscall(SYS_futex, word, FUTEX_WAKE, 1, nullptr, nullptr, 0);
  }
}

// How long a taker sleeps on a held mutex, under an emulator, before it
// looks whether the owner is still there.
constexpr long kOwnerLookNs = 50 * 1000 * 1000;

int lock_looking_for_owner(pthread_mutex_t* m) {
  for (;;) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += kOwnerLookNs;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_nsec -= 1000000000L;
      ++deadline.tv_sec;
    }
    const int rc = pthread_mutex_timedlock(m, &deadline);
    if (rc != ETIMEDOUT) return rc;
    release_if_owner_gone(m);
  }
}

int lock_spinning(pthread_mutex_t* m) {
  int rc = pthread_mutex_trylock(m);
  if (rc != EBUSY) return rc;
  if (g_spin.spin([&] { return (rc = pthread_mutex_trylock(m)) != EBUSY; })) return rc;
  return under_user_emulation() ? lock_looking_for_owner(m) : pthread_mutex_lock(m);
}

pthread_mutex_t* body_of(Handle h) {
  NamedObject* obj = handle_get(h, Kind::Mutex);
  return obj == nullptr ? nullptr : static_cast<pthread_mutex_t*>(obj->body);
}

}  // namespace

Handle mutex_create(const char* name, bool everyone) {
  NamedObject* obj = object_create(Kind::Mutex, name, sizeof(pthread_mutex_t), everyone);
  if (obj == nullptr) return 0;
  // Initialised while the object is still new, before anyone can use it.
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  int rc = pthread_mutex_init(static_cast<pthread_mutex_t*>(obj->body), &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    object_release(obj);
    set_last_error(rc);
    return 0;
  }
  return handle_or_release(obj);
}

Handle mutex_open(const char* name, Owner owner) {
  return handle_or_release(object_open(Kind::Mutex, name, sizeof(pthread_mutex_t), owner));
}

int mutex_wait(Handle h, bool* abandoned) {
  pthread_mutex_t* m = body_of(h);
  if (m == nullptr) return EBADF;
  int rc = lock_spinning(m);
  if (abandoned != nullptr) *abandoned = rc == EOWNERDEAD;
  if (rc == EOWNERDEAD) {
    // An abandoned mutex counts as acquired; its state is made consistent so
    // that it stays usable.
    pthread_mutex_consistent(m);
    rc = 0;
  }
  if (rc != 0) {
    set_last_error(rc);
    return rc;
  }
  t_owned.push_back(m);
  return 0;
}

int mutex_release(Handle h) {
  pthread_mutex_t* m = body_of(h);
  if (m == nullptr) return EBADF;
  int rc = pthread_mutex_unlock(m);
  if (rc != 0) {
    set_last_error(rc);
    return rc;
  }
  for (auto it = t_owned.rbegin(); it != t_owned.rend(); ++it) {
    if (*it == m) {
      t_owned.erase(std::next(it).base());
      break;
    }
  }
  return 0;
}

bool mutex_owned_here(const void* body) {
  for (const void* m : t_owned) {
    if (m == body) return true;
  }
  return false;
}

}  // namespace rk::os
