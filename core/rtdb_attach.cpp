// Attaching to RTDBs and leaving them.
#include <cstring>

#include "core/errors.h"
#include "core/name_rules.h"
#include "core/rtdb.h"
#include "core/attachment.h"
#include "platform/handles.h"
#include "core/kernel_objects.h"
#include "core/kgd_segment.h"
#include "rk.h"

namespace rk {

void attach_kgd(Kgd* kgd) { attachment().kgd = kgd; }

// The client events a creator made; row 0 of the event-handle table may
// since hold the handles of a client registered in that slot.
void close_created_events() {
  Attachment& att = attachment();
  for (os::Handle h : att.created_events) os::close_handle(h);
  att.created_events.clear();
}

void detach_rtdb() {
  Attachment& att = attachment();
  if (att.kgd == nullptr) return;
  close_created_events();
  close_mutexes();
  unmap_all(att.kgd);
  att = Attachment{};
}

void forget_rtdb() {
  Attachment& att = attachment();
  close_created_events();
  close_mutexes();
  // The views stay mapped, but their table goes: a later attachment starts
  // from an empty one and cannot mistake them for its own segments.
  delete[] att.views;
  att = Attachment{};
}

bool rtdb_name_is(const Kgd* kgd, const char* name) {
  return field_equals(kgd->name, sizeof kgd->name, name);
}

}  // namespace rk

using namespace rk;

extern "C" {

// A null index pointer is refused with -7.
RK_API int rk_map_nextkgd(int* index) {
  if (index == nullptr) return -kErrRange;
  if (attachment().kgd != nullptr) return -kErrInUse;
  for (int i = *index < -1 ? 0 : *index + 1; i >= 0 && i < kMaxKgds; ++i) {
    Kgd* kgd = open_kgd(static_cast<uint32_t>(i));
    if (kgd == nullptr) continue;
    attach_kgd(kgd);
    open_mutexes(kgd);
    *index = i;
    return 0;
  }
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
  if (Kgd* kgd = attachment().kgd) __atomic_or_fetch(&kgd->flags, *flags, __ATOMIC_SEQ_CST);
  return 0;
}

RK_API int rk_reinit(void) {
  if (Kgd* kgd = attachment().kgd) __atomic_store_n(&kgd->state, 0, __ATOMIC_SEQ_CST);
  return 0;
}

}  // extern "C"
