// Clients find each other by name: a task name within one application
// becomes a client id, and a client id gives back its slot's name.
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/name_rules.h"
#include "rk.h"

using namespace rk;

namespace {

// The id of the slot named `name` in the application that find_app gives
// under the kernel mutex, registered or not. The id may be stale by the
// time the caller uses it.
template <typename FindApp>
int16_t id_by_name(rk_client_id id, const char* name, FindApp find_app) {
  if (name == nullptr) return -1;
  AppBlock* own = resolve_app(id);
  CptEntry* e = resolve_owned(own, id);
  if (e == nullptr || kmutex_take(id) != 0) return -1;
  const Kgd* kgd = attachment().kgd;
  const AppBlock* app = find_app(own);
  const int32_t slot = slot_in_app(app, name);
  kmutex_give(id);
  if (app == nullptr || slot < 0) {
    e->errnum = app == nullptr ? kErrNoApp : kErrNotRegistered;
    return -1;
  }
  const uint32_t a = static_cast<uint32_t>(app - app_block(kgd, 0));
  return static_cast<int16_t>(a << 8 | static_cast<uint32_t>(slot));
}

}  // namespace

extern "C" {

RK_API int16_t rk_name_to_id(rk_client_id id, const char* name) {
  return id_by_name(id, name, [](const AppBlock* own) { return own; });
}

RK_API int16_t rk_name_to_id_ex(rk_client_id id, const char* kusr_name, const char* inst_name, const char* name) {
  return id_by_name(id, name, [&](const AppBlock*) { return app_by_names(kusr_name, inst_name); });
}

// Any slot of a running application has a name to give, a free one the
// empty name; no caller is resolved, so a failure stores no error number
// unless the slot has a live client to store it in.
RK_API int rk_id_to_name(rk_client_id id, char* buffer) {
  AppBlock* app = resolve_app(id);
  if (app == nullptr || slot_of(id) >= kSlots) return -1;
  if (buffer == nullptr) {
    if (CptEntry* e = resolve_entry(app, id)) e->errnum = kErrNullArg;
    return -1;
  }
  // Under the mutex no registration is half-way through writing the name.
  if (kmutex_take(kSelf) != 0) return -1;
  const CptEntry& slot = app->cpt[slot_of(id)];
  const size_t length = strnlen(slot.name, sizeof slot.name - 1);
  memcpy(buffer, slot.name, length);
  buffer[length] = '\0';
  kmutex_give(kSelf);
  return 0;
}

}  // extern "C"
