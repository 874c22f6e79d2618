// What one process holds of the RTDB it is attached to. Never shared: the
// handles and views here are meaningful only in this process.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "platform/handles.h"

namespace rk {

struct SegmentView {
  os::Handle handle;
  void* view;
  bool created;   // this process made the segment, so the handle in its table entry is ours
  uint32_t bytes; // what the view covers here, whatever the table entry says later
};

enum KernelMutex { kKernelMutex, kKeyMutex, kSecondMutex, kMutexCount };

// Plain data, so that it is still there for whatever runs as the process
// ends; the tables it points to are freed when the process detaches.
struct Attachment {
  Kgd* kgd = nullptr;               // null while no RTDB is attached
  os::Handle kgd_handle = 0;        // held shared while attached: the RTDB is in use
  uint32_t pid = 0;                 // the process that attached (a forked child did not)
  SegmentView* views = nullptr;     // one pair per segment table entry; pair 0 unused
  uint32_t nviews = 0;
  uint32_t mapped = 1;              // segments 0 .. mapped-1 are all mapped here
  os::Handle mutexes[kMutexCount] = {};
  bool created_kgd = false;         // this process created the attached RTDB
  os::Handle* created_events = nullptr;  // the client events it made for it, one per slot
  os::Handle* events = nullptr;     // every client event, opened here on first use
  uint32_t nevents = 0;             // applications x 31, for both tables
};

extern Attachment g_attachment;

// This process's attachment.
inline Attachment& attachment() { return g_attachment; }

// Whose objects of the RTDB an open accepts: the caller's user's only,
// unless its creator shares it with everybody.
inline os::Owner object_owner(const Kgd* kgd) {
  return (kgd->flags & kFlagEveryone) != 0 ? os::Owner::Anyone : os::Owner::Self;
}

// The RTDB name of a kgd as a NUL-terminated text (the field has no room
// for a terminator when all 16 bytes are used).
struct RtdbName {
  char text[17];
  explicit RtdbName(const Kgd* kgd);
};

}  // namespace rk
