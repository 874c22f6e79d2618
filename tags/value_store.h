// Storing a plain value into its cell so that a writer killed inside the
// store leaves the old value or the new one, never a mix: a value of at
// most a machine word goes in one store instruction, a wider one has its
// old bytes kept in the intent record first.
#pragma once

#include <cstdint>
#include <cstring>

namespace rk {

// The widest value that one store instruction writes on this target.
constexpr uint32_t kOneStoreBytes = sizeof(void*);

// A wider value, or one whose width is known only at run time. Database
// lock held.
void store_value_bytes(uint8_t* cell, const uint8_t* from, uint32_t n);

template <typename T>
struct __attribute__((packed, may_alias)) OneStore {
  T value;
};

template <uint32_t n>
struct WordOf;
template <>
struct WordOf<2> { using type = uint16_t; };
template <>
struct WordOf<4> { using type = uint32_t; };
template <>
struct WordOf<8> { using type = uint64_t; };

// n bytes from the caller's element into the cell: one store when the
// target writes n bytes at once, whatever the cell's alignment.
template <uint32_t n>
inline void store_value(uint8_t* cell, const uint8_t* from) {
  if constexpr (n <= kOneStoreBytes) {
    using Word = typename WordOf<n>::type;
    Word v;
    std::memcpy(&v, from, n);
    reinterpret_cast<OneStore<Word>*>(cell)->value = v;
  } else {
    store_value_bytes(cell, from, n);
  }
}

}  // namespace rk
