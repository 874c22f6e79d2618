// A client's attribute masks: which attribute bits run its handlers on its
// reads and writes, and which attribute changes wake it. Changed under the
// database lock, which the tag engine holds while it reads them.
#include <bit>

#include "core/attachment.h"
#include "core/client_handlers.h"
#include "core/client_ids.h"
#include "core/db_lock.h"
#include "core/errors.h"
#include "platform/process_info.h"
#include "rk.h"

using namespace rk;

namespace {

// A handler is a function of the process that installs it (kept in its
// own memory, core/client_handlers.h) and runs only in the process of the
// slot's client: the two must be the same process, whether or not the RTDB
// lets ids be used by others.
CptEntry* installer(rk_client_id id) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  return e != nullptr && e->pid == os::process_id() ? e : nullptr;
}

enum class Mask { kRead, kWrite };

int set_mask(rk_client_id id, uint32_t count, const uint32_t* bits, const rk_attr_handler* handlers, Mask which) {
  CptEntry* e = installer(id);
  if (e == nullptr) return -1;
  if (bits == nullptr || handlers == nullptr) return refuse_call(e, kErrNullArg);
  // The process's table is made before anything changes.
  if (!make_client_handlers(id)) return refuse_call(e, kErrNoMemory);
  Kgd* kgd = attachment().kgd;
  if (db_lock(kgd, e, id) != 0) return -1;
  bool bit0 = false;
  uint32_t mask = which == Mask::kRead ? e->read_mask : e->write_mask;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t v = bits[i];
    if (v == 0) {
      bit0 = true;
      continue;
    }
    mask |= v;
    const uint32_t n = static_cast<uint32_t>(std::countr_zero(v));
    set_client_handler(id, n, handlers[i]);
    e->handlers[n] = handlers[i] != nullptr ? 1 : 0;
  }
  if (which == Mask::kRead) {
    e->read_mask = mask;
  } else {
    e->write_mask = mask;
  }
  db_unlock(kgd, e, id);   // what the release says changes nothing here
  return bit0 ? refuse_call(e, kErrAttrBit0) : 0;
}

}  // namespace

extern "C" {

RK_API int rk_set_read_mask(rk_client_id id, uint32_t count, const uint32_t* bits, const rk_attr_handler* handlers) {
  return set_mask(id, count, bits, handlers, Mask::kRead);
}

RK_API int rk_set_write_mask(rk_client_id id, uint32_t count, const uint32_t* bits,
                             const rk_attr_handler* handlers) {
  return set_mask(id, count, bits, handlers, Mask::kWrite);
}

RK_API int rk_set_change_mask(rk_client_id id, const uint32_t* mask) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return -1;
  if (mask == nullptr) return refuse_call(e, kErrNullArg);
  Kgd* kgd = attachment().kgd;
  if (db_lock(kgd, e, id) != 0) return -1;
  e->change_mask = *mask;
  db_unlock(kgd, e, id);
  return 0;
}

}  // extern "C"
