// Waking a client of one's own application by its name.
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "tags/wake.h"
#include "rk.h"

using namespace rk;

extern "C" RK_API int rk_wakeup_proc(rk_client_id id, const char* name, int mode) {
  AppBlock* app = resolve_app(id);
  CptEntry* e = resolve_owned(app, id);
  if (e == nullptr) return -1;
  const int16_t found = rk_name_to_id(id, name);
  if (found < 0) {
    e->errnum = kErrNoClient;
    return -1;
  }
  if (mode < 1 || mode > 3) {
    e->errnum = kErrRange;
    return -1;
  }
  // Modes 1, 2 and 3 stand for the reasons a tag, a mailbox and anything.
  const uint32_t bit = 1u << slot_of(static_cast<uint16_t>(found));
  if (wake_clients(attachment().kgd, id, app, bit, static_cast<uint16_t>(mode + 1)) == 0) {
    e->errnum = kErrNobodyWoken;
    return -1;
  }
  return 0;
}
