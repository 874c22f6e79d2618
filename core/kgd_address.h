// Where segment 0 of an RTDB lies in a process: at the address that
// RKDLLBASE gives, the same in every process of the RTDB, with the address
// window above it kept for the RTDB's segments (a 64-bit process). A process
// that cannot put a kgd there is refused with one kernel message that says
// why; the kgd is never mapped anywhere else instead.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "platform/handles.h"

namespace rk {

constexpr uint32_t kDefaultBase = 0x20800000;

// RKDLLBASE's text as a kgd address: one hexadecimal number, with or
// without 0x, blanks around it allowed; absent, blank or 0 gives the
// default. 0 when the text is refused: anything else, or a value that is
// not a page-aligned address below 4 GiB (a value is never cut to 32 bits,
// so that every target reads the same text alike).
uint32_t parse_kgd_base(const char* text);

// Why a kgd could not be put at this process's RKDLLBASE address: one
// kernel message, written by the call that gives up.
class KgdRefusal {
 public:
  void bad_base(const char* text);            // RKDLLBASE itself is refused
  void no_room(uint32_t base, uint32_t size);   // the kgd would reach past 4 GiB
  void not_free(uint32_t base, uint32_t size);  // something of this process lies there
  void other_layout(uint32_t index, uint32_t layout);   // made by a kernel of another layout
  bool any() const { return line_[0] != '\0'; }
  // Writes the message, if there is one.
  void report() const;

 private:
  char line_[128] = {};
};

// The place of a kgd of one size in this process. A place that reserved
// the address window keeps it for the kgd mapped there, or releases it as
// it is given up.
class KgdPlace {
 public:
  // Reads RKDLLBASE, checks that `size` bytes from there lie below 4 GiB
  // and reserves the address window for them. False when refused.
  bool reserve(uint32_t size, KgdRefusal* why);
  // Maps the kgd behind h at the reserved place; null on failure, with the
  // place given up.
  Kgd* map(os::Handle h, KgdRefusal* why);
  // Releases the address window if this place reserved it.
  void give_up();

 private:
  uint32_t base_ = 0;
  uint32_t size_ = 0;
  bool made_window_ = false;
};

}  // namespace rk
