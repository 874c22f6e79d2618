// Collecting the clients to wake while a write runs. Writers wake nobody per
// tag: they gather the own bits of the waiting clients in each application's
// pending-wake mask, and release them once at the end of the call (wake.h).
// The caller holds the database lock, which guards the wait words, change
// words and pending-wake masks touched here.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Stores `word` as the tag's change word in every application block, active
// or not, that has a change array for its type, and ORs each nonzero wait
// word into that block's pending-wake mask. Returns the number of blocks
// whose wait word was nonzero. A reference outside the type table stores
// nothing and returns 0.
uint32_t change_broadcast(Kgd* kgd, const TagRef& ref, uint32_t word);

// Collects, for an attribute change of the tag, the clients that wait on it
// and whose change mask meets `changed`: in `app` for a type with values per
// application, in every application block for a shared type. Change words
// are not touched. Returns the number of clients collected.
uint32_t notify_attr_change(Kgd* kgd, AppBlock* app, const TagRef& ref, uint32_t changed);

}  // namespace rk
