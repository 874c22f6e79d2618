#include "platform/named_mutex.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"

namespace rk::os {

namespace {

pthread_mutex_t* body_of(Handle h) {
  NamedObject* obj = handle_get(h, Kind::Mutex);
  return obj == nullptr ? nullptr : static_cast<pthread_mutex_t*>(obj->body);
}

}  // namespace

Handle mutex_create(const char* name, bool everyone) {
  NamedObject* obj = object_create(Kind::Mutex, name, sizeof(pthread_mutex_t), everyone);
  if (obj == nullptr) return 0;
  // Initialised while the object is still new, before anyone can open it.
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

Handle mutex_open(const char* name) {
  return handle_or_release(object_open(Kind::Mutex, name, sizeof(pthread_mutex_t)));
}

int mutex_wait(Handle h) {
  pthread_mutex_t* m = body_of(h);
  if (m == nullptr) return EBADF;
  int rc = pthread_mutex_lock(m);
  if (rc == EOWNERDEAD) {
    // An abandoned mutex counts as acquired; its state is made consistent so
    // that it stays usable.
    pthread_mutex_consistent(m);
    rc = 0;
  }
  if (rc != 0) set_last_error(rc);
  return rc;
}

int mutex_release(Handle h) {
  pthread_mutex_t* m = body_of(h);
  if (m == nullptr) return EBADF;
  int rc = pthread_mutex_unlock(m);
  if (rc != 0) set_last_error(rc);
  return rc;
}

bool mutex_owned_here(const void* body) {
  // The owner field holds the owning thread's id (with flag bits above it).
  const auto* m = static_cast<const pthread_mutex_t*>(body);
  return (static_cast<unsigned>(m->__data.__owner) & 0x3FFFFFFF) == static_cast<unsigned>(gettid());
}

}  // namespace rk::os
