// The words of the kgd that an uncontended take or give of the database
// lock changes without the kernel mutex: the holder, by compare-and-swap,
// and the mark `lock_slow`, set by every take of the kernel mutex and
// cleared by its last give when no client queues for the lock.
//
// A take without the mutex swaps the holder from 0 to its entry and then
// reads the mark; a give swaps it from its entry back to 0 and then reads
// the mark. A mutex holder sets the mark and only then reads the holder.
// Each side's swap is a full barrier, so one of them always sees the
// other: either the mutex holder sees the lock held, or the taker or giver
// sees the mark and finishes its call under the kernel mutex. So while
// anyone holds the kernel mutex, no take completes without it, and a give
// that raced with a client queueing hands the lock to that client.
//
// The fields are packed and need not be aligned: a locked instruction is
// atomic on any word that lies inside one cache line, as these do.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/records.h"

namespace rk {

namespace lock_word_detail {

inline volatile uint32_t* word(const Kgd* kgd, size_t offset) {
  return reinterpret_cast<volatile uint32_t*>(reinterpret_cast<uintptr_t>(kgd) + offset);
}

inline bool swap_word(volatile uint32_t* w, uint32_t expected, uint32_t desired) {
  uint32_t prev = expected;
  asm volatile("lock cmpxchgl %2, %1" : "+a"(prev), "+m"(*w) : "r"(desired) : "memory", "cc");
  return prev == expected;
}

inline uint32_t load_word(const volatile uint32_t* w) {
  uint32_t v;
  asm volatile("movl %1, %0" : "=r"(v) : "m"(*w) : "memory");
  return v;
}

}  // namespace lock_word_detail

// Makes the entry the holder when nobody holds the lock.
inline bool claim_lock(Kgd* kgd, const CptEntry* entry) {
  return lock_word_detail::swap_word(lock_word_detail::word(kgd, offsetof(Kgd, lock_holder)), 0, addr_of(entry));
}

// Frees the lock when the entry holds it.
inline bool drop_lock(Kgd* kgd, const CptEntry* entry) {
  return lock_word_detail::swap_word(lock_word_detail::word(kgd, offsetof(Kgd, lock_holder)), addr_of(entry), 0);
}

// Whether takes and gives must go through the kernel mutex now.
inline bool lock_is_slow(const Kgd* kgd) {
  return lock_word_detail::load_word(lock_word_detail::word(kgd, offsetof(Kgd, lock_slow))) != 0;
}

// Kernel mutex just taken: sets the mark, as a full barrier.
inline void mark_lock_slow(Kgd* kgd) {
  uint32_t one = 1;
  asm volatile("xchgl %0, %1" : "+r"(one), "+m"(*lock_word_detail::word(kgd, offsetof(Kgd, lock_slow))) : : "memory");
}

// Kernel mutex about to be given back with nobody queued for the lock.
inline void clear_lock_slow(Kgd* kgd) {
  asm volatile("movl $0, %0" : "=m"(*lock_word_detail::word(kgd, offsetof(Kgd, lock_slow))) : : "memory");
}

}  // namespace rk
