// The RTDB that processes of both variants share in the mixed tests, made
// and run by whichever of them is its run manager.
#include "client/commands.h"
#include "rk.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

const RegisterCommand commands[] = {
    // mixedrtdb <name>: the RTDB with the domain OPS (one instance) and the
    // mixed types, and the instance OPS A started; "ok <application>".
    {"mixedrtdb",
     [](const Args& a) {
       rk_kusr ops = kusr("OPS", 1);
       std::vector<rk_type_entry> types = mixed_types();
       reply_value(quietly([&] {
         const int made = rk_create_rtdb("", "", a.str(0).c_str(), &ops, 1, types.data(),
                                         static_cast<uint32_t>(types.size()), 4, 4, 0);
         return made < 0 ? made : rk_init_app(a.str(0).c_str(), "OPS", "A", app_template().data());
       }));
     }},
};

}  // namespace
}  // namespace rk::test
