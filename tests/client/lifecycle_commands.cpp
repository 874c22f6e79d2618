// Commands on RTDBs as a whole.
#include <cstring>

#include "client/commands.h"
#include "core/attachment.h"
#include "rk.h"

namespace rk::test {
namespace {

const RegisterCommand commands[] = {
    // Attaches to the first RTDB: "ok <index> <kgd address> <name>".
    {"mapfirst",
     [](const Args&) {
       int index = -5;
       int rc = rk_map_firstkgd(&index);
       if (rc != 0) return reply_err(rc);
       Kgd* kgd = attachment().kgd;
       reply_ok(std::to_string(index) + " " + std::to_string(addr_of(kgd)) + " " + RtdbName(kgd).text);
     }},
    {"unmapkgd", [](const Args&) { reply_rc(rk_unmap_kgd()); }},
    // An RTDB of one application with one type: "ok <result>".
    {"create",
     [](const Args& a) {
       rk_kusr ops{};
       memcpy(ops.name, "OPS", 4);
       ops.instances = 1;
       rk_type_entry analog{};
       analog.max = 10;
       analog.usiz = 4;
       analog.per_app = 1;
       reply_value(rk_create_rtdb("", "", a.str(0).c_str(), &ops, 1, &analog, 1, 5, 0, 0));
     }},
    {"delete", [](const Args& a) { reply_value(rk_delete_rtdb(a.dec(0))); }},
};

}  // namespace
}  // namespace rk::test
