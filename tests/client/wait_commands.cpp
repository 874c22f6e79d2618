// Commands on the database lock, waiting and waking. Client ids are
// decimal, wake masks hexadecimal; a failed call answers "err <rk_errno>".
#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

void reply_call(rk_client_id id, int rc) { rc == 0 ? reply_ok() : reply_err(rk_errno(id)); }

const RegisterCommand commands[] = {
    {"dblock", [](const Args& a) { reply_call(id_of(a), rk_lock(id_of(a))); }},
    {"dbunlock", [](const Args& a) { reply_call(id_of(a), rk_unlock(id_of(a))); }},
    {"wait", [](const Args& a) { reply_call(id_of(a), rk_wait(id_of(a), a.dec(1))); }},
    // wakeup <id> <mask> <mode>
    {"wakeup",
     [](const Args& a) {
       const uint32_t mask = a.hex(1);
       reply_call(id_of(a), rk_wakeup(id_of(a), &mask, a.dec(2)));
     }},
};

}  // namespace
}  // namespace rk::test
