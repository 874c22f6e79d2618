// Writing one tag's value from the caller's element, by value kind: the
// plain rules, where only a value that differs is a change, and the forced
// rules, where every value stored is one.
#pragma once

#include <cstdint>

#include "tags/tag_walk.h"

namespace rk {

// What a write did to one tag.
struct Written {
  bool changed = false;
  uint32_t word = kChangeBits;   // the change word a change stores
  int16_t error = 0;             // for TagCall::record
};

// 0 for an 8-byte value that is a finite double (little-endian IEEE 754),
// else the error that refuses it: 50 NaN, 51 +infinity, 52 -infinity.
int16_t double_error(const uint8_t* bytes);

// Plain: the bytes when they differ (an 8-byte value that is no finite
// double is refused). Digital: a value that turns bit 31 over. String: a
// text that differs; a null buffer with a size, offered to a tag without a
// buffer, only reserves the buffer. Mailbox: the message appended.
Written write_value(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id);

// As write_value, but a value stored is a change even when it was there
// already. A mailbox write is the same under both rules.
Written forced_write_value(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id);

// A string write without the reservation case: the caller's text copied
// into the cell (a buffer of the text's size reserved when it has none), a
// change when it differs; a buffer that cannot be had records 2.
Written assign_string(const TagSite& site, const uint8_t* element);

// A mailbox write: the caller's message appended, a change unless refused.
Written write_message(const TagSite& site, const uint8_t* element, uint16_t id);

}  // namespace rk
