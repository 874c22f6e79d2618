#include "core/rtdb_names.h"

#include <algorithm>

#include "core/attachment.h"
#include "core/kgd_check.h"
#include "platform/format.h"
#include "platform/named_object.h"

namespace rk {

namespace {

const char* const kMutexNames[kMutexCount] = {"%s_CRIT_%02d", "%s_SEM_KEY_%02d", "%s_SEM_CRIT_%02d"};

}  // namespace

void kgd_name(char* buf, uint32_t index) { kfmt(buf, "RKNT_RK000%03d", index); }

void segment_name(char* buf, const Kgd* kgd, uint32_t n) {
  kfmt(buf, "%s_%02d_SEG%02d", RtdbName(kgd).text, kgd->index, n);
}

void mutex_name(char* buf, const Kgd* kgd, int which) {
  kfmt(buf, kMutexNames[which], RtdbName(kgd).text, kgd->index);
}

void client_event_name(char* buf, const Kgd* kgd, uint32_t app, uint32_t slot) {
  kfmt(buf, "%s_%02d_%02d_%02d", RtdbName(kgd).text, kgd->index, app, slot);
}

void remove_rtdb_objects(const Kgd* kgd, uint32_t size, uint32_t index) {
  char name[kObjectNameBytes];
  if (size >= sizeof(Kgd) && RtdbName(kgd).text[0] != '\0' && kgd->index == index) {
    // The segment table lies in segment 0 behind the kgd: its entries bound
    // the segment numbers. A segment is made before it is counted, so the
    // first number not counted may have a name too.
    const uint32_t table_room = (size - sizeof(Kgd)) / sizeof(SegEntry);
    const uint32_t maxsegs = kgd->maxsegs, nsegs = kgd->nsegs, napps = kgd->napps;
    const uint32_t capacity = std::min(maxsegs, table_room);
    const uint32_t last = capacity == 0 ? 0 : std::min(nsegs, capacity - 1);
    for (uint32_t n = 1; n <= last; ++n) {
      segment_name(name, kgd, n);
      os::object_remove(name);
    }
    for (int m = 0; m < kMutexCount; ++m) {
      mutex_name(name, kgd, m);
      os::object_remove(name);
    }
    const uint32_t apps = std::min(napps, kMaxApps);
    for (uint32_t a = 0; a < apps; ++a) {
      for (uint32_t s = 0; s < kSlots; ++s) {
        client_event_name(name, kgd, a, s);
        os::object_remove(name);
      }
    }
  }
  kgd_name(name, index);
  os::object_remove(name);
}

}  // namespace rk
