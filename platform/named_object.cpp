#include "platform/named_object.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/object_names.h"

namespace rk::os {

namespace {

NamedObject* fail(int err) {
  set_last_error(err);
  return nullptr;
}

void close_keep_errno(int fd) {
  const int e = errno;
  close(fd);
  errno = e;
}

// Mutexes and events are mapped at once and keep no descriptor; mappings
// keep theirs until their first view.
NamedObject* make(Kind kind, int fd, const struct stat& st, std::string path) {
  const uint32_t size = static_cast<uint32_t>(st.st_size);
  void* body = nullptr;
  if (kind != Kind::Mapping) {
    body = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (body == MAP_FAILED) {
      close_keep_errno(fd);
      return fail(errno);
    }
    close(fd);
    fd = -1;
  }
  const bool own = st.st_uid == geteuid();
  return new NamedObject{kind, fd, false, own, size, body, st.st_dev, st.st_ino, 1, std::move(path)};
}

}  // namespace

NamedObject* object_create(Kind kind, const char* name, uint32_t size, bool everyone) {
  std::string path = object_path(name);
  if (path.empty() || size == 0) return fail(EINVAL);
  const mode_t mode = everyone ? 0666 : 0600;
  const int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
  if (fd < 0) return fail(errno);
  struct stat st;
  // fchmod, so that the umask cannot narrow the access.
  if (fchmod(fd, mode) != 0 || ftruncate(fd, size) != 0 || fstat(fd, &st) != 0) {
    const int e = errno;
    shm_unlink(path.c_str());
    close(fd);
    return fail(e);
  }
  NamedObject* obj = make(kind, fd, st, path);
  if (obj == nullptr) shm_unlink(path.c_str());
  return obj;
}

NamedObject* object_open(Kind kind, const char* name, uint32_t min_size, Owner owner) {
  std::string path = object_path(name);
  if (path.empty()) return fail(EINVAL);
  const int fd = shm_open(path.c_str(), O_RDWR, 0);
  if (fd < 0) return fail(errno);
  struct stat st;
  int err = 0;
  if (fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(min_size)) {
    err = EINVAL;
  } else if (owner == Owner::Self && st.st_uid != geteuid()) {
    // Another user's object under one of our names is never trusted.
    err = EACCES;
  }
  if (err != 0) {
    close(fd);
    return fail(err);
  }
  return make(kind, fd, st, path);
}

int object_descriptor(NamedObject* obj) {
  if (obj->fd >= 0) return obj->fd;
  const int fd = shm_open(obj->path.c_str(), O_RDWR, 0);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_dev != obj->dev || st.st_ino != obj->ino) {
    close(fd);
    set_last_error(ENOENT);
    return -1;
  }
  obj->fd = fd;
  return fd;
}

void object_drop_descriptor(NamedObject* obj) {
  if (obj->anchored || obj->fd < 0) return;
  close(obj->fd);
  obj->fd = -1;
}

void object_release(NamedObject* obj) {
  if (obj == nullptr || obj->refs.fetch_sub(1) > 1) return;
  if (obj->body != nullptr) munmap(obj->body, obj->size);
  if (obj->fd >= 0) close(obj->fd);
  delete obj;
}

bool object_remove(const char* name) {
  const std::string path = object_path(name);
  if (path.empty()) return false;
  return shm_unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace rk::os
