#include "support/low_arena.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace rk::test {

namespace {

// Below the RTDBs of the tests (from 0x20800000, or 0x60000000 where the
// sanitizer takes the range from 0x20000000) and below the sanitizer's own
// shadow on either target.
constexpr uintptr_t kHint = 0x10000000;
constexpr std::size_t kBytes = 64u << 20;
constexpr uint64_t k4GiB = uint64_t{1} << 32;

struct Region {
  uint8_t* base = nullptr;
  std::size_t used = 0;
  std::size_t live = 0;   // allocations not yet given back
};

Region& region() {
  static Region r = [] {
    void* p = mmap(reinterpret_cast<void*>(kHint), kBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
#ifdef MAP_32BIT
    if (p == MAP_FAILED) {
      p = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    }
#endif
    if (p == MAP_FAILED || reinterpret_cast<uintptr_t>(p) + uint64_t{kBytes} > k4GiB) {
      std::fprintf(stderr, "low arena: no room below 4 GiB\n");
      std::abort();
    }
    return Region{static_cast<uint8_t*>(p), 0, 0};
  }();
  return r;
}

}  // namespace

void* low_alloc(std::size_t bytes) {
  Region& r = region();
  const std::size_t rounded = (bytes + 15) & ~std::size_t{15};
  if (rounded > kBytes - r.used) {
    std::fprintf(stderr, "low arena: %zu bytes more do not fit\n", bytes);
    std::abort();
  }
  void* p = r.base + r.used;
  r.used += rounded;
  ++r.live;
  return p;
}

void low_free(void* p) {
  if (p == nullptr) return;
  Region& r = region();
  if (--r.live == 0) r.used = 0;
}

}  // namespace rk::test
