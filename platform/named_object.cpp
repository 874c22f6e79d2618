#include "platform/named_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/last_error.h"
#include "platform/named_mutex.h"
#include "platform/object_names.h"

namespace rk::os {

namespace {

// Every object this process holds, so that process exit can give them up.
std::mutex g_live_mutex;
std::unordered_set<NamedObject*>* g_live = nullptr;
std::once_flag g_exit_once;

// At normal exit the process lets go of what it still holds: whoever finds
// itself the last holder removes the name. Handles and views stay usable for
// whatever else runs during exit.
void give_up_at_exit() {
  NameLock lock;
  std::lock_guard<std::mutex> g(g_live_mutex);
  if (g_live == nullptr) return;
  for (NamedObject* obj : *g_live) {
    if (obj->pid == getpid() && flock(obj->fd, LOCK_EX | LOCK_NB) == 0) shm_unlink(obj->path.c_str());
  }
}

void track(NamedObject* obj) {
  std::call_once(g_exit_once, [] { atexit(give_up_at_exit); });
  std::lock_guard<std::mutex> g(g_live_mutex);
  if (g_live == nullptr) g_live = new std::unordered_set<NamedObject*>;
  g_live->insert(obj);
}

void untrack(NamedObject* obj) {
  std::lock_guard<std::mutex> g(g_live_mutex);
  if (g_live != nullptr) g_live->erase(obj);
}

// True when nobody holds the object behind fd; the caller then holds it
// exclusively. A failed attempt on a description that held the shared lock
// drops that lock, so callers only ask when they are about to let go.
bool nobody_else_holds(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

void close_keep_errno(int fd) {
  int e = errno;
  close(fd);
  errno = e;
}

NamedObject* fail(int err) {
  set_last_error(err);
  return nullptr;
}

// Maps the state of a mutex or event object into this process.
bool map_body(NamedObject* obj) {
  if (obj->kind == Kind::Mapping) return true;
  void* p = mmap(nullptr, obj->size, PROT_READ | PROT_WRITE, MAP_SHARED, obj->fd, 0);
  if (p == MAP_FAILED) return false;
  obj->body = p;
  return true;
}

NamedObject* make(Kind kind, int fd, uint32_t size, std::string path) {
  auto* obj = new NamedObject{kind, fd, getpid(), size, nullptr, 1, std::move(path)};
  if (!map_body(obj)) {
    int e = errno;
    close(fd);
    delete obj;
    return fail(e);
  }
  return obj;
}

// Removes the name of the object behind fd if nobody holds it; true if it
// was removed. The hook sees the bytes first.
bool remove_if_unheld(int fd, const std::string& path, LeftoverHook hook) {
  if (!nobody_else_holds(fd)) return false;
  struct stat st;
  if (hook != nullptr && fstat(fd, &st) == 0 && st.st_size > 0) {
    void* p = mmap(nullptr, st.st_size, PROT_READ, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) {
      hook(p, static_cast<uint32_t>(st.st_size));
      munmap(p, st.st_size);
    }
  }
  shm_unlink(path.c_str());
  return true;
}

// The same by name; true also when the name is already gone.
bool remove_if_leftover(const std::string& path) {
  int fd = shm_open(path.c_str(), O_RDWR, 0);
  if (fd < 0) return errno == ENOENT;
  bool removed = remove_if_unheld(fd, path, nullptr);
  close(fd);
  return removed;
}

}  // namespace

NamedObject* object_create(Kind kind, const char* name, uint32_t size, bool everyone) {
  std::string path = object_path(name);
  if (path.empty() || size == 0) return fail(EINVAL);
  const mode_t mode = everyone ? 0666 : 0600;

  NameLock lock;
  int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
  if (fd < 0 && errno == EEXIST) {
    // A leftover gives way to the new object; a live object does not.
    if (!remove_if_leftover(path)) return fail(EEXIST);
    fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
  }
  if (fd < 0) return fail(errno);
  // fchmod, so that the umask cannot narrow the access.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0 || fchmod(fd, mode) != 0 || ftruncate(fd, size) != 0) {
    int e = errno;
    shm_unlink(path.c_str());
    close(fd);
    return fail(e);
  }
  NamedObject* obj = make(kind, fd, size, path);
  if (obj == nullptr) {
    shm_unlink(path.c_str());
    return nullptr;
  }
  track(obj);
  return obj;
}

NamedObject* object_open(Kind kind, const char* name, uint32_t min_size, LeftoverHook hook) {
  std::string path = object_path(name);
  if (path.empty()) return fail(EINVAL);

  NameLock lock;
  int fd = shm_open(path.c_str(), O_RDWR, 0);
  if (fd < 0) return fail(errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close_keep_errno(fd);
    return fail(errno);
  }
  if (remove_if_unheld(fd, path, hook)) {
    close(fd);
    return fail(ENOENT);
  }
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    close_keep_errno(fd);
    return fail(errno);
  }
  if (st.st_size < static_cast<off_t>(min_size)) {
    close(fd);
    return fail(EINVAL);
  }
  NamedObject* obj = make(kind, fd, static_cast<uint32_t>(st.st_size), path);
  if (obj != nullptr) track(obj);
  return obj;
}

void object_release(NamedObject* obj) {
  if (obj == nullptr || obj->refs.fetch_sub(1) > 1) return;
  untrack(obj);
  if (obj->pid == getpid()) {
    NameLock lock;
    if (nobody_else_holds(obj->fd)) shm_unlink(obj->path.c_str());
  }
  // A mutex this thread still owns stays mapped: the thread's list of robust
  // mutexes runs through it.
  if (obj->body != nullptr && !(obj->kind == Kind::Mutex && mutex_owned_here(obj->body))) {
    munmap(obj->body, obj->size);
  }
  close(obj->fd);
  delete obj;
}

void remove_leftovers(const char* prefix) {
  std::string start = name_space() + (prefix != nullptr ? prefix : "");
  if (start.empty()) return;   // never everything in the directory
  DIR* dir = opendir("/dev/shm");
  if (dir == nullptr) return;
  while (struct dirent* e = readdir(dir)) {
    if (strncmp(e->d_name, start.c_str(), start.size()) == 0) {
      remove_if_leftover(std::string("/") + e->d_name);
    }
  }
  closedir(dir);
}

}  // namespace rk::os
