// Consistency check of the Attribute Table in the kgd, for tests and for
// diagnosing damage. Reads only the table.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when the table is what its definitions leave: slots are only ever
// filled, each time the first unused one, so the used slots (first name
// byte nonzero) come first and every unused slot is all zero; a used
// slot's length lies in 0..32; no two used slots hold the same attribute
// (the same length and leading name bytes), since a definition finds the
// one there. Otherwise "attribute table: slot N: " and the first fault.
// Kernel mutex held.
std::string attr_check(const Kgd* kgd);

}  // namespace rk
