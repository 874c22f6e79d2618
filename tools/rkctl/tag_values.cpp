#include "tools/rkctl/tag_values.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/rkctl/failure.h"

namespace rkctl {

namespace {

enum : uint16_t { kPlain = 0, kDigital = 1, kString = 2, kMailbox = 3 };
enum : uint16_t { kInt16 = 1, kDouble = 2, kInt32 = 4 };

constexpr size_t kTextRoom = 65535;   // the largest text a string tag can hold

template <class T>
T load(const uint8_t* p) {
  T v;
  memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void store(uint8_t* p, T v) {
  memcpy(p, &v, sizeof v);
}

std::string hex(const uint8_t* p, size_t n) {
  std::string s = "0x";
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

std::string format_double(double d) {
  char b[40];
  snprintf(b, sizeof b, "%.10g", d);
  return b;
}

// The class decides only where it fits the value size.
uint16_t plain_class(const TypeInfo& t) {
  if (t.type_class == kInt16 && t.usiz == 2) return kInt16;
  if (t.type_class == kInt32 && t.usiz == 4) return kInt32;
  if (t.type_class == kDouble && t.usiz == 8) return kDouble;
  return 0xFFFF;
}

long long integer(const std::string& tag, const std::string& v, long long lo, long long hi) {
  char* end = nullptr;
  errno = 0;
  const long long n = strtoll(v.c_str(), &end, 0);
  if (v.empty() || *end != '\0' || errno != 0 || n < lo || n > hi) {
    throw Failure("rkctl: " + tag + ": \"" + v + "\" is no integer in " + std::to_string(lo) + ".." +
                  std::to_string(hi));
  }
  return n;
}

}  // namespace

size_t element_size(const TypeInfo& t) {
  switch (t.stat) {
    case kDigital: return sizeof(uint16_t);
    case kString: return sizeof(rk_string_desc);
    case kMailbox: return sizeof(rk_message_record);
    default: return t.usiz;
  }
}

namespace {

// The length of the UTF-8 sequence at p (at most `left` bytes), or 0 when
// it is not one: no overlong forms, no surrogates, nothing past U+10FFFF.
size_t utf8_length(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  size_t n = 0;
  uint32_t code = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, code = c & 0x07;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = code << 6 | (p[i] & 0x3F);
  }
  if ((n == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) || (n == 4 && (code < 0x10000 || code > 0x10FFFF))) {
    return 0;
  }
  return n;
}

}  // namespace

std::string printable(const char* data, size_t length) {
  std::string s;
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  for (size_t i = 0; i < length;) {
    const unsigned char c = p[i];
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      s += static_cast<char>(c);
      ++i;
    } else if (const size_t n = c >= 0x80 ? utf8_length(p + i, length - i) : 0) {
      s.append(data + i, n);
      i += n;
    } else {
      char b[5];
      snprintf(b, sizeof b, "\\x%02x", c);
      s += b;
      ++i;
    }
  }
  return s;
}

std::string hex_bytes(const char* data, size_t length) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < length; ++i) {
    snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(data[i]));
    s += b;
  }
  return s;
}

std::string value_text(const TypeInfo& t, const uint8_t* p, bool raw) {
  switch (t.stat) {
    case kDigital: return load<uint16_t>(p) != 0 ? "1" : "0";
    case kString: {
      const auto d = load<rk_string_desc>(p);
      if (d.buffer == nullptr) return "";
      const size_t n = std::min(d.length, d.size);
      return raw ? hex_bytes(d.buffer, n) : printable(d.buffer, n);
    }
    case kMailbox: {
      const auto m = load<rk_message_record>(p);
      if (m.data == nullptr) return "(message of " + std::to_string(m.length) + " bytes)";
      return raw ? hex_bytes(static_cast<const char*>(m.data), m.length)
                 : printable(static_cast<const char*>(m.data), m.length);
    }
    default:
      switch (plain_class(t)) {
        case kInt16: return std::to_string(load<int16_t>(p));
        case kInt32: return std::to_string(load<int32_t>(p));
        case kDouble: return format_double(load<double>(p));
        default: return hex(p, t.usiz);
      }
  }
}

