// Clients whose process died. A process that is killed runs no exit trap:
// the first living process that notices does what the trap would have done
// (its clients leave, the lock it held or queued for is handed on, its
// slots are free again). A dead process is told from a later process that
// was given the same process id by the start time kept for each slot.
// Every function here runs with the kernel mutex held.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Notes that the calling process registered in the entry.
void note_registered(Kgd* kgd, CptEntry* entry);

// Forgets the process of an entry whose client leaves.
void forget_start(Kgd* kgd, const CptEntry* entry);

// Whether the process registered in the live entry still runs.
bool client_alive(const Kgd* kgd, const CptEntry* entry);

// Ends every client of the (dead) process registered in the entry.
void reap_process_of(Kgd* kgd, const CptEntry* entry);

// When the client holding the database lock has left without handing it
// on, or its process died, the lock goes on (the clients of a dead process
// all leave). True when it did.
bool pass_lock_of_gone_holder(Kgd* kgd);

// Ends the clients of every process that died, in one active application,
// or in all of them when `only` is null. The number of clients ended.
uint32_t reap_dead_clients(Kgd* kgd, AppBlock* only);

// What is done once the lock of a client whose process died has gone on:
// a write it was inside may have changed tags without waking their waiters.
// Done too when the kernel mutex is taken over from an owner that died in
// it, which may have been inside such a wake. The tag layer sets it; null
// until then. Kernel mutex held.
using GoneHolderHook = void (*)(Kgd* kgd);
void set_gone_holder_hook(GoneHolderHook hook);
void after_gone_holder(Kgd* kgd);

}  // namespace rk
