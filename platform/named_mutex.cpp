#include "platform/named_mutex.h"

#include <pthread.h>

#include <cerrno>
#include <vector>

#include "platform/last_error.h"
#include "platform/spin_wait.h"

namespace rk::os {

namespace {

// The mutexes the calling thread holds, once per level: the system keeps
// its own record of the owner private.
thread_local std::vector<const void*> t_owned;

// Mutexes here are held for short sections: a taker that finds one held
// tries again for a while before it sleeps, so that a release costs
// neither side a system call.
SpinWait g_spin(200);

int lock_spinning(pthread_mutex_t* m) {
  int rc = pthread_mutex_trylock(m);
  if (rc != EBUSY) return rc;
  if (g_spin.spin([&] { return (rc = pthread_mutex_trylock(m)) != EBUSY; })) return rc;
  return pthread_mutex_lock(m);
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
