// Consistency check of the change and wait words of every tag, for tests
// and for diagnosing damage left by a writer that died. Reads only, through
// the arrays that layout_check vouches for.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when every tag's words are sound: bit 31 of a change word, the value
// of a digital tag, is clear for every other kind; a wait word names slots
// only (bit 31 clear); and a digital tag of a type shared by all
// applications has the same value in each application's change word, as
// every write of it stores one word in all of them. Otherwise "change
// words: TAG app A: " and the first fault found. Arrays that tag_arrays
// refuses are passed over: layout_check reports them.
std::string change_check(const Kgd* kgd);

}  // namespace rk
