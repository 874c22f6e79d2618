#include "core/kgd_segment.h"

#include <cerrno>
#include <cstring>

#include "core/attachment.h"
#include "core/kgd_check.h"
#include "core/rtdb_names.h"
#include "platform/address_window.h"
#include "platform/console.h"
#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/process_info.h"

namespace rk {

namespace {

// A kgd that nobody else holds belongs to an RTDB whose processes are all
// gone (or to a creation that has only just made the name, which finds its
// kgd removed and starts again): its names go, the kgd's own last, while
// the caller holds it alone. Another user's kgd is left alone unless its
// creator shared it with everybody.
void remove_dead_rtdb(os::Handle h, uint32_t index) {
  const uint32_t size = os::mapping_size(h);
  const auto* kgd = static_cast<const Kgd*>(os::map_view(h, 0));
  if (kgd == nullptr) return;
  if (os::mapping_linked(h) && (os::mapping_is_own(h) || (kgd->flags & kFlagEveryone) != 0)) {
    remove_rtdb_objects(kgd, size, index);
  }
  os::unmap_view(const_cast<Kgd*>(kgd));
}

// Holds the kgd behind h for this process. False when the RTDB is dead (and
// now removed), being removed, or its name was removed meanwhile.
bool hold_kgd(os::Handle h, uint32_t index) {
  if (os::mapping_hold_alone(h)) {
    remove_dead_rtdb(h, index);
    return false;
  }
  return os::mapping_hold(h) && os::mapping_linked(h);
}

// Makes the kgd name of `index` with the caller holding it, or 0: EEXIST
// when the name is in use (by a live RTDB, or another user's object).
os::Handle make_kgd(uint32_t index, uint32_t size, bool everyone) {
  char name[kObjectNameBytes];
  kgd_name(name, index);
  for (int attempt = 0; attempt < 3; ++attempt) {
    os::Handle h = os::mapping_create(name, size, everyone);
    if (h == 0 && os::last_error() == EEXIST) {
      // A dead RTDB gives its index up as it is found.
      os::Handle old = os::mapping_open(name, os::Owner::Anyone);
      const bool dead = old != 0 && os::mapping_hold_alone(old);
      if (dead) remove_dead_rtdb(old, index);
      if (old != 0) os::close_handle(old);
      if (dead || old == 0) continue;
      os::set_last_error(EEXIST);
      return 0;
    }
    if (h == 0) return 0;
    // Held at once; a prober that took it for dead in between removed it.
    if (os::mapping_hold(h) && os::mapping_linked(h)) return h;
    os::close_handle(h);
  }
  os::set_last_error(EEXIST);
  return 0;
}

// Opens, holds and maps the kgd of `index` at `place`.
Kgd* map_kgd_at(uint32_t index, KgdPlace& place, KgdRefusal* why) {
  if (index >= kMaxKgds) return nullptr;
  char name[kObjectNameBytes];
  kgd_name(name, index);
  const os::Handle h = os::mapping_open(name, os::Owner::Anyone);
  if (h == 0) return nullptr;
  const uint32_t size = os::mapping_size(h);
  Kgd* kgd = nullptr;
  if (size >= sizeof(Kgd) && hold_kgd(h, index) && place.reserve(size, why)) kgd = place.map(h, why);
  if (kgd == nullptr) {
    os::close_handle(h);
    return nullptr;
  }
  attachment().kgd_handle = h;
  return kgd;
}

}  // namespace

Kgd* create_kgd(uint32_t size, uint16_t flags, os::Handle* handle) {
  KgdRefusal why;
  KgdPlace place;
  // Refused before any name is made: nothing is left to remove.
  if (!place.reserve(size, &why)) {
    console_write("KER: Shared memory mapping failed\n");
    why.report();
    return nullptr;
  }
  for (uint32_t index = 0; index < kMaxKgds; ++index) {
    os::Handle h = make_kgd(index, size, (flags & kFlagEveryone) != 0);
    if (h == 0) {
      // Another RTDB, or another user's object, has this index.
      if (os::last_error() == EEXIST) continue;
      console_write("KER: Shared memory create failed\n");
      place.give_up();
      return nullptr;
    }
    auto* kgd = place.map(h, &why);
    if (kgd == nullptr) {
      console_write("KER: Shared memory mapping failed\n");
      why.report();
      char name[kObjectNameBytes];
      kgd_name(name, index);
      os::object_remove(name);
      os::close_handle(h);
      return nullptr;
    }
    // A new mapping is all zero already.
    kgd->index = index;
    kgd->creator_pid = os::process_id();
    kgd->next_free = addr_of(kgd) + size;
    *handle = h;
    return kgd;
  }
  console_write("KER: Too many applications running\n");
  place.give_up();
  return nullptr;
}

Kgd* map_kgd(uint32_t index, KgdRefusal* why) {
  KgdRefusal unreported;
  KgdPlace place;
  return map_kgd_at(index, place, why != nullptr ? why : &unreported);
}

Kgd* open_kgd(uint32_t index, KgdRefusal* why) {
  KgdRefusal unreported;
  KgdRefusal* told = why != nullptr ? why : &unreported;
  KgdPlace place;
  Kgd* kgd = map_kgd_at(index, place, told);
  if (kgd == nullptr) return nullptr;
  const os::Handle h = attachment().kgd_handle;
  if (kgd_trusted(kgd, os::mapping_size(h), index, os::mapping_is_own(h))) return kgd;
  // One made by another kernel is told of; its layout is written last, so
  // 0 is one still being made.
  if (memcmp(kgd->magic, "RKK", 4) == 0 && kgd->layout != 0 && kgd->layout != kKgdLayout) {
    told->other_layout(index, kgd->layout);
  }
  os::unmap_view(kgd);
  place.give_up();
  os::close_handle(h);
  attachment().kgd_handle = 0;
  return nullptr;
}

bool remove_if_last(const Kgd* kgd) {
  const os::Handle h = attachment().kgd_handle;
  if (h == 0 || kgd == nullptr) return false;
  if (!os::mapping_hold_alone(h)) {
    os::mapping_hold(h);
    return false;
  }
  // A deleted RTDB has no names left, and its index may be another's now.
  if (os::mapping_linked(h)) remove_rtdb_objects(kgd, os::mapping_size(h), kgd->index);
  return true;
}

void unmap_all(Kgd* kgd) {
  Attachment& att = attachment();
  // Only the process that attached holds the kgd; a forked child shares
  // its parent's hold and must not decide for it.
  if (att.pid == os::process_id()) remove_if_last(kgd);
  if (att.views != nullptr) {
    for (uint32_t i = 1; i < att.nviews; ++i) {
      SegmentView& v = att.views[i];
      if (v.view != nullptr) os::unmap_view(v.view);
      if (v.handle != 0) os::close_handle(v.handle);
      v = SegmentView{};
    }
    delete[] att.views;
    att.views = nullptr;
    att.nviews = 0;
  }
  if (kgd != nullptr) os::unmap_view(kgd);
  os::address_window_release();
  if (att.kgd_handle != 0) {
    os::close_handle(att.kgd_handle);
    att.kgd_handle = 0;
  }
}

}  // namespace rk
