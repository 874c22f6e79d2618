// Named shared objects. A name is a POSIX shared-memory object in /dev/shm;
// what lies behind it is mapped into the process, and its descriptor is
// closed as soon as it is mapped, so that a process's descriptors do not
// grow with the objects it uses. A name stays until it is removed by name:
// an object that nobody maps at the moment is not a leftover. The one
// exception is an anchor, whose descriptor is kept for the flock that tells
// whether anybody still uses what it anchors.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace rk::os {

enum class Kind : uint8_t { Mapping = 1, Mutex, Event };

// Whose objects an open accepts: only the caller's effective user's, or
// anybody's (an RTDB its creator shares with every user of the machine).
enum class Owner : uint8_t { Self, Anyone };

struct NamedObject {
  Kind kind;
  int fd;             // -1 once mapped, unless the object anchors a flock
  bool anchored;      // a flock was taken on fd: it stays open
  bool own;           // the caller's effective user owns the object
  uint32_t size;
  void* body;         // mutexes and events: their mapped state
  dev_t dev;          // the file behind the name when it was opened
  ino_t ino;
  std::atomic<int> refs;  // the handle plus every view mapped from it
  std::string path;
};

// A new object of `size` zero bytes, accessible to everyone or to the owner
// only. Fails with EEXIST when the name exists.
NamedObject* object_create(Kind kind, const char* name, uint32_t size, bool everyone);

// The object of that name, at least min_size bytes long. Fails with ENOENT
// when there is none, EACCES when another user owns it and `owner` is Self,
// EINVAL when it is too small or not a shared-memory object.
NamedObject* object_open(Kind kind, const char* name, uint32_t min_size, Owner owner);

// The descriptor of a mapping object, open again if it was closed after
// mapping; -1 when the name no longer leads to the same object.
int object_descriptor(NamedObject* obj);

// Closes the descriptor unless the object anchors a flock.
void object_drop_descriptor(NamedObject* obj);

// Drops one reference; the last one unmaps and closes what the process
// holds of the object. The name stays.
void object_release(NamedObject* obj);

// Removes a kernel object name (the namespace is added). True when the name
// is gone, also when it did not exist.
bool object_remove(const char* name);

}  // namespace rk::os
