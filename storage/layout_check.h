// Consistency check of the tag database layout, and the one way the other
// checks reach a tag's change entry and value cell: only through arrays
// found to lie in dbrt blocks of mapped segments, large enough for every
// tag of their type. Reads only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/records.h"

namespace rk {

// One type's arrays in one application, as a check may read them.
struct TagArrays {
  const ChangeEntry* changes = nullptr;
  const uint8_t* cells = nullptr;   // value cells of cell_bytes each
  uint32_t max = 0;                 // 0: no tags to look at
  uint32_t cell_bytes = 0;
  uint16_t kind = 0;
  bool per_app = false;

  // The kernel value of tag i, past its attribute word.
  const uint8_t* value(uint32_t i) const { return cells + cell_bytes * i + sizeof(ValueCellHeader); }
};

// The arrays of type t in application a, "" when they can be read: max 0
// for a type slot that is unused, not laid out, without tags or without
// arrays placed; else the arrays, the entry's ksiz and value bytes being
// those of its kind and max, a shared type's value array its shared one,
// each array the payload of a dbrt block that is in use and large enough.
// Otherwise the fault, with max 0.
std::string tag_arrays(const Kgd* kgd, uint32_t t, uint32_t a, TagArrays* out);

// "" when tag_arrays finds every type of every application sound;
// otherwise "tag arrays: TYPE app A: " and the first fault.
std::string layout_check(const Kgd* kgd);

// Runs `check` on the kernel value of every tag of the kind that
// tag_arrays can read, a shared type's in one application only. "" when
// every one passes; else "<what> NAME[i]: " (" app A: " for values per
// application) and the first fault.
std::string first_value_fault(const Kgd* kgd, uint16_t kind, const char* what,
                              const std::function<std::string(const uint8_t* value)>& check);

// Type t for a fault's text: its name, or "type N" when it has none.
std::string type_label(const Kgd* kgd, uint32_t t);

// Tag i of type t for a fault's text: "NAME[i]".
std::string tag_label(const Kgd* kgd, uint32_t t, uint32_t i);

}  // namespace rk
