#include "platform/handles.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/last_error.h"

namespace rk::os {

namespace {

// Two-level table: chunks are allocated on demand and never freed, so a
// lookup needs no lock. A handle is (generation << 16) | (index + 1); the
// generation catches a handle used after its slot was reused.
constexpr uint32_t kChunkBits = 8;
constexpr uint32_t kChunkSize = 1u << kChunkBits;
constexpr uint32_t kChunks = 255;   // indexes 0..65279, handle low half 1..65280

struct Slot {
  std::atomic<NamedObject*> obj{nullptr};
  std::atomic<uint16_t> gen{1};
};

std::atomic<Slot*> g_chunks[kChunks];
std::mutex g_mutex;     // allocation and removal
uint32_t g_next = 0;    // first never-used index
uint32_t g_free_head = 0;   // 1 + index of a freed slot, 0 for none
uint32_t* g_free_links = nullptr;

Slot* slot_at(uint32_t index) {
  Slot* chunk = g_chunks[index >> kChunkBits].load(std::memory_order_acquire);
  return chunk == nullptr ? nullptr : &chunk[index & (kChunkSize - 1)];
}

Slot* slot_of(Handle h) {
  uint32_t low = h & 0xFFFF;
  if (low == 0 || low > kChunks * kChunkSize) return nullptr;
  Slot* s = slot_at(low - 1);
  if (s == nullptr || s->gen.load(std::memory_order_acquire) != (h >> 16)) return nullptr;
  return s;
}

}  // namespace

Handle handle_new(NamedObject* obj) {
  std::lock_guard<std::mutex> g(g_mutex);
  uint32_t index;
  if (g_free_head != 0) {
    index = g_free_head - 1;
    g_free_head = g_free_links[index];
  } else {
    if (g_next >= kChunks * kChunkSize) {
      set_last_error(EMFILE);
      return 0;
    }
    index = g_next;
    if ((index & (kChunkSize - 1)) == 0) {
      if (g_free_links == nullptr) g_free_links = new uint32_t[kChunks * kChunkSize]();
      g_chunks[index >> kChunkBits].store(new Slot[kChunkSize], std::memory_order_release);
    }
    ++g_next;
  }
  Slot* s = slot_at(index);
  s->obj.store(obj, std::memory_order_release);
  return (static_cast<uint32_t>(s->gen.load(std::memory_order_relaxed)) << 16) | (index + 1);
}

Handle handle_or_release(NamedObject* obj) {
  if (obj == nullptr) return 0;
  Handle h = handle_new(obj);
  if (h == 0) object_release(obj);
  return h;
}

NamedObject* handle_get(Handle h, Kind kind) {
  Slot* s = slot_of(h);
  NamedObject* obj = s == nullptr ? nullptr : s->obj.load(std::memory_order_acquire);
  if (obj == nullptr || obj->kind != kind) {
    set_last_error(EBADF);
    return nullptr;
  }
  return obj;
}

NamedObject* handle_remove(Handle h) {
  std::lock_guard<std::mutex> g(g_mutex);
  Slot* s = slot_of(h);
  NamedObject* obj = s == nullptr ? nullptr : s->obj.exchange(nullptr);
  if (obj == nullptr) {
    set_last_error(EBADF);
    return nullptr;
  }
  uint16_t gen = s->gen.load(std::memory_order_relaxed) + 1;
  s->gen.store(gen == 0 ? 1 : gen, std::memory_order_release);
  uint32_t index = (h & 0xFFFF) - 1;
  g_free_links[index] = g_free_head;
  g_free_head = index + 1;
  return obj;
}

bool close_handle(Handle h) {
  NamedObject* obj = handle_remove(h);
  if (obj == nullptr) return false;
  object_release(obj);
  return true;
}

}  // namespace rk::os
