// Consistency check of every mailbox of an RTDB: each message queue, in
// every application (a shared type's once), through msg_queue_check. Reads
// only; message blocks are reached through kernel memory, so the pools
// must have passed pool_check first.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when every mailbox is sound: its queue passes msg_queue_check (counts,
// links and byte totals) and an owned mailbox's owner names a slot of the
// RTDB. Otherwise "mailbox TAG app A: " (a shared type's as "mailbox TAG:
// ") and the first fault found. Arrays that tag_arrays refuses are passed
// over: layout_check reports them.
std::string mailbox_check(const Kgd* kgd);

}  // namespace rk
