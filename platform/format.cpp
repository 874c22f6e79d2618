#include "platform/format.h"

#include <cstdint>
#include <cstring>

namespace rk {
namespace {

// Output cursor. It stores at most cap - 1 characters so the NUL always fits;
// the unbounded entry points pass SIZE_MAX.
struct Out {
  char* buf;
  std::size_t cap;
  std::size_t n = 0;

  bool full() const { return n + 1 >= cap; }
  void put(char c) {
    if (!full()) buf[n++] = c;
  }
  // Kernel texts end their lines with CR LF wherever the line feed came from.
  void put_text(char c) {
    if (c == '\n') put('\r');
    put(c);
  }
  void pad(char c, std::size_t count) {
    for (; count > 0 && !full(); --count) put(c);
  }
};

// Writes the digits of v in base 8, 10 or 16 (lower case) backwards so they
// end just before end; returns where they start.
char* digits(char* end, uint32_t v, unsigned base) {
  char* p = end;
  do {
    *--p = "0123456789abcdef"[v % base];
    v /= base;
  } while (v != 0);
  return p;
}

int format(char* buf, std::size_t cap, const char* fmt, va_list ap) {
  Out out{buf, cap};
  const char* p = fmt;
  while (*p != '\0') {
    const char c = *p++;
    if (c != '%') {
      out.put_text(c);
      continue;
    }
    if (*p == '%') {
      out.put('%');
      ++p;
      continue;
    }

    const bool left = *p == '-';
    if (left) ++p;
    const bool zero = *p == '0';
    if (zero) ++p;
    std::size_t width = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      // Saturate instead of overflowing; such a width fills any buffer anyway.
      if (width < 100000000) width = width * 10 + static_cast<std::size_t>(*p - '0');
    }
    if (*p == 'l') ++p;  // every integer is 32 bits, so l changes nothing
    const char conv = *p;
    if (conv == '\0') break;  // the format ends inside a conversion: so does the text
    ++p;

    char scratch[12];  // 11 octal digits of 0xFFFFFFFF, or a sign and 10 decimal ones
    char* const end = scratch + sizeof scratch;
    const char* text = nullptr;
    bool is_string = false;
    switch (conv) {
      case 'd': {
        const int32_t v = va_arg(ap, int32_t);
        // Negate in unsigned arithmetic so INT32_MIN has a magnitude too.
        char* s = digits(end, v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v), 10);
        if (v < 0) *--s = '-';
        text = s;
        break;
      }
      case 'u':
        text = digits(end, va_arg(ap, uint32_t), 10);
        break;
      case 'o':
        text = digits(end, va_arg(ap, uint32_t), 8);
        break;
      case 'x':
      case 'X': {
        char* s = digits(end, va_arg(ap, uint32_t), 16);
        // The pad is a blank or 0, so upper-casing the digits upper-cases the field.
        if (conv == 'X')
          for (char* q = s; q != end; ++q)
            if (*q >= 'a' && *q <= 'f') *q = static_cast<char>(*q - 'a' + 'A');
        text = s;
        break;
      }
      case 'c':
        *(end - 1) = static_cast<char>(va_arg(ap, int) & 0xFF);
        text = end - 1;
        break;
      case 's':
        text = va_arg(ap, const char*);
        if (text == nullptr) text = "";  // a missing name prints as nothing rather than faulting
        is_string = true;
        break;
      default:
        out.put_text(conv);  // not a conversion: plain text, no argument taken
        continue;
    }

    // The width counts the converted characters, before any CR is added.
    const std::size_t len = is_string ? std::strlen(text) : static_cast<std::size_t>(end - text);
    const std::size_t fill = width > len ? width - len : 0;
    const char pad = zero ? '0' : ' ';
    if (!left) out.pad(pad, fill);
    for (std::size_t i = 0; i < len && !out.full(); ++i) {
      if (is_string)
        out.put_text(text[i]);
      else
        out.put(text[i]);
    }
    if (left) out.pad(pad, fill);
  }
  if (cap > 0) buf[out.n] = '\0';
  return static_cast<int>(out.n);
}

}  // namespace

int kvfmt(char* buf, const char* fmt, va_list ap) {
  return format(buf, SIZE_MAX, fmt, ap);
}

int kfmt(char* buf, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = format(buf, SIZE_MAX, fmt, ap);
  va_end(ap);
  return n;
}

int kvfmt_n(char* buf, std::size_t cap, const char* fmt, va_list ap) {
  return format(buf, cap, fmt, ap);
}

int kfmt_n(char* buf, std::size_t cap, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = format(buf, cap, fmt, ap);
  va_end(ap);
  return n;
}

}  // namespace rk
