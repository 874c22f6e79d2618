// The frame every batch operation on tags runs in: the caller resolved once,
// its database lock held for the whole batch, the batch's error kept until
// the end and stored only then. Reads, writes, the change scans and the
// non-overwriting variants all run in it.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

struct TagCall {
  Kgd* kgd = nullptr;
  AppBlock* app = nullptr;     // the caller's application
  CptEntry* entry = nullptr;   // the caller's entry
  uint16_t id = 0;
  int16_t error = 0;           // the batch's error so far; 0 while none

  // Records an element's failure. A bad reference and a refused floating
  // value replace whatever was recorded before; the errors that string and
  // message helpers return count only while nothing is recorded.
  void record(int16_t err);
};

// Resolves the caller, without the ownership rule, and takes its database
// lock. False when the call ends here with -1: nothing is stored for an id
// that does not resolve, the lock stored its own error when it failed.
bool begin_tag_call(TagCall& call, uint16_t id);

// The two halves of begin_tag_call, for a call that refuses some arguments
// before it takes the lock: resolve_tag_call is false for an id that does
// not resolve (nothing stored), lock_tag_call false when the lock failed
// (it stored its own error).
bool resolve_tag_call(TagCall& call, uint16_t id);
bool lock_tag_call(TagCall& call);

// Begins a call that runs inside `outer`, a call of the same caller that
// holds the database lock: the caller as outer resolved it, the lock taken
// once more (it nests). False when that failed.
bool begin_inner_tag_call(TagCall& call, const TagCall& outer);

// Ends a call before its walk (a null pointer, an application that does
// not run): stores err, releases the lock, returns -1. No statistics.
int fail_tag_call(TagCall& call, int16_t err);

// Ends a call after its walk: counts one call and `tags` tags in the given
// counters of the caller, releases the lock and returns 0, or -1 with the
// recorded error stored. A release that fails in a call without an error of
// its own makes it -1 with the release's error.
int end_tag_call(TagCall& call, CptStat calls, CptStat tags, uint32_t counted);

// The same without statistics, for the calls that count only a success
// (the change scans) or nothing at all (the change-bit operations).
int finish_tag_call(TagCall& call);

}  // namespace rk
