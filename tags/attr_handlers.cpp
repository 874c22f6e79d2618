#include "tags/attr_handlers.h"

#include <bit>

#include "core/attachment.h"
#include "core/client_handlers.h"
#include "core/errors.h"

namespace rk {

int call_attr_handlers(CptEntry* entry, ChangeEntry* change, void* cell, void* value, void* element,
                       uint32_t bits, int direction) {
  // Another process's client: its handlers are not this process's.
  if (bits == 0 || entry->pid != attachment().pid) return 0;
  const rk_client_id id = entry->id;
  for (; bits != 0; bits &= bits - 1) {
    const rk_attr_handler handler = client_handler(id, static_cast<uint32_t>(std::countr_zero(bits)));
    if (handler == nullptr) continue;
    const int result = handler(entry, change, cell, value, element, direction);
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
