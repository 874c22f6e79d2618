#include "tags/string_value.h"

#include <algorithm>
#include <cstring>

#include "storage/segment_space.h"

namespace rk {

namespace {

bool has_content(const StringDesc& s) { return s.buffer != 0 && s.size != 0 && s.length != 0; }

// Bytes of text a descriptor holds: its length, but never past its buffer.
uint16_t text_bytes(const StringDesc& s) { return std::min(s.length, s.size); }

}  // namespace

int string_differs(const StringDesc* dp, const StringDesc* sp) {
  const StringDesc d = *dp, s = *sp;
  if (!has_content(s)) return has_content(d) ? 1 : 0;
  if (!has_content(d)) return 1;
  const uint16_t n = text_bytes(s);
  if (text_bytes(d) != n) return 1;
  return std::memcmp(at<uint8_t>(d.buffer), at<uint8_t>(s.buffer), n) != 0 ? 1 : 0;
}

int string_assign(StringDesc* dp, const StringDesc* sp, bool may_allocate) {
  const StringDesc s = *sp;
  if (!has_content(s)) {
    const int result = dp->length != 0 ? kStringChanged : kStringSame;
    dp->length = 0;
    if (dp->buffer != 0 && dp->size != 0) *at<uint8_t>(dp->buffer) = 0;
    return result;
  }
  if (dp->buffer == 0 || dp->size == 0) {
    if (!may_allocate) return kStringNoBuffer;
    if (seg_reserve_string(dp, s.size) != 0) return kStringNoMemory;
  }
  int result = kStringSame;
  if (string_differs(dp, &s)) {
    const uint16_t n = std::min(text_bytes(s), dp->size);
    // A caller may hand the tag its own buffer back.
    std::memmove(at<uint8_t>(dp->buffer), at<uint8_t>(s.buffer), n);
    dp->length = n;
    result = kStringChanged;
  }
  const StringDesc d = *dp;
  if (d.length < d.size) at<uint8_t>(d.buffer)[d.length] = 0;
  return result;
}

}  // namespace rk
