#include "core/kgd_address.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/address_window.h"
#include "platform/console.h"
#include "platform/format.h"
#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/process_info.h"

namespace rk {

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

bool blank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// "0x<first>-0x<last>" for the bytes [base, base + size); the last byte may
// lie past 4 GiB.
void format_range(char* buf, size_t cap, uint32_t base, uint32_t size) {
  const uint64_t last = uint64_t{base} + (size != 0 ? size : 1) - 1;
  const auto low = static_cast<uint32_t>(last);
  if (last >> 32 != 0) {
    kfmt_n(buf, cap, "0x%08x-0x%x%08x", base, static_cast<uint32_t>(last >> 32), low);
  } else {
    kfmt_n(buf, cap, "0x%08x-0x%08x", base, low);
  }
}

}  // namespace

uint32_t parse_kgd_base(const char* text) {
  if (text == nullptr) return kDefaultBase;
  while (blank(*text)) ++text;
  if (*text == '\0') return kDefaultBase;
  // strtoull would take a sign and wrap a negative number round.
  if (!isxdigit(static_cast<unsigned char>(*text))) return 0;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = strtoull(text, &end, 16);
  if (errno != 0) return 0;
  while (blank(*end)) ++end;
  if (*end != '\0') return 0;
  if (value == 0) return kDefaultBase;
  if (value >= kFourGiB || value % os::page_size() != 0) return 0;
  return static_cast<uint32_t>(value);
}

void KgdRefusal::bad_base(const char* text) {
  // The text as the user gave it, cut so that the line stays one line.
  char shown[33];
  size_t n = 0;
  for (; text != nullptr && text[n] != '\0' && n + 1 < sizeof shown; ++n) {
    shown[n] = isprint(static_cast<unsigned char>(text[n])) ? text[n] : '?';
  }
  shown[n] = '\0';
  kfmt_n(line_, sizeof line_ - 1, "KER: RKDLLBASE=%s is not a page-aligned address below 4 GiB", shown);
  strcat(line_, "\n");
}

void KgdRefusal::no_room(uint32_t base, uint32_t size) {
  char range[40];
  format_range(range, sizeof range, base, size);
  kfmt_n(line_, sizeof line_ - 1, "KER: address range %s does not lie below 4 GiB", range);
  strcat(line_, "\n");
}

void KgdRefusal::not_free(uint32_t base, uint32_t size) {
  char range[40];
  format_range(range, sizeof range, base, size);
  kfmt_n(line_, sizeof line_ - 1, "KER: address range %s is not free in this process", range);
  strcat(line_, "\n");
}

void KgdRefusal::other_layout(uint32_t index, uint32_t layout) {
  kfmt_n(line_, sizeof line_ - 1, "KER: RTDB %u has layout %u, this kernel reads layout %u only", index, layout,
         kKgdLayout);
  strcat(line_, "\n");
}

void KgdRefusal::report() const {
  if (any()) console_write(line_);
}

bool KgdPlace::reserve(uint32_t size, KgdRefusal* why) {
  const char* text = os::env_var("RKDLLBASE");
  base_ = parse_kgd_base(text);
  size_ = size;
  if (base_ == 0) {
    why->bad_base(text);
    return false;
  }
  if (uint64_t{base_} + size > kFourGiB) {
    why->no_room(base_, size);
    return false;
  }
  if (!os::address_window_reserve(base_, size, &made_window_)) {
    why->not_free(base_, size);
    return false;
  }
  return true;
}

Kgd* KgdPlace::map(os::Handle h, KgdRefusal* why) {
  auto* kgd = static_cast<Kgd*>(os::map_view(h, base_));
  if (kgd != nullptr) return kgd;
  if (os::last_error() == EEXIST) why->not_free(base_, size_);
  give_up();
  return nullptr;
}

void KgdPlace::give_up() {
  if (made_window_) os::address_window_release();
  made_window_ = false;
}

}  // namespace rk
