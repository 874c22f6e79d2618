// Every consistency check of an RTDB at once: one line per fault, each
// naming the structure it is in. For tests, which run it after every step
// that may leave a structure half changed (a take-over from a client that
// died), and for rk_check_rtdb.
#pragma once

#include <string>
#include <vector>

#include "core/records.h"

namespace rk {

// The faults of the attached RTDB's shared structures, none when it is
// consistent: the kgd itself (nothing else is looked at when it is not what
// creation lays out), the segment table, the dbrt segments, the memory
// pools, the tag arrays, the change and wait words, the string
// descriptors, the mailboxes, the tag lists, the database lock with its
// queue, and the attribute table; at most one line for each. A check that
// would follow addresses into a structure found damaged before it is left
// out: the segments' contents when the table is damaged or a segment cannot
// be mapped here, the mailboxes and tag lists when the pools are damaged.
// Maps the segments this process does not map yet, and reads nothing else.
// Nobody may change the RTDB meanwhile: kernel mutex held with the database
// lock free, or the database lock held by a caller that makes no change.
std::vector<std::string> rtdb_check(const Kgd* kgd);

}  // namespace rk
