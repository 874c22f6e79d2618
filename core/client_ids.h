// Client ids: the application index in the high byte, the slot in the low.
// Every operation that acts for a client first turns the caller's id into its
// application block and Client Process Table entry; an id that does not
// resolve makes the operation fail with -1 and store nothing.
#pragma once

#include <cstdint>

#include "core/attachment.h"
#include "core/kgd_words.h"
#include "core/records.h"
#include "platform/process_info.h"

namespace rk {

// Ids that stand for the calling process rather than a client. The kernel
// mutex takes all three; -2 is never counted as nested. Posting an event
// from -1 posts from the caller's own entry, from -3 opens the target's
// event by name.
constexpr int32_t kSelf = -1;
constexpr int32_t kSelfStrict = -2;
constexpr int32_t kSelfByName = -3;

// The application index of an id: its high byte taken with the sign of the
// 16-bit id, so ids from 0x8000 on give a negative index that names nothing.
inline int32_t app_index(uint16_t id) { return static_cast<int16_t>(id) >> 8; }

inline uint32_t slot_of(uint16_t id) { return id & 255u; }

// True when id names a slot of an existing application of kgd, whatever
// the state of the slot or the application.
inline bool names_slot(const Kgd* kgd, uint16_t id) {
  const int32_t a = app_index(id);
  return a >= 0 && static_cast<uint32_t>(a) < kgd->napps && slot_of(id) < kSlots;
}

inline AppBlock* app_block(const Kgd* kgd, uint32_t a) { return at<AppBlock>(kgd->app_blocks) + a; }

// The entry an id names; check names_slot first.
inline CptEntry* slot_entry(const Kgd* kgd, uint16_t id) {
  return &app_block(kgd, static_cast<uint32_t>(app_index(id)))->cpt[slot_of(id)];
}

// The client id of an entry in kgd's application blocks, or -1 when the
// address is not the start of one.
int32_t client_id_of(const Kgd* kgd, const CptEntry* entry);

// The block of the application an id names: null unless an RTDB is attached
// and valid, and the application exists and is active.
inline AppBlock* resolve_app(uint16_t id) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || !rtdb_ready(kgd)) return nullptr;
  const int32_t a = app_index(id);
  if (a < 0 || static_cast<uint32_t>(a) >= kgd->napps) return nullptr;
  AppBlock* app = app_block(kgd, static_cast<uint32_t>(a));
  return app->active == 1 ? app : nullptr;
}

// The entry of the id's slot in app: null for no block, a slot of 31 or
// more, or a slot without a live client.
inline CptEntry* resolve_entry(AppBlock* app, uint16_t id) {
  if (app == nullptr || slot_of(id) >= kSlots) return nullptr;
  CptEntry* entry = &app->cpt[slot_of(id)];
  // stat is a set of bits: registration leaves the configured bit set, and a
  // live client may carry the termination-seen or lock-revoked bit as well.
  return (entry->stat & kStatLive) != 0 ? entry : nullptr;
}

// As resolve_entry; and when the RTDB accepts client ids only from their
// own process (kFlagOwnerCheck), null unless the caller registered the slot.
inline CptEntry* resolve_owned(AppBlock* app, uint16_t id) {
  CptEntry* entry = resolve_entry(app, id);
  const Kgd* kgd = attachment().kgd;
  if (entry == nullptr || kgd == nullptr) return nullptr;
  // The flags word is a set of bits too: rk_init ORs further ones in.
  if ((kgd->flags & kFlagOwnerCheck) != 0 && entry->pid != os::process_id()) return nullptr;
  return entry;
}

// Ends a call refused after its id resolved: err becomes the client's error
// number and the result is -1.
inline int refuse_call(CptEntry* entry, int16_t err) {
  entry->errnum = err;
  return -1;
}

}  // namespace rk
