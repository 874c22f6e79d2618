#include "core/list_blocks.h"

#include "core/client_ids.h"
#include "core/db_lock.h"
#include "core/intent_record.h"
#include "core/kernel_mutex.h"
#include "core/segments.h"
#include "platform/clock.h"
#include "storage/kernel_memory.h"

namespace rk {

ListBlock detach_list(CptEntry* e) {
  ListBlock block;
  block.held = e->list_count != 0;
  block.handle = e->list_handle;
  RK_LOGGED(e, list_count, 0);
  RK_LOGGED(e, list_handle, 0);
  return block;
}

bool free_list_if_unlocked(Kgd* kgd, const ListBlock& block) {
  if (!block.held) return true;
  if (kgd->lock_holder != 0) return false;
  // A process that has only just attached maps the segments at its first
  // grant of the lock: the block's may not be mapped here yet.
  if (!map_new_segments(nullptr)) return false;
  // Nobody holds the lock, and nobody takes it while this process holds
  // the kernel mutex: the data's record is this process's to write.
  Update update(kgd, kDataIntent);
  mem_free(kgd, block.handle);
  return true;
}

void free_lists_when_unlocked(Kgd* kgd, ListBlock* blocks, uint32_t count) {
  constexpr int kLooks = 1000;
  bool any = false;
  for (uint32_t i = 0; i < count; ++i) any = any || blocks[i].held;
  if (!any) return;
  for (int look = 0; look < kLooks; ++look) {
    if (kmutex_take(kSelf) != 0) return;
    bool left = false;
    for (uint32_t i = 0; i < count; ++i) {
      if (free_list_if_unlocked(kgd, blocks[i])) {
        blocks[i].held = false;
      } else {
        left = true;
      }
    }
    kmutex_give(kSelf);
    if (!left) return;
    os::sleep_ms(1);
  }
}

void free_list_as(Kgd* kgd, CptEntry* e, uint16_t id, const ListBlock& block) {
  if (!block.held) return;
  // A new client starts with its own error number, not this lock's: a lock
  // that fails only loses the block to the pools.
  const int16_t before = e->errnum;
  if (db_lock(kgd, e, id) == 0) {
    Update update(kgd, kDataIntent);
    mem_free(kgd, block.handle);
    db_unlock(kgd, e, id);
  }
  e->errnum = before;
}

}  // namespace rk
