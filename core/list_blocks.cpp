#include "core/list_blocks.h"

#include "core/client_ids.h"
#include "core/crash_point.h"
#include "core/db_lock.h"
#include "core/intent_record.h"
#include "core/kernel_mutex.h"
#include "core/segments.h"
#include "platform/clock.h"
#include "storage/kernel_memory.h"

namespace rk {

namespace {

// The slot's word that marks its list as left behind (reserved in the
// public record, which templates leave zero).
constexpr uint16_t kListLeft = 1;

// Detaches and frees the list the slot left behind, as one update: a
// process killed in between is undone, and the list is the slot's again.
// Nobody else holds the database lock, kernel mutex held.
void free_left_list(Kgd* kgd, CptEntry* e) {
  Update update(kgd, kDataIntent);
  const ListBlock block = detach_list(e);
  RK_CRASH_POINT("list.left.detached");
  if (block.held) mem_free(kgd, block.handle);
}

}  // namespace

bool list_left(const CptEntry* e) { return e->reserved640 == kListLeft; }

void leave_list(CptEntry* e) {
  if (e->list_count != 0) RK_LOGGED(e, reserved640, kListLeft);
}

ListBlock detach_list(CptEntry* e) {
  ListBlock block;
  block.held = e->list_count != 0;
  block.handle = e->list_handle;
  RK_LOGGED(e, list_count, 0);
  RK_LOGGED(e, list_handle, 0);
  RK_LOGGED(e, reserved640, 0);
  return block;
}

bool free_left_list_if_unlocked(Kgd* kgd, CptEntry* e) {
  if (!list_left(e)) return true;
  if (kgd->lock_holder != 0) return false;
  // A process that has only just attached maps the segments at its first
  // grant of the lock: the block's may not be mapped here yet.
  if (!map_new_segments(nullptr)) return false;
  // Nobody holds the lock, and nobody takes it while this process holds
  // the kernel mutex: the data's record is this process's to write.
  free_left_list(kgd, e);
  return true;
}

void free_left_list_as(Kgd* kgd, CptEntry* e, uint16_t id) {
  if (!list_left(e)) return;
  RK_CRASH_POINT("list.left.waiting");
  // A new client starts with its own error number, not this lock's: a lock
  // that fails leaves the list in the slot for the next one.
  const int16_t before = e->errnum;
  if (db_lock(kgd, e, id) == 0) {
    // Another client may have set this one's list meanwhile, and freed the
    // one left behind with its own.
    if (kmutex_take(id) == 0) {
      if (list_left(e)) free_left_list(kgd, e);
      kmutex_give(id);
    }
    db_unlock(kgd, e, id);
  }
  e->errnum = before;
}

void free_left_lists_when_unlocked(Kgd* kgd, AppBlock* app) {
  constexpr int kLooks = 1000;
  for (int look = 0; look < kLooks; ++look) {
    if (kmutex_take(kSelf) != 0) return;
    bool left = false;
    for (uint32_t s = 0; s < kSlots; ++s) left = !free_left_list_if_unlocked(kgd, &app->cpt[s]) || left;
    kmutex_give(kSelf);
    if (!left) return;
    os::sleep_ms(1);
  }
}

}  // namespace rk
