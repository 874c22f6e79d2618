// Addresses kept in shared memory are 32-bit absolute addresses. On the
// ILP32 target they are plain pointers; these helpers convert between the two.
#pragma once

#include <cstdint>

namespace rk {

using Addr = uint32_t;



// A value at an address that need not suit its type's alignment: the tables
// carved from segment 0 lie end to end, so a u32 table may start on any byte.
#pragma pack(push, 1)
template <typename T>
struct Unaligned {
  T value;
  operator T() const { return value; }
  Unaligned& operator=(T v) {
    value = v;
    return *this;
  }
};
#pragma pack(pop)

template <typename T>
inline T* at(Addr a) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(a));
}

inline Addr addr_of(const volatile void* p) {
  return static_cast<Addr>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace rk
