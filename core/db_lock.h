// The database lock: one holder per RTDB, nested per client, handed from
// the releaser straight to the first queued waiter.
#pragma once

#include <cstdint>

#include "core/client_ids.h"
#include "core/kgd_words.h"
#include "core/records.h"

namespace rk {

// Takes the database lock for an entry its caller has resolved, waiting as
// long as needed; nested takes only count. 0, or -1 with the entry's error
// number stored (24: queued) or, when the kernel mutex failed or the client
// went meanwhile, none. rk_lock is this after the ownership rule; the tag
// operations resolve without it.
int db_lock(Kgd* kgd, CptEntry* entry, uint16_t id);

// Gives one nesting level back; the last hands the lock on. 0, or -1 with
// 23 (not holding) or 25 (the lock had been revoked) stored, or none when
// the kernel mutex failed.
int db_unlock(Kgd* kgd, CptEntry* entry, uint16_t id);

// With the kernel mutex held and the entry queued: gives the mutex and
// sleeps until the lock has been handed to the entry. While it sleeps it
// looks now and then whether the holder died, or the hand-over to it was
// cut off, and repairs that. 0 when the entry holds the lock, -1 when the
// event wait or the mutex failed or the client was made to leave; the
// mutex is not held on return either way.
int sleep_until_granted(Kgd* kgd, CptEntry* entry, uint16_t id);

// True while id still names entry: its application runs and its client is
// live. Either can end between a call's resolution of the id and its take
// of the kernel mutex; checked again under the mutex, a call never queues
// or takes the lock for a client that has gone, which nobody could unlock.
inline bool still_resolves(uint16_t id, const CptEntry* entry) {
  return resolve_entry(resolve_app(id), id) == entry;
}

// The same for an entry that id named a moment ago in the same call, in
// the RTDB still attached: only what other processes change is read again.
inline bool still_live(const Kgd* kgd, uint16_t id, const CptEntry* entry) {
  return rtdb_ready(kgd) && app_block(kgd, static_cast<uint32_t>(app_index(id)))->active == 1 &&
         (entry->stat & kStatLive) != 0;
}

// With the kernel mutex held: when the holder of the lock has held it for
// a while and its process died, its clients leave (handing the lock on)
// and the result is true.
bool holder_gone(Kgd* kgd);

// Records a grant of the lock to the entry and maps the segments created
// since its client last mapped. The entry holds the lock.
void note_grant(Kgd* kgd, CptEntry* entry);

}  // namespace rk
