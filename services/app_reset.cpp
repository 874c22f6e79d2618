// Application memory reset: the tag data of one application back to its
// initial state without rebuilding the RTDB. Values the application owns
// alone are zeroed (strings emptied in their buffers, mailboxes emptied with
// their messages' memory given back) and its change entries cleared; values
// shared by all applications stay.
//
// Each type is reset under one hold of the database lock of the caller's
// client, so a reader may see some types reset and others not yet, but an
// array that rk_dbrt_adjust moves meanwhile is never written in its old,
// freed place. Without a live client to take the lock for, only plain,
// digital and string values are zeroed, without it, as their format allows;
// mailboxes and change entries are left as they are. Nobody is woken; a
// waiter's mark simply goes.
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/db_lock.h"
#include "core/segments.h"
#include "storage/msg_queue.h"
#include "tags/tag_walk.h"
#include "rk.h"

using namespace rk;

namespace {

// Looks type t up in app for a reset: false for an unused type slot and for
// a type whose arrays are not placed in this application (a count alone
// places nothing), and false when this process cannot map a segment the
// arrays may lie in (then *unmapped is set). The pair is read first: an
// array is placed only in a segment that is counted already, so mapping
// every counted segment afterwards covers it, even in a process that never
// held the database lock, whose grant would have mapped them.
bool arrays_here(const Kgd* kgd, const AppBlock* app, uint16_t t, TypeRun* run, bool* unmapped) {
  *run = TypeRun{};
  if (!run->select(kgd, app, t) || run->max == 0) return false;
  if (map_new_segments(nullptr)) return true;
  *unmapped = true;
  return false;
}

TagSite site_at(const TypeRun& run, uint16_t i) { return site_of(run, TagRef{static_cast<uint16_t>(run.type), i}); }

// Zeroes the plain, digital or string values of a per-application type,
// with their attribute words. A string keeps its buffer and its size. A
// string buffer is reserved in a segment that was counted before its
// address was stored, so it is mapped here before it is filled.
bool clear_values(const TypeRun& run) {
  for (uint16_t i = 0; i < run.max; ++i) {
    const TagSite site = site_at(run, i);
    site.cell->attr_word = 0;
    if (run.kind != kKindString) {
      memset(site.value(), 0, run.ksiz);
      continue;
    }
    StringDesc* desc = reinterpret_cast<StringDesc*>(site.value());
    desc->length = 0;
    const Addr buffer = desc->buffer;
    if (buffer == 0) continue;
    if (!map_new_segments(nullptr)) return false;
    memset(at<void>(buffer), 0, desc->size);
  }
  return true;
}

// Empties every mailbox of a per-application type. Database lock held.
void clear_mailboxes(Kgd* kgd, const TypeRun& run) {
  for (uint16_t i = 0; i < run.max; ++i) {
    const TagSite site = site_at(run, i);
    site.cell->attr_word = 0;
    msg_queue_discard(kgd, reinterpret_cast<MsgQueue*>(site.value()));
  }
}

// Clears the change bits and wait marks of every tag of the type in the
// application; a digital tag of a shared type keeps its value bit.
// Database lock held.
void clear_changes(const TypeRun& run) {
  ChangeEntry* changes = at<ChangeEntry>(run.changes);
  if (run.kind != kKindDigital) {
    memset(changes, 0, run.max * sizeof(ChangeEntry));
    return;
  }
  const uint32_t keep = run.per_app ? 0 : kDigitalBit;
  for (uint16_t i = 0; i < run.max; ++i) {
    changes[i].change_word = changes[i].change_word & keep;
    changes[i].wait_word = changes[i].wait_word & keep;
  }
}

// A type's whole reset under the database lock. Arrays move only under the
// lock, so the type is looked up again once it is held.
void reset_under_lock(Kgd* kgd, const AppBlock* app, CptEntry* client, uint16_t id, uint16_t t, bool* unmapped) {
  if (db_lock(kgd, client, id) != 0) return;
  TypeRun run;
  if (arrays_here(kgd, app, t, &run, unmapped)) {
    if (run.per_app && run.kind <= kKindString && !clear_values(run)) *unmapped = true;
    if (run.per_app && run.kind == kKindMessage) clear_mailboxes(kgd, run);
    clear_changes(run);
  }
  db_unlock(kgd, client, id);
}

}  // namespace

extern "C" {

// Only the application part of id has to name a running application; the
// database lock is taken for id's client, as rk_lock would take it. A
// segment this process cannot map leaves the arrays in it untouched, and
// the call then reports -1.
RK_API int rk_reset_app_mem(rk_client_id id) {
  AppBlock* app = resolve_app(id);
  if (app == nullptr) return -1;
  Kgd* kgd = attachment().kgd;
  CptEntry* client = resolve_owned(app, id);
  bool unmapped = false;
  for (uint16_t t = 0; t < kgd->ntypes && t < kTypeSlots; ++t) {
    TypeRun run;
    if (!arrays_here(kgd, app, t, &run, &unmapped)) continue;
    if (client != nullptr) {
      reset_under_lock(kgd, app, client, id, t, &unmapped);
    } else if (run.per_app && run.kind <= kKindString && !clear_values(run)) {
      unmapped = true;
    }
  }
  return unmapped ? -1 : 0;
}

}  // extern "C"
