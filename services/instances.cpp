// The application instances (kinst records) as a configuring process sees
// them: by index or by domain and instance name, active or not, and the two
// instance words it keeps in them. Each call holds the kernel mutex as the
// calling process, so a record is never read while an instance starts or
// ends.
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "core/name_rules.h"
#include "rk.h"

using namespace rk;

namespace {

// Runs body(kgd) on the attached RTDB under the kernel mutex, taken as the
// calling process; -1 when nothing is attached or the mutex fails.
template <typename Body>
int with_kernel_mutex(Body body) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || kmutex_take(kSelf) != 0) return -1;
  const int result = body(kgd);
  kmutex_give(kSelf);
  return result;
}

// The words of an application a kinst record carries; the record is clear.
void copy_words(const AppBlock& app, rk_kinst_record* record) {
  record->active = app.active;
  record->kusr = static_cast<int32_t>(app.kusr);
  record->instance2 = app.instance2;
  record->instance1 = app.instance1;
}

}  // namespace

extern "C" {

RK_API int rk_get_nkinsts(void) {
  return with_kernel_mutex([](const Kgd* kgd) { return static_cast<int>(kgd->napps); });
}

// The instance name is not copied: the caller gave it.
RK_API int rk_get_kinst(const char* kusr_name, const char* inst_name, rk_kinst_record* record) {
  if (kusr_name == nullptr || inst_name == nullptr || record == nullptr) return -1;
  return with_kernel_mutex([&](const Kgd* kgd) {
    memset(record, 0, sizeof *record);
    const AppBlock* app = app_by_names_in(kgd, kusr_name, inst_name);
    if (app == nullptr) {
      record->kusr = -1;
      return -1;
    }
    copy_words(*app, record);
    return 0;
  });
}

// An index past the applications leaves the record clear.
RK_API int rk_nth_kinst(int n, rk_kinst_record* record) {
  if (record == nullptr || n < 0) return -1;
  return with_kernel_mutex([&](const Kgd* kgd) {
    memset(record, 0, sizeof *record);
    if (static_cast<uint32_t>(n) >= kgd->napps) return -1;
    const AppBlock* app = app_block(kgd, static_cast<uint32_t>(n));
    copy_words(*app, record);
    strncpy(record->instance, app->instance, sizeof record->instance);
    return 0;
  });
}

RK_API int rk_set_kinst(int n, int which, const rk_kinst_record* record) {
  if (record == nullptr || n < 0) return -1;
  return with_kernel_mutex([&](const Kgd* kgd) {
    if (static_cast<uint32_t>(n) >= kgd->napps) return -1;
    AppBlock* app = app_block(kgd, static_cast<uint32_t>(n));
    if ((which & 1) != 0) app->instance1 = record->instance1;
    if ((which & 2) != 0) app->instance2 = record->instance2;
    return 0;
  });
}

}  // extern "C"
