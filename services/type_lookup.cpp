// A type by its name, for clients that name their tags as the plant file
// does. The type table may grow while clients run, so it is read under the
// kernel mutex, one entry at a time, as rk_get_type reads it.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "rk.h"

using namespace rk;

extern "C" {

RK_API int rk_find_type(const char* name) {
  if (name == nullptr) return -kErrNullArg;
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr) return -kErrNoRtdb;
  const size_t length = strlen(name);
  // A name of more than 16 bytes names nothing: the table keeps 16.
  if (length == 0 || length > sizeof(TypeEntry::name)) return -kErrBadTag;
  if (kmutex_take(kSelfStrict) != 0) return -kErrKernelMutex;
  int exact = -1, folded = -1;
  const uint32_t ntypes = kgd->ntypes;   // by value: the field is packed
  const uint32_t n = std::min<uint32_t>(ntypes, kTypeSlots);
  const TypeEntry* table = at<TypeEntry>(kgd->type_table);
  for (uint32_t i = 0; i < n && exact < 0; ++i) {
    char stored[sizeof(TypeEntry::name)];
    memcpy(stored, table[i].name, sizeof stored);
    const uint16_t usiz = table[i].usiz;
    if (usiz == 0 || strnlen(stored, sizeof stored) != length) continue;
    if (memcmp(stored, name, length) == 0) {
      exact = static_cast<int>(i);
    } else if (folded < 0 && strncasecmp(stored, name, length) == 0) {
      folded = static_cast<int>(i);
    }
  }
  kmutex_give(kSelf);
  if (exact >= 0) return exact;
  return folded >= 0 ? folded : -kErrBadTag;
}

}  // extern "C"
