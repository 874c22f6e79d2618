#include "tags/attr_handlers.h"

#include <bit>

#include "core/attachment.h"
#include "core/errors.h"

namespace rk {

int call_attr_handlers(CptEntry* entry, ChangeEntry* change, void* cell, void* value, void* element,
                       uint32_t bits, int direction) {
  // Another process's client: its handler addresses mean nothing here.
  if (bits == 0 || entry->pid != attachment().pid) return 0;
  for (; bits != 0; bits &= bits - 1) {
    const uint32_t address = entry->handlers[std::countr_zero(bits)];
    if (address == 0) continue;
    const int result = reinterpret_cast<AttrHandler>(static_cast<uintptr_t>(address))(entry, change, cell, value,
                                                                                       element, direction);
    if (result != 0) return result;
  }
  return 0;
}

Screen run_handlers(TagCall& call, const TagSite& site, void* element, uint32_t bits, int direction) {
  // A refusing handler's own error number is told from none by clearing the
  // entry's for the dispatch; a call that does not fail keeps its old one.
  CptEntry* e = call.entry;
  const int16_t before = e->errnum;
  e->errnum = 0;
  const int result = call_attr_handlers(e, site.change, site.cell, site.value(), element, bits, direction);
  const int16_t stored = e->errnum;
  if (stored == 0) e->errnum = before;
  if (result == -1) {
    call.error = stored != 0 ? stored : static_cast<int16_t>(kErrHandlerRefused);
    return Screen::kStop;
  }
  return result == 1 ? Screen::kSkip : Screen::kProceed;
}

}  // namespace rk
