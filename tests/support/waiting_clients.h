// Client processes that sleep in rk_wait, for the tests of waking, until
// registration makes clients: slots made live by hand in the attached RTDB.
#pragma once

#include <cstdint>
#include <memory>

#include "core/records.h"
#include "support/kernel_test.h"

namespace rk::test {

// Makes slot id of the attached RTDB a live client of process pid with the
// given priority, its bit in the registered mask, as registration will.
CptEntry& make_live(uint16_t id, uint32_t pid, uint16_t prty = 0);

// A client process attached to the attached RTDB, live in slot id, its
// events open.
std::unique_ptr<Client> start_client(uint16_t id, uint16_t prty = 0);

// Has the client in slot id take the lock and call rk_wait(id, mode), and
// returns once it sleeps there: false when it never did.
bool fall_asleep(Client& client, uint16_t id, int mode);

// Spins, with a bound, until the entry's wait state is `state`: false when
// it never got there.
bool reaches_state(const CptEntry& entry, uint16_t state);

}  // namespace rk::test
