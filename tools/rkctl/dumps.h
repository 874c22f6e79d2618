// The kernel's four table dumps, as text with plain line ends.
#pragma once

#include <string>

namespace rkctl {

enum class DumpTable { segs, mems, types, procs };

// The dump of the attached RTDB.
std::string dump_text(DumpTable table);

}  // namespace rkctl
