// Writing a run of plain tags of one type in one tight loop: the batch's
// common case, a client without a write mask writing values only. Per
// element it does what the general walk does for a plain tag (index check,
// compare, an 8-byte value that is no finite double refused, copy, change
// word, waiters collected); only the per-element questions whose answer
// cannot change within the run (the kind, the size, the mask, the layout)
// are asked once. Database lock held.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/errors.h"
#include "core/records.h"
#include "tags/change_marking.h"
#include "tags/change_notify.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"
#include "tags/value_store.h"
#include "tags/value_write.h"

namespace rk {

// Whether an element of n bytes may be stored without a look at it: an
// 8-byte value whose exponent bits are not all set is a finite double, the
// rest are taken as they come. Only the high word is read.
template <uint32_t n>
inline bool plainly_storable(const uint8_t* element) {
  if constexpr (n == 8) {
    uint32_t high;
    std::memcpy(&high, element + 4, sizeof high);
    return (high & 0x7FF00000u) != 0x7FF00000u;
  }
  return true;
}

// Where a run's tight loop stands: the next reference, the caller's next
// element, and the waiters of the per-application tags changed so far.
struct PlainRunCursor {
  const TagRef* ref;
  const uint8_t* element;
  uint32_t waiters;
};

// Writes refs from cur.ref on while they are of `type` with an index below
// `max` and values that need no look: compare, copy, change word, waiters.
// Stops at the end, at another type, at a bad index or at an 8-byte value
// that is no finite double. Calls nothing for a type with values per
// application, so that its loop keeps to registers; inline, since most
// writes are of a tag or two, for which a call costs more than the loop.
template <uint32_t n, bool per_app>
inline void write_plain_stretch(Kgd* kgd, WriteWake& wake, PlainRunCursor& cur, const TagRef* end,
                                const TypeRun& run) {
  constexpr uint32_t kStride = n + sizeof(ValueCellHeader);
  ChangeEntry* const changes = at<ChangeEntry>(run.changes);
  uint8_t* const values = at<uint8_t>(run.values) + sizeof(ValueCellHeader);
  const uint16_t type = static_cast<uint16_t>(run.type);
  const uint16_t max = run.max;
  const TagRef* p = cur.ref;
  const uint8_t* from = cur.element;
  uint32_t waiters = cur.waiters;
  for (; p != end; ++p, from += n) {
    const TagRef ref = *p;
    if (ref.type != type || ref.index >= max) break;
    uint8_t* const cell = values + kStride * ref.index;
    if (std::memcmp(cell, from, n) == 0) continue;
    if (!plainly_storable<n>(from)) break;
    store_value<n>(cell, from);
    if constexpr (per_app) {
      ChangeEntry* const change = changes + ref.index;
      change->change_word = kChangeBits;
      waiters |= change->wait_word;
    } else {
      if (change_broadcast(kgd, ref, kChangeBits) != 0) wake.all_apps = true;
    }
  }
  cur = PlainRunCursor{p, from, waiters};
}

// refs[i..) while they are of run's type, n value bytes each (as many in a
// cell), from `element` on (advanced past every element taken, as the walk
// does). Counts every tag in range into *counted; returns the index after
// the run.
template <uint32_t n, bool per_app>
uint32_t write_plain_run(TagCall& call, WriteWake& wake, const TypeRun& run, const TagRef* refs, uint32_t i,
                         uint32_t count, const uint8_t*& element, uint32_t* counted) {
  const TagRef* const end = refs + count;
  PlainRunCursor cur{refs + i, element, 0};
  uint32_t bad = 0;   // elements out of range: not counted
  for (;;) {
    write_plain_stretch<n, per_app>(call.kgd, wake, cur, end, run);
    if (cur.ref == end || cur.ref->type != run.type) break;
    // The element that stopped the stretch: an index out of range, or a
    // value looked at more closely, which is counted whatever it is.
    if (cur.ref->index >= run.max) {
      ++bad;
      call.record(kErrBadTag);
    } else {
      call.record(double_error(cur.element));   // its exponent bits all set: NaN or an infinity
    }
    ++cur.ref;
    cur.element += n;
  }
  // Nothing reads the pending-wake mask before the write's one wake.
  if (cur.waiters != 0) wake.target->pending_wake |= cur.waiters;
  element = cur.element;
  const uint32_t next = static_cast<uint32_t>(cur.ref - refs);
  *counted += next - i - bad;
  return next;
}

// The run of plain tags that starts at refs[i], written by write_plain_run
// when its size has a tight loop; i when it has none (the element is left
// to the general walk).
inline uint32_t write_plain_run_of(TagCall& call, WriteWake& wake, const TypeRun& run, const TagRef* refs,
                                   uint32_t i, uint32_t count, const uint8_t*& element, uint32_t* counted) {
  if (run.kind != kKindPlain || run.ksiz != run.element) return i;
  switch (run.element | (run.per_app ? 0x10000u : 0u)) {
    case 8 | 0x10000u: return write_plain_run<8, true>(call, wake, run, refs, i, count, element, counted);
    case 4 | 0x10000u: return write_plain_run<4, true>(call, wake, run, refs, i, count, element, counted);
    case 2 | 0x10000u: return write_plain_run<2, true>(call, wake, run, refs, i, count, element, counted);
    case 8: return write_plain_run<8, false>(call, wake, run, refs, i, count, element, counted);
    case 4: return write_plain_run<4, false>(call, wake, run, refs, i, count, element, counted);
    case 2: return write_plain_run<2, false>(call, wake, run, refs, i, count, element, counted);
    default: return i;
  }
}

}  // namespace rk
