#include "tags/tag_call.h"

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/db_lock.h"
#include "core/errors.h"

namespace rk {

void TagCall::record(int16_t err) {
  switch (err) {
    case kErrBadTag:
    case kErrNaN:
    case kErrPlusInf:
    case kErrMinusInf:
      error = err;
      break;
    default:
      if (error == 0) error = err;
  }
}

bool resolve_tag_call(TagCall& call, uint16_t id) {
  call.kgd = attachment().kgd;
  call.app = resolve_app(id);
  call.entry = resolve_entry(call.app, id);
  call.id = id;
  return call.entry != nullptr;
}

bool lock_tag_call(TagCall& call) { return db_lock(call.kgd, call.entry, call.id) == 0; }

bool begin_tag_call(TagCall& call, uint16_t id) { return resolve_tag_call(call, id) && lock_tag_call(call); }

bool begin_inner_tag_call(TagCall& call, const TagCall& outer) {
  call.kgd = outer.kgd;
  call.app = outer.app;
  call.entry = outer.entry;
  call.id = outer.id;
  return lock_tag_call(call);
}

int fail_tag_call(TagCall& call, int16_t err) {
  db_unlock(call.kgd, call.entry, call.id);
  call.entry->errnum = err;
  return -1;
}

int end_tag_call(TagCall& call, CptStat calls, CptStat tags, uint32_t counted) {
  ++call.entry->stats[calls];
  call.entry->stats[tags] += counted;
  return finish_tag_call(call);
}

int finish_tag_call(TagCall& call) {
  CptEntry* e = call.entry;
  const int released = db_unlock(call.kgd, e, call.id);
  if (call.error != 0) {
    e->errnum = call.error;
    return -1;
  }
  return released == 0 ? 0 : -1;
}

}  // namespace rk
