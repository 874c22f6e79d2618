#include "platform/mapping.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/address_window.h"
#include "platform/last_error.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace rk::os {

namespace {

std::mutex g_views_mutex;
std::map<uintptr_t, NamedObject*>* g_views = nullptr;

NamedObject* mapping_of(Handle h) { return handle_get(h, Kind::Mapping); }

bool lock_file(Handle h, int op) {
  NamedObject* obj = mapping_of(h);
  const int fd = obj == nullptr ? -1 : object_descriptor(obj);
  if (fd < 0) return false;
  obj->anchored = true;
  while (flock(fd, op | LOCK_NB) != 0) {
    if (errno != EINTR) {
      set_last_error(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

Handle mapping_create(const char* name, uint32_t size, bool everyone) {
  return handle_or_release(object_create(Kind::Mapping, name, size, everyone));
}

Handle mapping_open(const char* name, Owner owner) {
  return handle_or_release(object_open(Kind::Mapping, name, 1, owner));
}

uint32_t mapping_size(Handle h) {
  NamedObject* obj = mapping_of(h);
  return obj == nullptr ? 0 : obj->size;
}

bool mapping_is_own(Handle h) {
  NamedObject* obj = mapping_of(h);
  return obj != nullptr && obj->own;
}

void* map_view(Handle h, uint32_t address) {
  std::lock_guard<std::mutex> g(g_views_mutex);
  NamedObject* obj = mapping_of(h);
  const int fd = obj == nullptr ? -1 : object_descriptor(obj);
  if (fd < 0) return nullptr;
  void* want = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
  const WindowPlace place = address != 0 ? address_window_claim(address, obj->size) : WindowPlace::Outside;
  if (place == WindowPlace::Taken) {
    set_last_error(EEXIST);
    return nullptr;
  }
  // In the window the view replaces the placeholder that kept its place;
  // elsewhere a range that is taken is left as it is.
  int flags = MAP_SHARED;
  if (address != 0) flags |= place == WindowPlace::Inside ? MAP_FIXED : MAP_FIXED_NOREPLACE;
  void* p = mmap(want, obj->size, PROT_READ | PROT_WRITE, flags, fd, 0);
  if (p == MAP_FAILED) {
    set_last_error(errno);
    if (place == WindowPlace::Inside) address_window_give_back(address);
    return nullptr;
  }
  // A kernel that does not know MAP_FIXED_NOREPLACE takes the address as a hint.
  if (address != 0 && p != want) {
    munmap(p, obj->size);
    set_last_error(EEXIST);
    return nullptr;
  }
  // The view needs no descriptor.
  object_drop_descriptor(obj);
  if (g_views == nullptr) g_views = new std::map<uintptr_t, NamedObject*>;
  (*g_views)[reinterpret_cast<uintptr_t>(p)] = obj;
  ++obj->refs;
  return p;
}

bool unmap_view(void* view) {
  NamedObject* obj;
  {
    std::lock_guard<std::mutex> g(g_views_mutex);
    auto it = g_views == nullptr ? decltype(g_views->end()){} : g_views->find(reinterpret_cast<uintptr_t>(view));
    if (g_views == nullptr || it == g_views->end()) {
      set_last_error(EINVAL);
      return false;
    }
    obj = it->second;
    g_views->erase(it);
    // In the window the placeholder takes the place back.
    if (!address_window_give_back(reinterpret_cast<uintptr_t>(view))) munmap(view, obj->size);
  }
  object_release(obj);
  return true;
}

bool mapping_hold(Handle h) { return lock_file(h, LOCK_SH); }

bool mapping_hold_alone(Handle h) { return lock_file(h, LOCK_EX); }

void mapping_let_go(Handle h) {
  NamedObject* obj = mapping_of(h);
  if (obj == nullptr) return;
  obj->anchored = false;
  object_drop_descriptor(obj);
}

bool mapping_linked(Handle h) {
  NamedObject* obj = mapping_of(h);
  struct stat st;
  return obj != nullptr && obj->fd >= 0 && fstat(obj->fd, &st) == 0 && st.st_nlink > 0;
}

}  // namespace rk::os
