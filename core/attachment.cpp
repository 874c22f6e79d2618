#include "core/attachment.h"

#include <cstring>

#include "core/kgd_segment.h"
#include "platform/process_info.h"

namespace rk {

Attachment g_attachment;

RtdbName::RtdbName(const Kgd* kgd) {
  memcpy(text, kgd->name, sizeof kgd->name);
  text[16] = '\0';
}

namespace {

// As the process ends normally, after the program's own exit handlers (a
// client's rk_exit_trap among them): an RTDB that nobody else holds goes
// with this process instead of waiting for the next one to look.
__attribute__((destructor)) void let_go_at_exit() {
  Attachment& att = g_attachment;
  if (att.kgd != nullptr && att.pid == os::process_id()) remove_if_last(att.kgd);
}

}  // namespace

}  // namespace rk
