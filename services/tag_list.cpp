#include "services/tag_list.h"

#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/db_lock.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/list_blocks.h"
#include "storage/kernel_memory.h"

namespace rk {

bool begin_list_call(TagCall& call, uint16_t id, bool pointers_given) {
  call.kgd = attachment().kgd;
  call.app = resolve_app(id);
  call.entry = resolve_owned(call.app, id);
  call.id = id;
  if (call.entry == nullptr) return false;
  if (!pointers_given) {
    call.entry->errnum = kErrNullArg;
    return false;
  }
  return db_lock(call.kgd, call.entry, id) == 0;
}

int16_t read_own_list(TagCall& call, uint32_t* count, uint32_t* handle) {
  if (kmutex_take(call.id) != 0) return kErrKernelMutex;
  // A list an earlier client of the slot left is not this one's.
  *count = list_left(call.entry) ? 0 : call.entry->list_count;
  *handle = call.entry->list_handle;
  kmutex_give(call.id);
  return 0;
}

int16_t copy_own_list(TagCall& call, std::vector<TagRef>& list) {
  uint32_t count = 0;
  uint32_t handle = 0;
  if (const int16_t err = read_own_list(call, &count, &handle)) return err;
  if (count == 0) return kErrNoTagList;
  Addr payload = 0;
  uint32_t bytes = 0;
  if (mem_access(call.kgd, handle, &payload, &bytes) != 0) return kErrRange;
  // A count the block cannot hold is not read past the block.
  if (bytes / sizeof(TagRef) < count) return kErrRange;
  list.resize(count);
  memcpy(list.data(), at<void>(payload), count * sizeof(TagRef));
  return 0;
}

}  // namespace rk
