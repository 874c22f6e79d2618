#include "core/client_ids.h"

// Resolves without the ownership rule: any process may read a client's error.
int rk_errno(uint16_t id) {
  const rk::CptEntry* entry = rk::resolve_entry(rk::resolve_app(id), id);
  return entry == nullptr ? -1 : entry->errnum;
}
