// The configuration time: when the configuring process last installed a new
// configuration, the RTDB's creation time until it first does. The kernel
// keeps the record whole and reads none of it.
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "rk.h"

using namespace rk;

namespace {
constexpr int kReadConfigTime = 0;
constexpr int kStoreConfigTime = 1;
}  // namespace

extern "C" {

// The kernel mutex is taken strictly (never counted as nested): the record
// is copied as one acquisition of its own, in the mutex history too.
RK_API int rk_last_newconfig(int mode, rk_config_time* record) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || record == nullptr || (mode != kReadConfigTime && mode != kStoreConfigTime)) return -1;
  if (kmutex_take(kSelfStrict) != 0) return -1;
  if (mode == kReadConfigTime) {
    memcpy(record, &kgd->config_time, sizeof *record);
  } else {
    memcpy(&kgd->config_time, record, sizeof kgd->config_time);
  }
  kmutex_give(kSelf);
  return 0;
}

}  // extern "C"
