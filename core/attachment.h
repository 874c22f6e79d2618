// What one process holds of the RTDB it is attached to. Never shared: the
// handles and views here are meaningful only in this process.
#pragma once

#include <cstdint>
#include <vector>

#include "core/records.h"
#include "platform/handles.h"

namespace rk {

struct SegmentView {
  os::Handle handle;
  void* view;
  bool created;   // this process made the segment, so the handle in its table entry is ours
};

enum KernelMutex { kKernelMutex, kKeyMutex, kSecondMutex, kMutexCount };

struct Attachment {
  Kgd* kgd = nullptr;               // null while no RTDB is attached
  os::Handle kgd_handle = 0;
  SegmentView* views = nullptr;     // one pair per segment table entry; pair 0 unused
  uint32_t nviews = 0;
  os::Handle mutexes[kMutexCount] = {};
  bool created_kgd = false;                // this process created the attached RTDB
  std::vector<os::Handle> created_events;  // the client events it made for it
};

// This process's attachment.
Attachment& attachment();

// The RTDB name of a kgd as a NUL-terminated text (the field has no room
// for a terminator when all 16 bytes are used).
struct RtdbName {
  char text[17];
  explicit RtdbName(const Kgd* kgd);
};

}  // namespace rk
