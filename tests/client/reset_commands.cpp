// Commands on an application's memory. Client ids are decimal.
#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

const RegisterCommand commands[] = {
    // "appreset <id>": "ok <result of rk_reset_app_mem>".
    {"appreset", [](const Args& a) { reply_value(rk_reset_app_mem(static_cast<rk_client_id>(a.dec(0)))); }},
};

}  // namespace
}  // namespace rk::test
