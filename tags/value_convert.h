// Converting a tag's value into the value of a tag of another type class,
// for moves between tags. The class of a type is the type table's
// type_class, read as a signed 16-bit number; the move knows five of them.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/tag_walk.h"

namespace rk {

enum TypeClass : int16_t {
  kClassDigital = 0,   // a digital type: bit 31 of the change word
  kClassInt16 = 1,     // a 2-byte plain type, signed
  kClassDouble = 2,    // an 8-byte plain type, an IEEE 754 double
  kClassString = 3,    // a string type
  kClassInt32 = 4,     // a 4-byte plain type, signed
  kClassUnmovable = 5, // a class that is never moved between two of its tags
};

// True when `cls` is one of the five classes converted and the type's value
// kind and sizes are those of that class (a string type of either writer's
// usiz), so that a value read from its cell or handed to its write never
// reaches past the bytes it has.
bool kind_suits_class(const TypeEntry& type, int16_t cls);

// The destination's element as the move hands it to the write, in this
// process's layout (a string as an rk_string_desc). A text is handed as a
// descriptor of `text`, so the two travel together.
struct Converted {
  uint8_t element[sizeof(rk_string_desc) > 8 ? sizeof(rk_string_desc) : 8];
  char text[40];        // at most 39 characters and a 0 byte
};

// A text as a 32-bit integer, the same on every target: white space first,
// then an optional sign and decimal digits up to the first other character;
// 0 without digits. A number beyond the 32-bit range gives the nearest end
// of it (INT32_MAX or INT32_MIN), as a C library with a 32-bit long reads it.
int32_t text_to_int32(const char* text);

// Converts the value of the source tag at `source` (class `from`) into
// out.element for class `to`; both classes suit their types. Between equal
// classes the raw value is handed over, a string as a descriptor of the
// source cell's own buffer. Texts become integers by text_to_int32 (for a
// 16-bit integer its low 16 bits), doubles by strtod. False
// when nothing is to be written: a NaN, an infinity into any class but
// digital, a value outside the destination's integer range.
bool convert_value(int16_t from, const TagSite& source, int16_t to, Converted& out);

}  // namespace rk
