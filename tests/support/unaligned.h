// The shared records are packed, so many of their fields lie at addresses
// their type does not allow, and so may the tables behind them. Reading one
// through a reference or a typed pointer is undefined (the sanitizer build
// stops at it). GoogleTest's assertions take their arguments by reference:
// a field goes in through val(), which copies it first. Words of a table with
// no alignment of its own (the event table) go through load_u32/store_u32.
#pragma once

#include <cstdint>
#include <cstring>

namespace rk::test {

template <typename T>
constexpr T val(T field) {
  return field;
}

inline uint32_t load_u32(const void* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store_u32(void* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace rk::test
