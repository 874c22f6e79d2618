#include "tags/value_convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/format.h"
#include "tags/string_value.h"

namespace rk {

namespace {

// Bytes of a plain class's value, in a cell and in an element alike.
constexpr uint16_t kPlainBytes[] = {0, 2, 8, 0, 4};

bool known(int16_t cls) { return cls >= kClassDigital && cls <= kClassInt32; }

template <typename T>
T load(const uint8_t* bytes) {
  T v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

template <typename T>
void store(Converted& out, T v) {
  static_assert(sizeof v <= sizeof out.element);
  std::memcpy(out.element, &v, sizeof v);
}

// The text in out.text handed as a string; its size and length count the 0 byte.
void store_text(Converted& out) {
  const auto n = static_cast<uint16_t>(std::strlen(out.text) + 1);
  store(out, rk_string_desc{out.text, n, n});
}

bool from_integer(int32_t n, int16_t to, Converted& out) {
  switch (to) {
    case kClassDigital: store<uint16_t>(out, n != 0 ? 1 : 0); return true;
    case kClassInt16:
      if (n < -32768 || n > 32767) return false;
      store(out, static_cast<int16_t>(n));
      return true;
    case kClassDouble: store(out, static_cast<double>(n)); return true;
    case kClassString:
      kfmt_n(out.text, sizeof out.text, "%ld", n);
      store_text(out);
      return true;
    case kClassInt32: store(out, n); return true;
    default: return false;
  }
}

bool from_double(double x, int16_t to, Converted& out) {
  if (std::isnan(x)) return false;
  if (std::isinf(x)) {
    if (to != kClassDigital) return false;
    x = 1.0;
  }
  if (x == 0.0) x = 0.0;   // -0.0 as well: no sign printed
  // The ranges are checked on the double, before it is truncated.
  switch (to) {
    case kClassDigital: store<uint16_t>(out, x != 0.0 ? 1 : 0); return true;
    case kClassInt16:
      if (!(x >= -32768.0 && x <= 32767.0)) return false;
      store(out, static_cast<int16_t>(x));
      return true;
    case kClassString:
      // The kernel formatter has no %g. 14 significant digits, a sign, a
      // point and an exponent take far less than the buffer.
      std::snprintf(out.text, sizeof out.text, "%.14g", x);
      store_text(out);
      return true;
    case kClassInt32:
      if (!(x >= -2147483648.0 && x <= 2147483647.0)) return false;
      store(out, static_cast<int32_t>(x));
      return true;
    default: return false;
  }
}

// A string's first 39 bytes at most, ending at a 0 byte; never more than
// its buffer holds. A string without a buffer gives the empty text.
void take_text(const StringDesc& s, char (&text)[40]) {
  size_t n = 0;
  if (s.buffer != 0) {
    const size_t limit = std::min<size_t>({s.length, s.size, sizeof text - 1});
    const char* from = at<const char>(s.buffer);
    for (; n < limit && from[n] != '\0'; ++n) text[n] = from[n];
  }
  text[n] = '\0';
}

bool from_text(const char* text, int16_t to, Converted& out) {
  switch (to) {
    case kClassDigital: store<uint16_t>(out, text_to_int32(text) != 0 ? 1 : 0); return true;
    case kClassInt16: store(out, static_cast<uint16_t>(text_to_int32(text))); return true;   // its low 16 bits
    case kClassDouble: store(out, std::strtod(text, nullptr)); return true;
    case kClassInt32: store(out, text_to_int32(text)); return true;
    default: return false;
  }
}

}  // namespace

int32_t text_to_int32(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // Magnitudes are gathered in 64 bits and stop growing past the range.
  constexpr int64_t kBeyond = int64_t{INT32_MAX} + 2;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) magnitude = std::min(magnitude * 10 + (*p - '0'), kBeyond);
  const int64_t v = negative ? -magnitude : magnitude;
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

bool kind_suits_class(const TypeEntry& type, int16_t cls) {
  if (!known(cls)) return false;
  const uint16_t usiz = type.usiz;
  const uint16_t ksiz = type.ksiz;
  const uint16_t bytes = kPlainBytes[cls];
  switch (type.stat) {
    case kKindDigital: return cls == kClassDigital && usiz == kDigitalUsiz;
    case kKindString:
      return cls == kClassString && record_usiz(type.stat, usiz) && ksiz == sizeof(StringDesc);
    case kKindPlain:
      return (cls == kClassInt16 || cls == kClassDouble || cls == kClassInt32) && usiz == bytes && ksiz == bytes;
    default: return false;
  }
}

bool convert_value(int16_t from, const TagSite& source, int16_t to, Converted& out) {
  std::memset(&out, 0, sizeof out);
  const uint8_t* value = source.value();
  const int32_t digital = (source.change->change_word & kDigitalBit) != 0 ? 1 : 0;
  if (from == to) {
    if (from == kClassDigital) {
      store(out, static_cast<uint16_t>(digital));
    } else if (from == kClassString) {
      store(out, caller_view(load<StringDesc>(value)));
    } else if (known(from)) {
      std::memcpy(out.element, value, kPlainBytes[from]);
    } else {
      return false;
    }
    return true;
  }
  switch (from) {
    case kClassDigital: return from_integer(digital, to, out);
    case kClassInt16: return from_integer(load<int16_t>(value), to, out);
    case kClassDouble: return from_double(load<double>(value), to, out);
    case kClassString:
      take_text(load<StringDesc>(value), out.text);
      return from_text(out.text, to, out);
    case kClassInt32: return from_integer(load<int32_t>(value), to, out);
    default: return false;
  }
}

}  // namespace rk
