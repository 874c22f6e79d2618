#include "tags/string_value.h"

#include <algorithm>
#include <cstring>

#include "core/attachment.h"
#include "core/crash_point.h"
#include "core/intent_record.h"
#include "storage/segment_space.h"

namespace rk {

namespace {

// Either kind of descriptor as this process reaches it.
struct Text {
  uint8_t* bytes;
  uint16_t size;
  uint16_t length;
};

Text view(const StringDesc& d) { return Text{d.buffer != 0 ? at<uint8_t>(d.buffer) : nullptr, d.size, d.length}; }
Text view(const rk_string_desc& d) { return Text{reinterpret_cast<uint8_t*>(d.buffer), d.size, d.length}; }

bool has_content(const Text& s) { return s.bytes != nullptr && s.size != 0 && s.length != 0; }

// Bytes of text a descriptor holds: its length, but never past its buffer.
uint16_t text_bytes(const Text& s) { return std::min(s.length, s.size); }

int differs(const Text& d, const Text& s) {
  if (!has_content(s)) return has_content(d) ? 1 : 0;
  if (!has_content(d)) return 1;
  const uint16_t n = text_bytes(s);
  if (text_bytes(d) != n) return 1;
  return std::memcmp(d.bytes, s.bytes, n) != 0 ? 1 : 0;
}

// A source without content: the destination's length becomes 0 and its
// buffer, if it has one, starts with a 0 byte.
int empty_out(Text& d) {
  const int result = d.length != 0 ? kStringChanged : kStringSame;
  d.length = 0;
  if (d.bytes != nullptr && d.size != 0) d.bytes[0] = 0;
  return result;
}

// The text of s into d, which has a buffer.
int copy_into(Text& d, const Text& s) {
  int result = kStringSame;
  if (differs(d, s)) {
    const uint16_t n = std::min(text_bytes(s), d.size);
    // A caller may hand the tag its own buffer back.
    std::memmove(d.bytes, s.bytes, n);
    d.length = n;
    result = kStringChanged;
  }
  if (d.length < d.size) d.bytes[d.length] = 0;
  return result;
}

}  // namespace

int string_differs(const StringDesc* cell, const rk_string_desc* caller) {
  return differs(view(*cell), view(*caller));
}

int string_assign(StringDesc* cell, const rk_string_desc* caller, bool may_allocate) {
  const Text s = view(*caller);
  // The text, its length and a buffer reserved for it change together.
  Update update(attachment().kgd, kDataIntent);
  if (has_content(s) && (cell->buffer == 0 || cell->size == 0)) {
    if (!may_allocate) return kStringNoBuffer;
    if (seg_reserve_string(cell, s.size) != 0) return kStringNoMemory;
  }
  Text d = view(*cell);
  // What the copy can overwrite: the text and the byte that ends it.
  if (d.bytes != nullptr && d.size != 0) {
    const uint32_t written = has_content(s) ? std::min<uint32_t>(text_bytes(s) + 1u, d.size) : 1u;
    intent_keep_bytes(d.bytes, written);
  }
  RK_CRASH_POINT("string.kept");
  const int result = has_content(s) ? copy_into(d, s) : empty_out(d);
  RK_CRASH_POINT("string.copied");
  RK_LOGGED(cell, length, d.length);
  return result;
}

int string_assign(rk_string_desc* caller, const StringDesc* cell) {
  const Text s = view(*cell);
  Text d = view(*caller);
  if (has_content(s) && (d.bytes == nullptr || d.size == 0)) return kStringNoBuffer;
  const int result = has_content(s) ? copy_into(d, s) : empty_out(d);
  caller->length = d.length;
  return result;
}

}  // namespace rk
