// Why a tool finds no RTDB, or not the one it was given: RTDBs of this
// namespace that this user may not open (another user's, made without
// world = true), named by their owner, and, when this namespace has none,
// the namespaces that have some. Read from the names of the RTDBs' anchors
// in /dev/shm (RKNAMESPACE, then RKNT_RK000 and the kgd index).
#pragma once

#include <string>

namespace rkctl {

struct RtdbDiagnosis {
  std::string foreign;      // "kgd 0 of user root, ..."; "" for none
  std::string elsewhere;    // "RKNAMESPACE=\"a_\" (1), ..."; "" for none
};

RtdbDiagnosis diagnose_rtdbs();

// The diagnosis as the end of an error line ("; ..."), "" when there is
// nothing to add; `none_here` when this namespace shows no RTDB at all.
std::string diagnosis_suffix(bool none_here);

}  // namespace rkctl
