#include "core/kgd_segment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/attachment.h"
#include "platform/console.h"
#include "platform/format.h"
#include "core/kernel_objects.h"
#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/named_object.h"
#include "platform/process_info.h"

namespace rk {

namespace {

void kgd_name(char* buf, uint32_t index) { kfmt(buf, "RKNT_RK000%03d", index); }

// A kgd that nobody holds any more belonged to a crashed run: the objects of
// that RTDB go with it, so crashed runs never pile up.
void reclaim_leftover_rtdb(const void* bytes, uint32_t size) {
  if (size < sizeof(Kgd)) return;
  RtdbName name(static_cast<const Kgd*>(bytes));
  if (name.text[0] == '\0') return;
  char prefix[32];
  kfmt(prefix, "%s_", name.text);
  os::remove_leftovers(prefix);
}

}  // namespace

uint32_t kgd_base_address() {
  const char* text = os::env_var("RKDLLBASE");
  unsigned long base = 0;
  if (text == nullptr || sscanf(text, "%lx", &base) != 1 || base == 0) return kDefaultBase;
  return static_cast<uint32_t>(base);
}

Kgd* create_kgd(uint32_t size, uint16_t flags, os::Handle* handle) {
  char name[32];
  os::Handle h = 0;
  for (uint32_t index = 0; index < kMaxKgds && h == 0; ++index) {
    kgd_name(name, index);
    os::Handle existing = os::mapping_open(name, reclaim_leftover_rtdb);
    if (existing != 0) {
      os::close_handle(existing);
      continue;
    }
    // A name that exists but does not open for us is taken as well.
    if (os::last_error() != ENOENT) continue;
    h = os::mapping_create(name, size, wants_everyone(flags));
    // Another process may have taken this index since we looked: move on.
    if (h == 0 && os::last_error() != EEXIST) {
      console_write("KER: Shared memory create failed\n");
      return nullptr;
    }
    if (h != 0) {
      const uint32_t base = kgd_base_address();
      auto* kgd = static_cast<Kgd*>(os::map_view(h, base));
      if (kgd == nullptr) {
        console_write("KER: Shared memory mapping failed\n");
        os::close_handle(h);
        return nullptr;
      }
      // A new mapping is all zero already.
      kgd->index = index;
      kgd->creator_pid = os::process_id();
      kgd->next_free = base + size;
      *handle = h;
      return kgd;
    }
  }
  console_write("KER: Too many applications running\n");
  return nullptr;
}

Kgd* open_kgd(uint32_t index) {
  if (index >= kMaxKgds) return nullptr;
  char name[32];
  kgd_name(name, index);
  os::Handle h = os::mapping_open(name, reclaim_leftover_rtdb);
  if (h == 0) return nullptr;
  if (os::mapping_size(h) < sizeof(Kgd)) {
    os::close_handle(h);
    return nullptr;
  }
  auto* kgd = static_cast<Kgd*>(os::map_view(h, kgd_base_address()));
  if (kgd == nullptr) {
    os::close_handle(h);
    return nullptr;
  }
  attachment().kgd_handle = h;
  return kgd;
}

void unmap_all(Kgd* kgd) {
  Attachment& att = attachment();
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
  if (att.kgd_handle != 0) {
    os::close_handle(att.kgd_handle);
    att.kgd_handle = 0;
  }
}

}  // namespace rk
