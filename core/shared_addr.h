// Addresses kept in shared memory are 32-bit absolute addresses. On the
// ILP32 target they are plain pointers; these helpers convert between the two.
#pragma once

#include <cstdint>

namespace rk {

using Addr = uint32_t;

static_assert(sizeof(void*) == sizeof(Addr), "the kernel is built for a 32-bit target");

template <typename T>
inline T* at(Addr a) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(a));
}

inline Addr addr_of(const volatile void* p) {
  return static_cast<Addr>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace rk
