// A pattern that tells blocks of kernel memory apart: word i of a block
// filled with seed s holds s + i, so a block that moved, or one that was
// overwritten by another, shows it.
#pragma once

#include <cstdint>

namespace rk::test {

inline void fill_pattern(void* payload, uint32_t bytes, uint32_t seed) {
  uint32_t* words = static_cast<uint32_t*>(payload);
  for (uint32_t i = 0; i < bytes / 4; ++i) words[i] = seed + i;
}

// The number of words that differ from the pattern.
inline uint32_t pattern_errors(const void* payload, uint32_t bytes, uint32_t seed) {
  const uint32_t* words = static_cast<const uint32_t*>(payload);
  uint32_t errors = 0;
  for (uint32_t i = 0; i < bytes / 4; ++i) errors += words[i] != seed + i;
  return errors;
}

}  // namespace rk::test
