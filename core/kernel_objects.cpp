#include "core/kernel_objects.h"

#include <cerrno>

#include "core/attachment.h"
#include "core/rtdb_names.h"
#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"

namespace rk {

bool remove_own_leftover(const char* name) {
  if (os::last_error() != EEXIST) return false;
  const os::Handle h = os::mapping_open(name, os::Owner::Self);
  if (h == 0) return false;
  os::close_handle(h);
  return os::object_remove(name);
}

bool create_kernel_objects(Kgd* kgd) {
  const bool everyone = wants_everyone(kgd->flags);
  Unaligned<uint32_t>* row = event_row(kgd, 0);
  const uint32_t events = kgd->napps * kSlots;
  char name[kObjectNameBytes];
  bool ok = true;
  uint32_t made = 0;
  for (; made < events && ok; ++made) {
    client_event_name(name, kgd, made / kSlots, made % kSlots);
    row[made] = create_replacing(name, [&] { return os::event_create(name, everyone); });
    ok = row[made] != 0;
  }
  Attachment& att = attachment();
  for (int m = 0; m < kMutexCount && ok; ++m) {
    mutex_name(name, kgd, m);
    att.mutexes[m] = create_replacing(name, [&] { return os::mutex_create(name, everyone); });
    ok = att.mutexes[m] != 0;
  }
  if (!ok) {
    for (uint32_t i = 0; i < made; ++i) {
      if (row[i] == 0) continue;
      os::close_handle(row[i]);
      row[i] = 0;
      client_event_name(name, kgd, i / kSlots, i % kSlots);
      os::object_remove(name);
    }
    for (int m = 0; m < kMutexCount; ++m) {
      mutex_name(name, kgd, m);
      if (att.mutexes[m] != 0) os::object_remove(name);
    }
    close_mutexes();
  }
  return ok;
}

void open_mutexes(const Kgd* kgd) {
  Attachment& att = attachment();
  char name[kObjectNameBytes];
  for (int m = 0; m < kMutexCount; ++m) {
    if (att.mutexes[m] != 0) continue;
    mutex_name(name, kgd, m);
    att.mutexes[m] = os::mutex_open(name, object_owner(kgd));
  }
}

void close_mutexes() {
  Attachment& att = attachment();
  for (os::Handle& h : att.mutexes) {
    if (h != 0) os::close_handle(h);
    h = 0;
  }
}

}  // namespace rk
