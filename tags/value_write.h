// Writing one tag's value from the caller's element, by value kind: the
// plain rules, where only a value that differs is a change, and the forced
// rules, where every value stored is one.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/errors.h"
#include "tags/tag_walk.h"
#include "tags/value_store.h"

namespace rk {

// What a write did to one tag.
struct Written {
  bool changed = false;
  uint32_t word = kChangeBits;   // the change word a change stores
  int16_t error = 0;             // for TagCall::record
};

// 0 for an 8-byte value that is a finite double (little-endian IEEE 754),
// else the error that refuses it: 50 NaN, 51 +infinity, 52 -infinity.
inline int16_t double_error(const uint8_t* bytes) {
  uint64_t bits;
  std::memcpy(&bits, bytes, sizeof bits);
  constexpr uint64_t kExponent = 0x7FF0000000000000ull;
  constexpr uint64_t kFraction = 0x000FFFFFFFFFFFFFull;
  if ((bits & kExponent) != kExponent) return 0;
  if ((bits & kFraction) != 0) return kErrNaN;
  return (bits >> 63) != 0 ? kErrMinusInf : kErrPlusInf;
}

// A plain value of `n` bytes, compared and copied as one word when n is
// known here: the common element of every batch.
template <uint32_t n>
inline Written write_plain_bytes(uint8_t* cell, const uint8_t* element) {
  Written w;
  if (std::memcmp(cell, element, n) == 0) return w;
  if (n == 8 && (w.error = double_error(element)) != 0) return w;
  store_value<n>(cell, element);
  w.changed = true;
  return w;
}

// The plain rule of write_value.
inline Written write_plain(const TypeRun& run, const TagSite& site, const uint8_t* element) {
  switch (run.element) {
    case 2: return write_plain_bytes<2>(site.value(), element);
    case 4: return write_plain_bytes<4>(site.value(), element);
    case 8: return write_plain_bytes<8>(site.value(), element);
    default: break;
  }
  Written w;
  if (std::memcmp(site.value(), element, run.element) == 0) return w;
  store_value_bytes(site.value(), element, run.element);
  w.changed = true;
  return w;
}

// write_value for the kinds other than plain: digital, string, mailbox.
Written write_kind_value(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id);

// Plain: the bytes when they differ (an 8-byte value that is no finite
// double is refused). Digital: a value that turns bit 31 over. String: a
// text that differs; a null buffer with a size, offered to a tag without a
// buffer, only reserves the buffer. Mailbox: the message appended. Inline,
// so that a batch compares and copies plain values, the most common, in its
// own loop.
inline Written write_value(const TypeRun& run, const TagSite& site, const uint8_t* element, uint16_t id) {
  return run.kind == kKindPlain ? write_plain(run, site, element) : write_kind_value(run, site, element, id);
}

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
