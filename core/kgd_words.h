// The kgd words that processes read or change atomically while others do
// the same. The format puts several of them at offsets that are not
// naturally aligned for their width. An atomic operation on such a word
// faults on some CPUs, and where a compiler falls back on a lock it is not
// atomic between processes; so each is reached through the widest naturally
// aligned container that holds what changes of it (segment 0 starts on a
// page, so kgd offsets are address alignments):
// - nsegs (326) and running_apps (318) never exceed 16 bits (at most 65535
//   segments, 128 applications): the aligned u16 of their low half holds
//   the whole value, and the high half stays 0;
// - lock_slow (414) is 0 or 1, in the aligned u16 of its low half;
// - lock_holder (402) takes any 32-bit address: it lies inside the aligned
//   u64 at 400, with the high half of app_data and the low half of
//   queue_head; a change compares and swaps all eight bytes and keeps the
//   other six as they are.
// state (8) and flags (472) are u16 fields on aligned offsets already; they
// too are reached through an aligned pointer, for the compiler takes a
// packed field for unaligned.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/kgd_check.h"
#include "core/records.h"

namespace rk {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the shared formats are little-endian");

namespace kgd_words_detail {

template <typename T>
inline T* word(const Kgd* kgd, size_t offset) {
  return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(kgd) + offset);
}

constexpr size_t kNsegs = offsetof(Kgd, nsegs);
constexpr size_t kRunningApps = offsetof(Kgd, running_apps);
constexpr size_t kLockSlow = offsetof(Kgd, lock_slow);
constexpr size_t kHolder = offsetof(Kgd, lock_holder);
constexpr size_t kHolderBox = kHolder & ~size_t{7};
constexpr unsigned kHolderShift = 8 * (kHolder - kHolderBox);
constexpr uint64_t kHolderMask = uint64_t{0xFFFFFFFF} << kHolderShift;

static_assert(kNsegs % 2 == 0 && kMaxSegTable <= 0xFFFF, "nsegs: its low u16 holds every value");
static_assert(kRunningApps % 2 == 0 && kMaxApps <= 0x7FFF, "running_apps: its low u16 holds every value");
static_assert(kLockSlow % 2 == 0, "lock_slow: its low u16 holds 0 and 1");
static_assert(kHolder + sizeof(Addr) <= kHolderBox + 8, "lock_holder lies inside one aligned u64");
static_assert(offsetof(Kgd, state) % 2 == 0 && offsetof(Kgd, flags) % 2 == 0, "u16 words on aligned offsets");

}  // namespace kgd_words_detail

// Segments in use, as published by the last segment's creator.
inline uint32_t load_nsegs(const Kgd* kgd) {
  return __atomic_load_n(kgd_words_detail::word<uint16_t>(kgd, kgd_words_detail::kNsegs), __ATOMIC_ACQUIRE);
}

// Publishes a new segment count, after the segment's entry is complete.
inline void publish_nsegs(Kgd* kgd, uint32_t n) {
  __atomic_store_n(kgd_words_detail::word<uint16_t>(kgd, kgd_words_detail::kNsegs), static_cast<uint16_t>(n),
                   __ATOMIC_RELEASE);
}

inline int32_t load_running_apps(const Kgd* kgd) {
  return __atomic_load_n(kgd_words_detail::word<int16_t>(kgd, kgd_words_detail::kRunningApps), __ATOMIC_SEQ_CST);
}

// The run state and the init flags, changed by one process while others read them.
inline uint16_t* state_word(const Kgd* kgd) {
  return kgd_words_detail::word<uint16_t>(kgd, offsetof(Kgd, state));
}
inline uint16_t* flags_word(const Kgd* kgd) {
  return kgd_words_detail::word<uint16_t>(kgd, offsetof(Kgd, flags));
}

// Whether the RTDB is made and not deleted: an acquire, so that a process
// that sees it made sees everything its creator wrote before.
inline bool rtdb_ready(const Kgd* kgd) { return __atomic_load_n(state_word(kgd), __ATOMIC_ACQUIRE) != 0; }

// The aligned u16 that holds the whole of lock_slow.
inline uint16_t* lock_slow_word(const Kgd* kgd) {
  return kgd_words_detail::word<uint16_t>(kgd, kgd_words_detail::kLockSlow);
}

// Compares the database lock's holder with `expected` and, when they are
// equal, makes it `desired`; a full barrier either way.
inline bool swap_lock_holder(Kgd* kgd, Addr expected, Addr desired) {
  using namespace kgd_words_detail;
  uint64_t* box = word<uint64_t>(kgd, kHolderBox);
  uint64_t seen = __atomic_load_n(box, __ATOMIC_RELAXED);
  for (;;) {
    uint64_t want = (seen & ~kHolderMask) | (uint64_t{expected} << kHolderShift);
    const uint64_t next = (seen & ~kHolderMask) | (uint64_t{desired} << kHolderShift);
    if (__atomic_compare_exchange_n(box, &want, next, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) return true;
    if (((want & kHolderMask) >> kHolderShift) != expected) return false;
    seen = want;  // only the neighbours changed under the swap: again
  }
}

}  // namespace rk
