#include "core/kernel_objects.h"

#include "core/attachment.h"
#include "platform/format.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"

namespace rk {

namespace {

const char* const kMutexNames[kMutexCount] = {"%s_CRIT_%02d", "%s_SEM_KEY_%02d", "%s_SEM_CRIT_%02d"};

void mutex_name(char* buf, const Kgd* kgd, int which) {
  kfmt(buf, kMutexNames[which], RtdbName(kgd).text, kgd->index);
}

}  // namespace

void client_event_name(char* buf, const Kgd* kgd, uint32_t app, uint32_t slot) {
  kfmt(buf, "%s_%02d_%02d_%02d", RtdbName(kgd).text, kgd->index, app, slot);
}

bool create_kernel_objects(Kgd* kgd) {
  const bool everyone = wants_everyone(kgd->flags);
  uint32_t* row = event_row(kgd, 0);
  const uint32_t events = kgd->napps * kSlots;
  char name[64];
  bool ok = true;
  uint32_t made = 0;
  for (; made < events && ok; ++made) {
    client_event_name(name, kgd, made / kSlots, made % kSlots);
    row[made] = os::event_create(name, everyone);
    ok = row[made] != 0;
  }
  Attachment& att = attachment();
  for (int m = 0; m < kMutexCount && ok; ++m) {
    mutex_name(name, kgd, m);
    att.mutexes[m] = os::mutex_create(name, everyone);
    ok = att.mutexes[m] != 0;
  }
  if (!ok) {
    for (uint32_t i = 0; i < made; ++i) {
      if (row[i] != 0) os::close_handle(row[i]);
      row[i] = 0;
    }
    close_mutexes();
  }
  return ok;
}

void open_mutexes(const Kgd* kgd) {
  Attachment& att = attachment();
  char name[64];
  for (int m = 0; m < kMutexCount; ++m) {
    if (att.mutexes[m] != 0) continue;
    mutex_name(name, kgd, m);
    att.mutexes[m] = os::mutex_open(name);
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
