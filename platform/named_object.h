// Named shared objects and their lifetime. An object exists while some
// process holds a handle to it or a view of it; its name goes with the last
// holder, also when processes are killed:
//  - every holder keeps a shared flock on the object (a view keeps the open
//    file, and so the lock, alive);
//  - the last holder to let go removes the name, at close or at process exit;
//  - a name that nobody holds is the leftover of a crashed run: opening it
//    removes it and reports that the object does not exist.
// Create, open and remove-if-last run under the machine-wide NameLock.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace rk::os {

enum class Kind : uint8_t { Mapping = 1, Mutex, Event };

struct NamedObject {
  Kind kind;
  int fd;
  pid_t pid;          // the process that opened it; a forked child never removes it
  uint32_t size;
  void* body;         // mutexes and events: their mapped state
  std::atomic<int> refs;  // the handle plus every view mapped from it
  std::string path;
};

// Called with the bytes of a leftover, under the NameLock, before its name is
// removed: lets the owner of the format reclaim what belonged to it.
using LeftoverHook = void (*)(const void* bytes, uint32_t size);

// A new object of `size` zero bytes, accessible to everyone or to the owner
// only. Fails with EEXIST when a live object has the name.
NamedObject* object_create(Kind kind, const char* name, uint32_t size, bool everyone);

// The live object of that name; fails with ENOENT when there is none.
NamedObject* object_open(Kind kind, const char* name, uint32_t min_size,
                         LeftoverHook hook = nullptr);

// Drops one reference; the last one gives the object up.
void object_release(NamedObject* obj);

// Removes every object whose name starts with `prefix` (a kernel name, the
// namespace is added) and that nobody holds. Call under the NameLock.
void remove_leftovers(const char* prefix);

}  // namespace rk::os
