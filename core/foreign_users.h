// Processes that use a client id another process registered: a forked
// child that takes its parent's database lock, or queues for it, under the
// parent's id. Liveness is judged by the process that holds or waits, so
// such a process is recorded in the kgd while it does, and when it dies
// what it held or waited for is given up while the registered process
// lives on. Every function here runs with the kernel mutex held.
#pragma once

#include "core/records.h"
#include "platform/process_info.h"

namespace rk {

// Whether the calling process is not the one registered in the entry.
inline bool used_by_other_process(const CptEntry* e) { return e->pid != os::process_id(); }

// Records that the calling process uses the entry's id. Nothing when the
// table is full: the registered process's death then releases the lock.
void note_foreign_user(Kgd* kgd, const CptEntry* entry);

// Forgets the calling process's record for the entry.
void forget_foreign_user(Kgd* kgd, const CptEntry* entry);

// The record of a process that uses the entry's id, or null.
const ForeignUser* foreign_user_of(const Kgd* kgd, const CptEntry* entry);

// Gives up what recorded processes that died held: the lock they held goes
// on, their entries leave the queue, their records are freed. True when the
// lock went on.
bool release_dead_foreign_users(Kgd* kgd);

}  // namespace rk
