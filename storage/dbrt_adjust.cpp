// Raising tag counts and adding types while clients run.
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "storage/dbrt_build.h"
#include "rk.h"

using namespace rk;

extern "C" RK_API int rk_dbrt_adjust(rk_client_id id, rk_type_entry* table, uint32_t count) {
  CptEntry* e = resolve_entry(resolve_app(id), id);
  if (e == nullptr) return -1;
  // No tag operation runs while arrays move.
  if (int r = rk_lock(id); r != 0) return r;
  int result = 0;
  if (int code = dbrt_build(attachment().kgd, table, count); code != 0) {
    e->errnum = static_cast<int16_t>(code);
    result = -1;
  }
  rk_unlock(id);
  return result;
}
