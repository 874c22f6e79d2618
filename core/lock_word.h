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
// Both words lie at offsets the format does not align: they are reached
// through aligned containers (core/kgd_words.h).
#pragma once

#include "core/kgd_words.h"
#include "core/records.h"

namespace rk {

// Makes the entry the holder when nobody holds the lock.
inline bool claim_lock(Kgd* kgd, const CptEntry* entry) {
  return swap_lock_holder(kgd, 0, addr_of(entry));
}

// Frees the lock when the entry holds it.
inline bool drop_lock(Kgd* kgd, const CptEntry* entry) {
  return swap_lock_holder(kgd, addr_of(entry), 0);
}

// Whether takes and gives must go through the kernel mutex now.
inline bool lock_is_slow(const Kgd* kgd) {
  return __atomic_load_n(lock_slow_word(kgd), __ATOMIC_SEQ_CST) != 0;
}

// Kernel mutex just taken: sets the mark, as a full barrier. The holder is
// read next with plain loads. An exchange is a full barrier on x86; where a
// later load may pass the exchange's store (aarch64), a full fence keeps
// the reads of the holder after the mark.
inline void mark_lock_slow(Kgd* kgd) {
  __atomic_exchange_n(lock_slow_word(kgd), uint16_t{1}, __ATOMIC_SEQ_CST);
#if !defined(__x86_64__) && !defined(__i386__)
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
#endif
}

// Kernel mutex about to be given back with nobody queued for the lock.
inline void clear_lock_slow(Kgd* kgd) {
  __atomic_store_n(lock_slow_word(kgd), uint16_t{0}, __ATOMIC_RELEASE);
}

}  // namespace rk
