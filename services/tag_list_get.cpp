// Reading a client's own tag list back.
#include <cstring>

#include "core/errors.h"
#include "rk.h"
#include "services/tag_list.h"
#include "storage/kernel_memory.h"

using namespace rk;

namespace {

// The count goes out whatever follows, so a caller with too small a
// buffer learns how much it needs.
int16_t get_list(TagCall& call, rk_tag_ref* buffer, uint32_t capacity, uint32_t* count_out) {
  uint32_t count = 0;
  uint32_t handle = 0;
  if (const int16_t err = read_own_list(call, &count, &handle)) return err;
  *count_out = count;
  if (count == 0) return kErrNoTagList;
  if (buffer == nullptr) return kErrNullArg;
  if (capacity < count) return kErrNoMemory;
  Addr payload = 0;
  uint32_t bytes = 0;
  if (mem_access(call.kgd, handle, &payload, &bytes) != 0 || bytes / sizeof(TagRef) < count) return kErrRange;
  memcpy(buffer, at<void>(payload), count * sizeof(TagRef));
  return 0;
}

}  // namespace

extern "C" {

RK_API int rk_get_tag_list(rk_client_id id, rk_tag_ref* buffer, uint32_t capacity, uint32_t* count_out) {
  TagCall call;
  if (!begin_list_call(call, id, count_out != nullptr)) return -1;
  call.error = get_list(call, buffer, capacity, count_out);
  return finish_tag_call(call);
}

}  // extern "C"
