// Commands of a client process: starting and ending applications,
// registering and leaving. Client ids and results are decimal.
#include <cstdio>
#include <string>
#include <vector>

#include "client/commands.h"
#include "rk.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

uint16_t id_of(const Args& a, size_t i) { return static_cast<uint16_t>(a.dec(i)); }

const RegisterCommand commands[] = {
    // The RTDB of the application tests: domains OPS (2 instances) and LAB (1).
    {"createplant",
     [](const Args& a) {
       rk_kusr kusrs[] = {kusr("OPS", 2), kusr("LAB", 1)};
       rk_type_entry types[] = {type_entry("ANALOG", 0, 10, 4)};
       reply_value(rk_create_rtdb("", "", a.str(0).c_str(), kusrs, 2, types, 1, 0, 0, 0));
     }},
    // initapp <rtdb> <domain> <instance>, with a template of free slots.
    {"initapp",
     [](const Args& a) {
       std::vector<rk_cpt_entry> table = app_template();
       reply_value(quietly([&] { return rk_init_app(a.str(0).c_str(), a.str(1).c_str(), a.str(2).c_str(), table.data()); }));
     }},
    {"exitapp", [](const Args& a) { reply_value(rk_exit_app(id_of(a, 0))); }},
    {"procinit", [](const Args& a) { reply_value(rk_proc_init(a.str(0).c_str(), "test client")); }},
    // procinitapp <task> <rtdb> <domain> <instance>
    {"procinitapp",
     [](const Args& a) {
       reply_value(rk_proc_init_app(a.str(0).c_str(), "test client", a.str(1).c_str(), a.str(2).c_str(),
                                    a.str(3).c_str()));
     }},
    {"procexit", [](const Args& a) { reply_value(rk_proc_exit(id_of(a, 0))); }},
    {"exittrap",
     [](const Args&) {
       rk_exit_trap();
       reply_ok();
     }},
};

}  // namespace
}  // namespace rk::test
