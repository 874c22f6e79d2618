// What a write does for a tag it changed, or whose attribute bits it
// changed, and the one wake at the end of the write. Per element it only
// stores words and collects waiters in pending-wake masks; the clients are
// released once, by wake_after_write. Database lock held.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/change_notify.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"

namespace rk {

// What one write collected for its wake.
struct WriteWake {
  AppBlock* target = nullptr;   // the application written
  bool all_apps = false;        // waiters collected beyond it (a shared type, an attribute change)
};

// Stores `word` as the tag's change word and collects its waiters: in the
// target application for a type with values per application, in every
// application for a shared one.
// Inline: it runs for every changed element of a batch.
inline void mark_changed(Kgd* kgd, WriteWake& wake, const TypeRun& run, const TagSite& site, uint32_t word) {
  if (!run.per_app) {
    if (change_broadcast(kgd, site.ref, word) != 0) wake.all_apps = true;
    return;
  }
  site.change->change_word = word;
  const uint32_t waiters = site.change->wait_word;
  if (waiters != 0) wake.target->pending_wake |= waiters;
}

// Sets the attribute bits of `mask` to those of `value`. When the value
// itself did not change, the clients that wait on the tag and want the
// changed bits (their change mask) are collected; no change bits are set.
void modify_attr(Kgd* kgd, WriteWake& wake, const TagSite& site, uint32_t value, uint32_t mask, bool value_changed);

// Releases the collected clients that wait for a tag change, once per
// write: in every application when the walk collected beyond the target,
// else in the target when it has any.
void wake_after_write(Kgd* kgd, uint16_t id, const WriteWake& wake);

// Ends a write call: the wake, then end_tag_call with the write counters.
// When the call gives the lock back and the wake made lock waiters, the
// first of them gets the lock at once: the kernel mutex is then taken once
// for both.
int end_write_call(TagCall& call, const WriteWake& wake, uint32_t counted);

}  // namespace rk
