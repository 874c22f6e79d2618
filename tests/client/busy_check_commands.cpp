// A check of every shared structure while other clients run on: the
// database lock keeps them from changing what it guards, the kernel mutex
// keeps them from queueing for it or changing what else it guards, so the
// checks see one moment of the RTDB.
#include <string>

#include "client/commands.h"
#include "core/attachment.h"
#include "core/kernel_mutex.h"
#include "core/segments.h"
#include "rk.h"
#include "services/rtdb_check.h"

namespace rk::test {
namespace {

const RegisterCommand commands[] = {
    // busycheck <id>: "ok" when every structure is sound, else "bad <fault>; ...".
    {"busycheck",
     [](const Args& a) {
       const rk_client_id id = static_cast<rk_client_id>(a.dec(0));
       if (rk_lock(id) != 0) return reply_err(rk_errno(id));
       if (kmutex_take(id) != 0) {
         rk_unlock(id);
         return reply_err(rk_errno(id));
       }
       map_new_segments(nullptr);
       std::string fault;
       for (const std::string& line : rtdb_check(attachment().kgd)) fault += (fault.empty() ? "" : "; ") + line;
       kmutex_give(id);
       rk_unlock(id);
       reply_ok(fault.empty() ? "" : "bad " + fault);
     }},
};

}  // namespace
}  // namespace rk::test
