#include "core/client_handlers.h"

#include <new>

#include "core/client_ids.h"
#include "core/kgd_check.h"
#include "core/records.h"

namespace rk {

namespace {

// One row per application, made at its first install: most processes
// install none, and a row is 31 slots of 32 functions.
struct AppHandlers {
  rk_attr_handler fn[kSlots][32];
};

AppHandlers* g_rows[kMaxApps];

AppHandlers* row_of(rk_client_id id) {
  const uint32_t app = id >> 8;
  return app < kMaxApps && slot_of(id) < kSlots ? g_rows[app] : nullptr;
}

}  // namespace

rk_attr_handler client_handler(rk_client_id id, uint32_t bit) {
  const AppHandlers* row = row_of(id);
  return row == nullptr || bit >= 32 ? nullptr : row->fn[slot_of(id)][bit];
}

bool make_client_handlers(rk_client_id id) {
  const uint32_t app = id >> 8;
  if (app >= kMaxApps || slot_of(id) >= kSlots) return false;
  if (g_rows[app] == nullptr) g_rows[app] = new (std::nothrow) AppHandlers{};
  return g_rows[app] != nullptr;
}

bool set_client_handler(rk_client_id id, uint32_t bit, rk_attr_handler handler) {
  if (bit >= 32 || !make_client_handlers(id)) return false;
  g_rows[id >> 8]->fn[slot_of(id)][bit] = handler;
  return true;
}

void clear_client_handlers(rk_client_id id) {
  if (AppHandlers* row = row_of(id)) {
    for (rk_attr_handler& f : row->fn[slot_of(id)]) f = nullptr;
  }
}

}  // namespace rk
