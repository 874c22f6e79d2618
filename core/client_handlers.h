// Attribute handlers are functions of the process that installed them, so
// they live in that process's memory, never in shared memory: a table per
// process, keyed by client id. The slot's words in the shared entry only
// say which bits have a handler (1) and which have none (0).
//
// A handler never outlives its client: the table is cleared for an id
// whenever this process registers a client under it, and a handler runs
// only while the slot's registered process is this one, so a later client
// of the slot in another process (or a forked child using the id) never
// reaches it. Installs and calls both run under the database lock.
#pragma once

#include <cstdint>

#include "rk.h"

namespace rk {

// The handler of attribute bit `bit` (0..31) for client `id` in this
// process, null when none is installed.
rk_attr_handler client_handler(rk_client_id id, uint32_t bit);

// Makes the table that holds client `id`'s handlers, if this process has
// none yet; false when it cannot be allocated (or the id names no slot).
bool make_client_handlers(rk_client_id id);

// Installs or replaces it; false when the table cannot be allocated.
bool set_client_handler(rk_client_id id, uint32_t bit, rk_attr_handler handler);

// Forgets every handler of client `id`: a new client takes the slot.
void clear_client_handlers(rk_client_id id);

}  // namespace rk
