// The frame of the mailbox operations: the tag-call frame (the caller
// resolved once, its database lock held, the error stored at the end) and
// the one mailbox a call works on. A call's checks come in a fixed order,
// and callers depend on it to tell their mistakes apart: the target
// application, then the pointers, then the reference (its type, that the
// type is a mailbox type, its element size, its index).
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"

namespace rk {

// A mailbox as a call found it, in one application.
struct Mailbox {
  TypeRun run;
  TagSite site;

  MsgQueue* queue() const { return reinterpret_cast<MsgQueue*>(site.value()); }
};

// The application a call names by a second client id: the caller's own
// when the ids share their application part, else the one the target
// names; null when it does not run. The target's slot is not looked at.
AppBlock* mailbox_target(const TagCall& call, uint16_t target);

// The checks of a call on one message of a mailbox in the target's
// application, in their order: the target runs (kErrAppInactive), the
// caller's record is given (kErrNullArg), the reference names a mailbox
// (find_mailbox). 0 with *app and *box filled, or the error.
int16_t find_target_mailbox(const TagCall& call, uint16_t target, const void* record, TagRef ref, AppBlock** app,
                            Mailbox* box);

// Finds the mailbox `ref` names in app. 0, or kErrBadTag for a type not
// below the number of types, kErrNotMailbox for a type of another value
// kind, kErrBadTag again for a type without element size or an index not
// below its count (a type whose arrays are not placed holds no tags).
// Database lock held.
int16_t find_mailbox(const Kgd* kgd, const AppBlock* app, TagRef ref, Mailbox* box);

// Ends a mailbox call with err (0 for none): releases the lock and returns
// 0, or -1 with err stored, or -1 when only the release failed (the release
// stored its own error, if any).
int end_mailbox_call(TagCall& call, int err);

}  // namespace rk
