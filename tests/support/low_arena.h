// Memory the kernel can address, for tests that hand it a table or a shared
// structure of their own (a type table, pair or change arrays): the kernel
// keeps such an address in a 32-bit field, and the heap and stack of a
// 64-bit process lie above 4 GiB. One region is mapped at a fixed address
// below 4 GiB, clear of the RTDB's segments, and allocations are taken from
// it in turn; it starts over once every allocation is given back. A
// caller's buffers (texts, message data) need none of this: they stay in
// ordinary memory.
#pragma once

#include <cstddef>
#include <vector>

namespace rk::test {

// `bytes` from the region, 16-byte aligned; aborts when the region is full
// or cannot be mapped below 4 GiB.
void* low_alloc(std::size_t bytes);
void low_free(void* p);

template <typename T>
struct LowAllocator {
  using value_type = T;
  LowAllocator() = default;
  template <typename U>
  LowAllocator(const LowAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(low_alloc(n * sizeof(T))); }
  void deallocate(T* p, std::size_t) { low_free(p); }
  template <typename U>
  bool operator==(const LowAllocator<U>&) const { return true; }
};

template <typename T>
using LowVector = std::vector<T, LowAllocator<T>>;

}  // namespace rk::test
