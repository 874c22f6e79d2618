// Updates of shared data that a process killed at any instruction leaves
// whole: every store that would leave a structure inconsistent if the
// process died after it is announced in the RTDB's intent record first
// (the old value of a word, the old bytes of a value, a copy to finish),
// and the process that takes over from a dead holder finishes or undoes
// what the record names before anything else reads the data.
//
// An update opens with an Update on the stack and commits when the
// outermost Update of its kind closes; stores in between go through
// logged_store (or RK_LOGGED) into the record the thread has open. A
// store into memory that lies outside the RTDB's segments (a test's own
// structure) is made without a record: nobody else could repair it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "core/records.h"

namespace rk {

// The record of a kind in the RTDB, null when the RTDB has none.
inline IntentRecord* intent_record(const Kgd* kgd, IntentKind kind) {
  return kgd != nullptr && kgd->intents != 0 ? &at<IntentArea>(kgd->intents)->records[kind] : nullptr;
}

// Keeps the compiler from moving stores across it: a process that dies
// leaves its stores in program order, which is all the repair relies on.
inline void store_order() { std::atomic_signal_fence(std::memory_order_seq_cst); }

// The record the calling thread's innermost open update writes; null when
// it has none (or its RTDB has no record).
IntentRecord* open_intent();

// One update of shared data of a kind, on the RTDB the caller holds the
// guarding lock of. Nested updates of the same kind join the outer one.
class Update {
 public:
  Update(const Kgd* kgd, IntentKind kind);
  ~Update();
  Update(const Update&) = delete;
  Update& operator=(const Update&) = delete;

 private:
  IntentKind kind_;
  IntentRecord* outer_;
};

// Records the old value of the width (1, 2 or 4) bytes at p.
void intent_log(const void* p, uint32_t width);

// Stores v at p, its old value recorded first.
template <typename T>
inline void logged_store(T* p, std::type_identity_t<T> v) {
  static_assert(sizeof(T) <= 4, "a word of at most 4 bytes");
  if (open_intent() != nullptr) intent_log(p, sizeof(T));
  std::memcpy(p, &v, sizeof v);
  store_order();
}

// Copies len bytes to p, each word's old value recorded first: for a
// small record (a few dozen bytes) that must change whole.
void logged_copy(void* p, const void* from, uint32_t len);

// Keeps the len bytes at p, to be put back if the update dies; false when
// the area's buffer is smaller than len (see reserve_intent_bytes).
bool intent_keep_bytes(const void* p, uint32_t len);

// Notes that the len bytes at p, zero before the update, are to be zero
// again if it is undone: a block it took from free space and filled. One
// such range per update.
void intent_zero_on_undo(const void* p, uint32_t len);

// Forgets what the open update recorded so far: what it stored is final.
// For an update made of steps that each leave the data consistent.
void intent_settle();

// Announces a copy of len bytes from src down to dst (dst < src), to be
// finished by a repair, then the redo words: what the copy's step stores
// after it. The copy itself goes through intent_move_run.
void intent_move_begin(const void* dst, const void* src, uint32_t len, const IntentWord* redo, uint16_t nredo);

// Makes the announced copy and its redo stores, then forgets it.
void intent_move_run();

// After the holder of the guarding lock died: finishes the copy its record
// announces, puts back the kept bytes and the logged words, last first, and
// closes the record. Nothing when the record is closed, or when the process
// that wrote it still runs and `only_if_dead`. Every address is checked to
// lie inside a segment of the RTDB first. The repairer maps the segments it
// lacks.
void intent_repair(Kgd* kgd, IntentKind kind, bool only_if_dead);

// "" when no update is left open in either record and what a record holds
// is within its bounds; else the first fault, naming the record. An open
// record is a fault only while nobody holds the lock that guards it.
std::string intent_check(const Kgd* kgd);

}  // namespace rk

// The address of a packed field, as a pointer to its type that is only
// ever read and written through memcpy (it may lie on any byte).
#define RK_FIELD_PTR(obj, field)                                   \
  reinterpret_cast<std::remove_cvref_t<decltype((obj)->field)>*>( \
      reinterpret_cast<char*>(obj) + offsetof(std::remove_cvref_t<decltype(*(obj))>, field))

// Stores value into the packed field of a shared record, logged.
#define RK_LOGGED(obj, field, value) \
  ::rk::logged_store(RK_FIELD_PTR(obj, field), static_cast<std::remove_cvref_t<decltype((obj)->field)>>(value))
