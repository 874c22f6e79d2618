// Client events: one auto-reset event per application and slot, the way
// clients wake each other. Each client keeps its process's handles of every
// client event in its row of the event-handle table; a row's handles mean
// something only in the process of that row's client. A process opens each
// event once while it is attached, whatever number of its clients use it.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Opens this process's handle of every client event that it has not
// opened yet. Registration calls it before it takes the kernel mutex, so
// that the system calls are not made while everybody waits.
void open_process_events();

// Fills the entry's row with this process's handle of every client event,
// opening by name those it has not opened yet; an event that does not open
// leaves a null handle there. Does nothing for an entry that is not in the
// attached RTDB.
void open_events(CptEntry* entry);

// Clears the entry's row; the handles stay with the process until it
// detaches. 0, or -1 for no entry.
int close_events(CptEntry* entry);

// Sets (on) or resets (off) the caller's own event through its own row.
// 0, a system error number, or -1 when id names no slot.
int set_own_event(uint16_t id, bool on);

constexpr uint32_t kForever = 0xFFFFFFFFu;

// Waits for the caller's own event and consumes it; gives up after `ms`
// milliseconds (ETIMEDOUT) unless that is kForever. 0, a system error
// number, or -1 when id names no slot.
int wait_own_event(uint16_t id, uint32_t ms = kForever);

// Sets the event of client `to` from client `from`, through from's row
// when that row is the calling process's own (from is a live client of
// this process with a handle there), else through this process's handle of
// the event, opened by name the first time. From kSelf: from the calling
// process's entry, the first over all applications and slots with its
// process id, live or not. From kSelfByName: always by name. 0, a system error number, or -1 when from
// or to names no slot or the caller has no entry.
int post_event(int32_t from, uint16_t to);

}  // namespace rk
