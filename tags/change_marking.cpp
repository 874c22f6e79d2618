#include "tags/change_marking.h"

#include "core/dead_clients.h"
#include "core/kernel_mutex.h"
#include "tags/gone_writer.h"
#include "tags/change_notify.h"
#include "tags/wake.h"

namespace rk {

void modify_attr(Kgd* kgd, WriteWake& wake, const TagSite& site, uint32_t value, uint32_t mask, bool value_changed) {
  const uint32_t old = site.cell->attr_word;
  const uint32_t now = (old | (value & mask)) & ~(~value & mask);
  if (now == old) return;
  site.cell->attr_word = now;
  if (!value_changed && notify_attr_change(kgd, wake.target, site.ref, old ^ now) != 0) wake.all_apps = true;
}

void wake_after_write(Kgd* kgd, uint16_t id, const WriteWake& wake) {
  if (wake.all_apps) {
    wake_all_apps(kgd, id, kWakeTag);
  } else if (wake.target->pending_wake != 0) {
    wake_app(kgd, id, wake.target, kWakeTag);
  }
}

namespace {

// The clean-up of a holder whose process died owes the wake of the write it
// may have died in. Registered here, beside the wake every write does, so
// that whatever writes also cleans up after a writer.
[[maybe_unused]] const bool g_owed_wake = (set_gone_holder_hook(&wake_for_gone_writer), true);

}  // namespace

int end_write_call(TagCall& call, const WriteWake& wake, uint32_t counted) {
  const bool waking = wake.all_apps || wake.target->pending_wake != 0;
  const bool held = waking && call.entry->lock == 1 && kmutex_take(call.id) == 0;
  wake_after_write(call.kgd, call.id, wake);
  const int rc = end_tag_call(call, kStatWriteCalls, kStatWriteTags, counted);
  if (held) kmutex_give(call.id);
  return rc;
}

}  // namespace rk
