// Attaching to RTDBs and leaving them.
#include <cstring>

#include "core/attachment.h"
#include "core/errors.h"
#include "core/kernel_objects.h"
#include "core/kgd_segment.h"
#include "core/kgd_words.h"
#include "core/lock_word.h"
#include "core/name_rules.h"
#include "core/rtdb.h"
#include "platform/address_window.h"
#include "platform/handles.h"
#include "platform/mapping.h"
#include "platform/process_info.h"
#include "platform/user_emulation.h"
#include "rk.h"

namespace rk {

void attach_kgd(Kgd* kgd) {
  Attachment& att = attachment();
  att.kgd = kgd;
  att.pid = os::process_id();
  // See kmutex_give: under an emulator the lock goes only through the
  // kernel mutex, from the first take on.
  if (os::under_user_emulation()) mark_lock_slow(kgd);
}

namespace {

// The client events this process made as the creator and those it opened
// by name, which the rows of its clients hold as well.
void close_process_events() {
  Attachment& att = attachment();
  for (uint32_t i = 0; i < att.nevents; ++i) {
    if (att.created_events != nullptr && att.created_events[i] != 0) os::close_handle(att.created_events[i]);
    if (att.events != nullptr && att.events[i] != 0) os::close_handle(att.events[i]);
  }
  delete[] att.created_events;
  delete[] att.events;
  att.created_events = att.events = nullptr;
  att.nevents = 0;
}

}  // namespace

void detach_rtdb() {
  Attachment& att = attachment();
  if (att.kgd == nullptr) return;
  close_process_events();
  close_mutexes();
  unmap_all(att.kgd);
  att = Attachment{};
}

void forget_rtdb() {
  Attachment& att = attachment();
  close_process_events();
  close_mutexes();
  // The views stay mapped, but their table goes: a later attachment starts
  // from an empty one and cannot mistake them for its own segments. The
  // RTDB is no longer held, and the rest of its address window is the
  // process's again.
  delete[] att.views;
  os::address_window_release();
  if (att.kgd_handle != 0) {
    os::mapping_let_go(att.kgd_handle);
    os::close_handle(att.kgd_handle);
  }
  att = Attachment{};
}

bool rtdb_name_is(const Kgd* kgd, const char* name) {
  return field_equals(kgd->name, sizeof kgd->name, name);
}

}  // namespace rk

using namespace rk;

extern "C" {

// A null index pointer is refused with -7. An RTDB passed over because its
// kgd has no place in this process is told of, once a call.
RK_API int rk_map_nextkgd(int* index) {
  if (index == nullptr) return -kErrRange;
  if (attachment().kgd != nullptr) return -kErrInUse;
  KgdRefusal why;
  // Wide enough that one past the largest index does not overflow.
  for (int64_t i = *index < -1 ? 0 : static_cast<int64_t>(*index) + 1; i < kMaxKgds; ++i) {
    Kgd* kgd = open_kgd(static_cast<uint32_t>(i), &why);
    if (kgd == nullptr) continue;
    why.report();
    attach_kgd(kgd);
    open_mutexes(kgd);
    *index = static_cast<int>(i);
    return 0;
  }
  why.report();
  *index = kMaxKgds;
  return -kErrNoMoreRtdb;
}

RK_API int rk_map_firstkgd(int* index) {
  if (index == nullptr) return -kErrRange;
  if (attachment().kgd != nullptr) return -kErrInUse;
  *index = -1;
  return rk_map_nextkgd(index);
}

RK_API int rk_unmap_kgd(void) {
  detach_rtdb();
  return 0;
}

RK_API int rk_init(uint16_t* flags) {
  if (flags == nullptr) return -kErrRange;
  if (Kgd* kgd = attachment().kgd) __atomic_or_fetch(flags_word(kgd), *flags, __ATOMIC_SEQ_CST);
  return 0;
}

RK_API int rk_reinit(void) {
  if (Kgd* kgd = attachment().kgd) __atomic_store_n(state_word(kgd), 0, __ATOMIC_SEQ_CST);
  return 0;
}

}  // extern "C"
