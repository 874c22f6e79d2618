// The one CPU-specific instruction of the kernel: the hint a spinning thread
// gives its core between two looks at a word that another CPU will change.
// It lets a sibling hyperthread run and, on x86, leaves the spin without a
// memory-order flush when the word changes. Other CPUs go on without it.
#pragma once

namespace rk::os {

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield" ::: "memory");
#else
  asm volatile("" ::: "memory");
#endif
}

}  // namespace rk::os
