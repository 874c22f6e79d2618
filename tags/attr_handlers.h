// Attribute handlers: per-client functions that see a client's reads and
// writes of the tags whose attribute word meets the client's read or write
// mask, before the value is touched. Handler n stands for attribute bit n.
// The functions are the client's process's own (core/client_handlers.h), so
// they are called only in the process that registered the client.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "tags/tag_call.h"
#include "tags/tag_walk.h"

namespace rk {

enum Direction : int { kDirWrite = 0, kDirRead = 1 };

// A handler (rk_attr_handler) returns 0 to let the access go on, 1 to skip
// the element, -1 to stop the batch (with an error number it stores in the
// entry); any other value lets the access go on too.

// Calls the handlers of the set bits of `bits`, from bit 0 up, skipping
// bits without a handler; the first nonzero result ends the dispatch and is
// its result, else 0. Nothing is called in a process other than the
// entry's client's.
int call_attr_handlers(CptEntry* entry, ChangeEntry* change, void* cell, void* value, void* element,
                       uint32_t bits, int direction);

enum class Screen { kProceed, kSkip, kStop };

// The handlers' verdict on one element of a batch: the tag's attribute word
// ANDed with `mask` (the caller's read or write mask) selects them; a
// client without a mask costs no look at the attribute word. On
// kStop the batch's error is the one the refusing handler stored, or
// kErrHandlerRefused when it stored none, so a batch a handler stopped
// never succeeds.
Screen run_handlers(TagCall& call, const TagSite& site, void* element, uint32_t bits, int direction);

inline Screen screen_element(TagCall& call, const TagSite& site, void* element, uint32_t mask, int direction) {
  const uint32_t bits = mask == 0 ? 0 : site.cell->attr_word & mask;
  return bits == 0 ? Screen::kProceed : run_handlers(call, site, element, bits, direction);
}

}  // namespace rk
