#include "tools/rkctl/dumps.h"

#include <string>
#include <vector>

#include "rk.h"

namespace rkctl {

std::string dump_text(DumpTable table) {
  // Each dump has a fixed largest size; the kernel writes without a bound.
  size_t cap = 0;
  int (*dump)(char*) = nullptr;
  switch (table) {
    case DumpTable::segs: cap = RK_DUMP_SEGS_MAX; dump = rk_dump_segs; break;
    case DumpTable::mems: cap = RK_DUMP_MEMS_MAX; dump = rk_dump_mems; break;
    case DumpTable::types: cap = RK_DUMP_TYPES_MAX; dump = rk_dump_types; break;
    case DumpTable::procs: cap = RK_DUMP_PROCS_MAX; dump = rk_dump_procs; break;
  }
  std::vector<char> text(cap, '\0');
  dump(text.data());
  std::string out;
  for (const char* c = text.data(); *c != '\0'; ++c) {
    if (*c != '\r') out += *c;
  }
  return out;
}

}  // namespace rkctl
