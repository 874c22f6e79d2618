// Waking clients of one's own application by their own bits.
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "tags/wake.h"
#include "rk.h"

using namespace rk;

extern "C" RK_API int rk_wakeup(rk_client_id id, const uint32_t* mask, int mode) {
  AppBlock* app = resolve_app(id);
  CptEntry* e = resolve_owned(app, id);
  if (e == nullptr) return -1;
  if (mask == nullptr || mode < 1 || mode > 3) {
    e->errnum = kErrRange;
    return -1;
  }
  // Modes 1, 2 and 3 stand for the reasons a tag, a mailbox and anything.
  if (wake_clients(attachment().kgd, id, app, *mask, static_cast<uint16_t>(mode + 1)) == 0) {
    e->errnum = kErrNobodyWoken;
    return -1;
  }
  return 0;
}