nlohmann::json value_json(const TypeInfo& t, const uint8_t* p, bool raw) {
  switch (t.stat) {
    case kDigital: return load<uint16_t>(p) != 0 ? 1 : 0;
    case kString: {
      // The text itself: the JSON writer replaces what is not UTF-8.
      const auto d = load<rk_string_desc>(p);
      if (d.buffer == nullptr) return "";
      const size_t n = std::min(d.length, d.size);
      return raw ? hex_bytes(d.buffer, n) : std::string(d.buffer, n);
    }
    case kMailbox: return value_text(t, p, raw);
    default:
      switch (plain_class(t)) {
        case kInt16: return load<int16_t>(p);
        case kInt32: return load<int32_t>(p);
        case kDouble: {
          const double d = load<double>(p);
          return std::isfinite(d) ? nlohmann::json(d) : nlohmann::json(format_double(d));
        }
        default: return hex(p, t.usiz);
      }
  }
}

PackedValues::PackedValues(const std::vector<NamedTag>& tags, bool text_room) : tags_(tags) {
  size_t at = 0;
  for (const NamedTag& t : tags) {
    offsets_.push_back(at);
    at += element_size(t.type);
  }
  bytes_.assign(at, 0);
  texts_.resize(tags.size());
  for (size_t i = 0; i < tags.size() && text_room; ++i) {
    if (tags[i].type.stat != kString) continue;
    texts_[i] = std::make_unique<std::vector<char>>(kTextRoom, '\0');
    rk_string_desc d{texts_[i]->data(), static_cast<uint16_t>(kTextRoom), 0};
    store(&bytes_[offsets_[i]], d);
  }
}

void PackedValues::set(size_t i, const std::string& v) {
  const NamedTag& tag = tags_[i];
  const TypeInfo& t = tag.type;
  uint8_t* p = &bytes_[offsets_[i]];
  switch (t.stat) {
    case kDigital:
      if (v != "0" && v != "1") throw Failure("rkctl: " + tag.name + ": a digital value is 0 or 1");
      store<uint16_t>(p, v == "1" ? 1 : 0);
      return;
    case kString:
    case kMailbox: {
      if (v.size() > kTextRoom) throw Failure("rkctl: " + tag.name + ": text too long");
      texts_[i] = std::make_unique<std::vector<char>>(v.begin(), v.end());
      char* address = v.empty() ? nullptr : texts_[i]->data();
      const auto n = static_cast<uint16_t>(v.size());
      if (t.stat == kString) {
        store(p, rk_string_desc{address, n, n});
      } else {
        rk_message_record m;
        memset(&m, 0, sizeof m);
        m.data = address;
        m.size = n;
        m.length = n;
        store(p, m);
      }
      return;
    }
    default:
      break;
  }
  switch (plain_class(t)) {
    case kInt16: store<int16_t>(p, static_cast<int16_t>(integer(tag.name, v, -32768, 32767))); return;
    case kInt32:
      store<int32_t>(p, static_cast<int32_t>(integer(tag.name, v, INT32_MIN, INT32_MAX)));
      return;
    case kDouble: {
      char* end = nullptr;
      const double d = strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !std::isfinite(d)) {
        throw Failure("rkctl: " + tag.name + ": \"" + v + "\" is no finite number");
      }
      store<double>(p, d);
      return;
    }
    default: {
      // Raw bytes: 0x and up to two hex digits per byte of the value.
      const bool prefixed = v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0;
      const std::string digits = prefixed ? v.substr(2) : "";
      if (!prefixed || digits.empty() || digits.size() % 2 != 0 || digits.size() / 2 > t.usiz ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw Failure("rkctl: " + tag.name + ": raw values are written as 0x and at most " +
                      std::to_string(t.usiz) + " bytes in hex");
      }
      memset(p, 0, t.usiz);
      for (size_t b = 0; b < digits.size() / 2; ++b) {
        p[b] = static_cast<uint8_t>(strtoul(digits.substr(2 * b, 2).c_str(), nullptr, 16));
      }
    }
  }
}

}  // namespace rkctl
