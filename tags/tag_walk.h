// Walking a batch of tag references. A tag {type, index} of an application
// lies in the arrays that the application's pair for the type names: its
// change entry at index x 8, its value cell (attribute word, then ksiz value
// bytes) at index x (ksiz + 4). The type entry and the pair are looked up
// only when the type differs from the previous element's, so a batch sorted
// by type costs one lookup per run of equal types. Database lock held.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/records.h"
#include "tags/tag_call.h"

namespace rk {

// One type as the walk needs it, in one application.
struct TypeRun {
  int32_t type = -1;     // the type looked up last; -1 before the first
  uint16_t kind = 0;     // value kind, kKind*
  uint16_t max = 0;      // tags of the type; 0 too when the arrays are missing
  uint16_t element = 0;  // bytes of an element in the caller's buffer (element_bytes)
  uint16_t ksiz = 0;     // value bytes in a cell
  bool per_app = false;  // every application has its own values
  Addr changes = 0;
  Addr values = 0;

  // Looks `type` up for `app`, unless it is the type found last. False for
  // a type not below the number of types, with usiz 0, or whose arrays the
  // layout build has not placed for its max.
  bool select(const Kgd* kgd, const AppBlock* app, uint16_t t) { return t == type || look_up(kgd, app, t); }

 private:
  bool look_up(const Kgd* kgd, const AppBlock* app, uint16_t t);
};

// A tag in range, where the walk found it.
struct TagSite {
  TagRef ref;
  ChangeEntry* change;
  ValueCellHeader* cell;   // the attribute word; the value bytes follow

  uint8_t* value() const { return reinterpret_cast<uint8_t*>(cell) + sizeof(ValueCellHeader); }
};

inline TagSite site_of(const TypeRun& run, const TagRef& ref) {
  return TagSite{ref, at<ChangeEntry>(run.changes) + ref.index,
                 at<ValueCellHeader>(run.values + (run.ksiz + sizeof(ValueCellHeader)) * ref.index)};
}

enum class Step { kNext, kStop };

// A cursor for walks that do not go through a packed buffer: every element
// gets the same place. The change scans read the one tag they find into the
// start of the caller's buffer; the change-bit operations have no buffer.
template <typename Byte>
struct FixedElement {
  Byte* element;
  FixedElement& operator+=(uint32_t) { return *this; }
  operator Byte*() const { return element; }
};

// Walks refs[0..count) in app's arrays with a cursor into the caller's
// buffer that advances by each element's size in this process (its type's
// usiz for plain values, this process's own record for strings and
// mailboxes: element_bytes) whatever happens to it, and
// hands every tag in range to visit(run, site, element, i), i indexing the
// caller's attribute arrays. A bad type records 9 and ends the walk; an
// index not below max records 9 and passes the element over. The walk also
// ends when visit says kStop. Returns the index the walk ended at: the bad
// type's, the one visit stopped at, or count.
//
// run(run, i, buffer) may take over the elements from i on that share its
// type, all at once: it returns the index after the last one it took, its
// cursor advanced past them, or i to leave element i to visit.
template <typename Cursor, typename Run, typename Visit>
uint32_t walk_tag_runs(TagCall& call, const AppBlock* app, const TagRef* refs, uint32_t count, Cursor buffer,
                       Run&& take_run, Visit&& visit) {
  TypeRun run;
  for (uint32_t i = 0; i < count; ++i) {
    const TagRef ref = refs[i];
    if (!run.select(call.kgd, app, ref.type)) {
      call.record(kErrBadTag);
      return i;
    }
    if (const uint32_t next = take_run(run, i, buffer); next != i) {
      i = next - 1;
      continue;
    }
    Cursor element = buffer;
    buffer += run.element;
    if (ref.index >= run.max) {
      call.record(kErrBadTag);
      continue;
    }
    if (visit(run, site_of(run, ref), element, i) == Step::kStop) return i;
  }
  return count;
}

template <typename Cursor, typename Visit>
uint32_t walk_tags(TagCall& call, const AppBlock* app, const TagRef* refs, uint32_t count, Cursor buffer,
                   Visit&& visit) {
  return walk_tag_runs(
      call, app, refs, count, buffer, [](const TypeRun&, uint32_t i, Cursor&) { return i; },
      static_cast<Visit&&>(visit));
}

}  // namespace rk
