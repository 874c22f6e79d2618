#include "platform/address_window.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/last_error.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace rk::os {

namespace {

constexpr uint64_t kTop = uint64_t{1} << 32;   // every segment ends at or below
constexpr int kPlaceholder = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;

// A type of this file's own, so that the map's code stays in the library
// and is not exported with it.
struct Claim {
  uint64_t end;
};

struct Window {
  uint64_t begin, end;
  std::map<uint64_t, Claim> claims;   // the views inside, by their begin; whole pages
};

std::mutex g_mutex;
Window* g_window = nullptr;   // never destroyed: views may still go as the process ends

void* at(uint64_t address) { return reinterpret_cast<void*>(static_cast<uintptr_t>(address)); }

uint64_t whole_pages(uint64_t bytes) { return (bytes + page_size() - 1) & ~uint64_t{page_size() - 1}; }

// Covers [begin, end) with a placeholder if nothing of the process lies
// there; false when something does.
bool cover_free(uint64_t begin, uint64_t end) {
  const size_t size = static_cast<size_t>(end - begin);
  void* p = mmap(at(begin), size, PROT_NONE, kPlaceholder | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED) return false;
  // A kernel that does not know MAP_FIXED_NOREPLACE takes the address as a hint.
  if (p != at(begin)) {
    munmap(p, size);
    return false;
  }
  return true;
}

// Reserves the free addresses from base up to the first one taken, or to
// kTop, and sets *end to where the reservation ends (base when nothing
// there is free). Probing by mapping needs no /proc and sees exactly what
// the kernel refuses. False when another thread mapped something between
// the probes and the reservation: a look again sees it.
bool cover_free_from(uint64_t base, uint64_t* end) {
  *end = kTop;
  if (cover_free(base, kTop)) return true;
  const uint64_t page = page_size();
  uint64_t free_end = base, taken_end = kTop;   // [base, free_end) is free, [base, taken_end) is not
  while (taken_end - free_end > page) {
    const uint64_t mid = free_end + ((taken_end - free_end) / 2 & ~(page - 1));
    if (cover_free(base, mid)) {
      munmap(at(base), static_cast<size_t>(mid - base));
      free_end = mid;
    } else {
      taken_end = mid;
    }
  }
  *end = free_end;
  return free_end == base || cover_free(base, free_end);
}

void release_locked() {
  Window* w = g_window;
  if (w == nullptr) return;
  uint64_t from = w->begin;
  for (const auto& [begin, claim] : w->claims) {
    if (begin > from) munmap(at(from), static_cast<size_t>(begin - from));
    from = claim.end;
  }
  if (w->end > from) munmap(at(from), static_cast<size_t>(w->end - from));
  delete w;
  g_window = nullptr;
}

// True when [begin, end) meets a claim. Claims do not overlap, so only the
// last one that begins below end can reach into the range.
bool meets_claim(const Window& w, uint64_t begin, uint64_t end) {
  auto it = w.claims.lower_bound(end);
  return it != w.claims.begin() && std::prev(it)->second.end > begin;
}

}  // namespace

uint32_t page_size() {
  static const uint32_t size = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
  return size;
}

bool address_window_kept() { return sizeof(void*) >= 8; }

bool address_window_reserve(uint32_t base, uint32_t need, bool* made) {
  *made = false;
  if (!address_window_kept()) return true;
  std::lock_guard<std::mutex> g(g_mutex);
  const uint64_t want_end = base + whole_pages(need);
  if (g_window != nullptr && base >= g_window->begin && want_end <= g_window->end) return true;
  release_locked();
  uint64_t end = base;
  for (int look = 0; look < 3 && !cover_free_from(base, &end); ++look) end = base;
  if (end > base && end >= want_end) {
    g_window = new Window{base, end, {}};
    *made = true;
    return true;
  }
  if (end > base) munmap(at(base), static_cast<size_t>(end - base));
  set_last_error(EEXIST);
  return false;
}

void address_window_release() {
  std::lock_guard<std::mutex> g(g_mutex);
  release_locked();
}

WindowPlace address_window_claim(uintptr_t address, size_t size) {
  std::lock_guard<std::mutex> g(g_mutex);
  Window* w = g_window;
  const uint64_t begin = address, end = begin + whole_pages(size);
  if (w == nullptr || end <= w->begin || begin >= w->end) return WindowPlace::Outside;
  if (begin < w->begin || meets_claim(*w, begin, end)) return WindowPlace::Taken;
  if (end > w->end) {
    if (end > kTop || !cover_free(w->end, end)) return WindowPlace::Taken;
    w->end = end;
  }
  w->claims.emplace(begin, Claim{end});
  return WindowPlace::Inside;
}

bool address_window_give_back(uintptr_t address) {
  std::lock_guard<std::mutex> g(g_mutex);
  Window* w = g_window;
  if (w == nullptr) return false;
  auto it = w->claims.find(address);
  if (it == w->claims.end()) return false;
  const size_t size = static_cast<size_t>(it->second.end - it->first);
  w->claims.erase(it);
  // In one step, so that the range is never free for another mapping.
  if (mmap(at(address), size, PROT_NONE, kPlaceholder | MAP_FIXED, -1, 0) == MAP_FAILED) munmap(at(address), size);
  return true;
}

}  // namespace rk::os
