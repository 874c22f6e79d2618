// Installing a client's tag list. The setter names the owner in its own
// application; the new block is the setter's allocation, the old one is
// freed once the new list is in place, and the owner is told with the
// tag-list signal.
#include <cstring>

#include "core/client_ids.h"
#include "core/crash_point.h"
#include "core/errors.h"
#include "core/intent_record.h"
#include "core/kernel_mutex.h"
#include "core/list_blocks.h"
#include "core/name_rules.h"
#include "rk.h"
#include "services/signal_post.h"
#include "services/tag_list.h"
#include "storage/kernel_memory.h"

using namespace rk;

namespace {

// The id of the live client called `name` in the caller's application. 0,
// or 13 (no slot of that name), 5 (nobody lives there: such a slot is
// reached by no id, so it gets no list), 45.
int16_t find_owner(TagCall& call, const char* name, uint16_t* owner) {
  if (kmutex_take(call.id) != 0) return kErrKernelMutex;
  const int32_t slot = slot_in_app(call.app, name);
  int16_t err = 0;
  if (slot < 0) {
    err = kErrNoClient;
  } else {
    *owner = static_cast<uint16_t>((call.id & 0xFF00u) | static_cast<uint32_t>(slot));
    if (resolve_entry(call.app, *owner) == nullptr) err = kErrNotRegistered;
  }
  kmutex_give(call.id);
  return err;
}

// A block holding the new list, or an error: 2 for a list of 64 KiB or
// more, else the allocation's (7 beyond the largest block, 2, 1).
int16_t make_block(TagCall& call, const TagRef* tags, uint32_t count, ListBlock* block) {
  if (tags == nullptr) return kErrNullArg;
  const uint64_t bytes = uint64_t{count} * sizeof(TagRef);
  if (bytes >= kTagListLimitBytes) return kErrNoMemory;
  uint32_t handle = 0;
  if (const int err = mem_alloc(call.kgd, static_cast<uint32_t>(bytes), &handle)) return static_cast<int16_t>(err);
  Addr payload = 0;
  if (const int err = mem_access(call.kgd, handle, &payload, nullptr)) {
    mem_free(call.kgd, handle);
    return static_cast<int16_t>(err);
  }
  memcpy(at<void>(payload), tags, static_cast<size_t>(bytes));
  block->handle = handle;
  block->held = true;
  return 0;
}

// Puts the new list in the owner's entry and gives back the old one. The
// owner is checked again: it may have left since it was looked up. 0, or
// 45, 5. Database lock held.
int16_t swap_lists(TagCall& call, uint16_t owner, uint32_t count, const ListBlock& fresh, ListBlock* old) {
  if (kmutex_take(call.id) != 0) return kErrKernelMutex;
  CptEntry* target = resolve_entry(call.app, owner);
  if (target != nullptr) {
    *old = detach_list(target);
    RK_CRASH_POINT("list.detached");
    RK_LOGGED(target, list_handle, fresh.held ? fresh.handle : 0);
    RK_LOGGED(target, list_count, fresh.held ? count : 0);
  }
  kmutex_give(call.id);
  return target != nullptr ? 0 : kErrNotRegistered;
}

int16_t set_list(TagCall& call, const char* name, const TagRef* tags, uint32_t count) {
  uint16_t owner = 0;
  if (const int16_t err = find_owner(call, name, &owner)) return err;
  // One update from the new block to the old one given back: whenever the
  // setter dies, the owner has its old list or the new one, and no block
  // is left that no list names.
  Update update(call.kgd, kDataIntent);
  ListBlock fresh;
  if (count > 0) {
    if (const int16_t err = make_block(call, tags, count, &fresh)) return err;
  }
  ListBlock old;
  if (const int16_t err = swap_lists(call, owner, count, fresh, &old)) {
    // Nobody got the new block: it goes back at once.
    if (fresh.held) mem_free(call.kgd, fresh.handle);
    return err;
  }
  // A side effect only: an owner that holds signal 2 gets its list unwoken.
  post_signal_to_id(call.id, owner, kSigTagList);
  RK_CRASH_POINT("list.swapped");
  if (old.held && mem_free(call.kgd, old.handle) != 0) return kErrRange;
  return 0;
}

}  // namespace

extern "C" {

RK_API int rk_set_tag_list(rk_client_id id, const char* name, const rk_tag_ref* tags, uint32_t count) {
  TagCall call;
  if (!begin_list_call(call, id, name != nullptr)) return -1;
  call.error = set_list(call, name, tags, count);
  return finish_tag_call(call);
}

}  // extern "C"
