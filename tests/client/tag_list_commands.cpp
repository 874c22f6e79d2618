// Commands on tag lists of 4-byte plain tags. Client ids and positions are
// decimal, values hexadecimal; a failed call answers "err <rk_errno>".
#include <cstdio>

#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

const RegisterCommand commands[] = {
    // tlwait <id> <position>: rk_change_wait_tag_list; "ok <position>
    // <type>:<index> <value> <rk_errno after the call>".
    {"tlwait",
     [](const Args& a) {
       uint32_t position = static_cast<uint32_t>(a.dec(1));
       rk_tag_ref tag{0xFFFF, 0xFFFF};
       uint32_t v = 0;
       if (rk_change_wait_tag_list(id_of(a), &tag, &position, &v) != 0) {
         reply_err(rk_errno(id_of(a)));
         return;
       }
       char text[64];
       snprintf(text, sizeof text, "%u %u:%u %x %d", position, tag.type, tag.index, v, rk_errno(id_of(a)));
       reply_ok(text);
     }},
};

}  // namespace
}  // namespace rk::test
