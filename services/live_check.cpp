// Checking the shared structures of an RTDB that is in use: between the
// calls of its clients, never in the middle of one.
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/db_lock.h"
#include "core/kernel_mutex.h"
#include "platform/clock.h"
#include "rk.h"
#include "services/rtdb_check.h"

using namespace rk;

namespace {

// How long the check looks for the database lock to be free, a look a
// millisecond: holders keep it for microseconds, so a lock held this long
// belongs to a client that is stuck or died.
constexpr int kLooks = 2000;

// Runs the checks under the kernel mutex at a moment when nobody holds the
// database lock. While the mutex is held every take of the lock goes
// through it (see lock_word.h), so nobody can take the lock and change
// anything until the checks are done. False when the mutex fails or the
// lock is never free.
bool check_when_unlocked(Kgd* kgd, std::vector<std::string>* lines) {
  for (int look = 0; look < kLooks; ++look) {
    if (kmutex_take(kSelf) != 0) return false;
    // A holder that died is taken over from, and what it left half done
    // made whole, before anything is looked at.
    if (kgd->lock_holder != 0) holder_gone(kgd);
    if (kgd->lock_holder == 0) {
      bool done = true;
      try {
        *lines = rtdb_check(kgd);
      } catch (...) {
        done = false;
      }
      kmutex_give(kSelf);
      return done;
    }
    kmutex_give(kSelf);
    os::sleep_ms(1);
  }
  return false;
}

}  // namespace

extern "C" RK_API int rk_check_rtdb(void (*report)(const char* line, void* context), void* context) {
  Kgd* kgd = attachment().kgd;
  if (kgd == nullptr) return -1;
  std::vector<std::string> lines;
  if (!check_when_unlocked(kgd, &lines)) return -1;
  // Reported once the mutex is given back: the caller's function may take
  // as long as it likes, or call the kernel.
  if (report != nullptr) {
    for (const std::string& line : lines) report(line.c_str(), context);
  }
  return static_cast<int>(lines.size());
}
