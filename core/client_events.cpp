#include "core/client_events.h"

#include <cerrno>
#include <mutex>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/name_rules.h"
#include "core/rtdb_names.h"
#include "platform/last_error.h"
#include "platform/named_event.h"
#include "platform/process_info.h"

namespace rk {

namespace {

// Guards this process's table of events opened by name.
std::mutex g_events_mutex;

// The attached RTDB when it has an event-handle table.
const Kgd* events_kgd() {
  const Kgd* kgd = attachment().kgd;
  return kgd != nullptr && kgd->event_table != 0 ? kgd : nullptr;
}

uint32_t column_of(uint16_t id) { return static_cast<uint32_t>(app_index(id)) * kSlots + slot_of(id); }

// The cell of row `from`, column `to`; null unless both name a slot.
Unaligned<uint32_t>* event_cell(const Kgd* kgd, uint16_t from, uint16_t to) {
  if (kgd == nullptr || !names_slot(kgd, from) || !names_slot(kgd, to)) return nullptr;
  return event_row(kgd, from) + column_of(to);
}

// The row of an entry, with its number of cells; null when it has none.
Unaligned<uint32_t>* row_of(const Kgd* kgd, const CptEntry* entry, uint32_t* cells) {
  const int32_t id = kgd == nullptr || entry == nullptr ? -1 : client_id_of(kgd, entry);
  if (id < 0) return nullptr;
  *cells = kgd->napps * kSlots;
  return event_row(kgd, static_cast<uint16_t>(id));
}

// The client id of the first entry registered for the calling process, or -1.
int32_t own_client_id(const Kgd* kgd) {
  const CptEntry* e = entry_by_pid(os::process_id());
  return e == nullptr ? -1 : client_id_of(kgd, e);
}

// This process's handle of the event in `column`, opened by name the first
// time it is asked for and kept while the process stays attached: a post by
// name then costs no system call beyond the set, and no descriptor at all.
// 0 when the event cannot be opened (the reason is the last error).
os::Handle process_event(const Kgd* kgd, uint32_t column) {
  Attachment& att = attachment();
  std::lock_guard<std::mutex> g(g_events_mutex);
  const uint32_t columns = kgd->napps * kSlots;
  if (att.events == nullptr) {
    att.events = new os::Handle[columns]();
    if (att.created_events == nullptr) att.nevents = columns;
  }
  if (column >= att.nevents) {
    os::set_last_error(EINVAL);
    return 0;
  }
  if (att.events[column] == 0) {
    char name[kObjectNameBytes];
    client_event_name(name, kgd, column / kSlots, column % kSlots);
    att.events[column] = os::event_open(name, object_owner(kgd));
  }
  return att.events[column];
}

int post_by_name(const Kgd* kgd, uint16_t to) {
  if (!names_slot(kgd, to)) return -1;
  const os::Handle h = process_event(kgd, column_of(to));
  return h == 0 ? os::last_error() : os::event_set(h);
}

}  // namespace

void open_process_events() {
  const Kgd* kgd = events_kgd();
  if (kgd == nullptr) return;
  for (uint32_t c = 0; c < kgd->napps * kSlots; ++c) process_event(kgd, c);
}

void open_events(CptEntry* entry) {
  const Kgd* kgd = events_kgd();
  uint32_t cells = 0;
  Unaligned<uint32_t>* row = row_of(kgd, entry, &cells);
  if (row == nullptr) return;
  // The handles belong to the process's attachment, not to the row: a
  // client that registers again, after it left or after its application
  // was started anew, reuses them instead of making more.
  for (uint32_t c = 0; c < cells; ++c) row[c] = process_event(kgd, c);
}

int close_events(CptEntry* entry) {
  uint32_t cells = 0;
  Unaligned<uint32_t>* row = row_of(events_kgd(), entry, &cells);
  if (row == nullptr) return -1;
  for (uint32_t c = 0; c < cells; ++c) row[c] = 0;
  return 0;
}

int set_own_event(uint16_t id, bool on) {
  const Unaligned<uint32_t>* cell = event_cell(events_kgd(), id, id);
  if (cell == nullptr) return -1;
  return on ? os::event_set(*cell) : os::event_reset(*cell);
}

int wait_own_event(uint16_t id, uint32_t ms) {
  const Unaligned<uint32_t>* cell = event_cell(events_kgd(), id, id);
  if (cell == nullptr) return -1;
  return ms == kForever ? os::event_wait(*cell) : os::event_wait_for(*cell, ms);
}

int post_event(int32_t from, uint16_t to) {
  const Kgd* kgd = events_kgd();
  if (kgd == nullptr) return -1;
  if (from == kSelfByName) return post_by_name(kgd, to);
  if (from == kSelf) from = own_client_id(kgd);
  if (from < 0 || from > 0xFFFF) return -1;
  const Unaligned<uint32_t>* cell = event_cell(kgd, static_cast<uint16_t>(from), to);
  if (cell == nullptr) return -1;
  // A row's handles are numbers of its own client's process: from any other
  // process, or from a slot whose client has gone, they could name another
  // client's event or none. The post must still arrive, so it goes by name.
  const CptEntry* giver = slot_entry(kgd, static_cast<uint16_t>(from));
  if ((giver->stat & kStatLive) == 0 || giver->pid != os::process_id() || *cell == 0) return post_by_name(kgd, to);
  return os::event_set(*cell);
}

}  // namespace rk
