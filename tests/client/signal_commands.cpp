// Commands on signals and termination flags. Client ids, signal numbers
// and results are decimal; a failed call answers "err <rk_errno>".
#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

// "ok <result>" for a call whose result is the answer, "err <n>" for -1.
void reply_result(const Args& a, int result) { result >= 0 ? reply_value(result) : reply_err(rk_errno(id_of(a))); }

const RegisterCommand commands[] = {
    // sendsig <id> <name> <sig>
    {"sendsig", [](const Args& a) { reply_result(a, rk_send_sig(id_of(a), a.str(1).c_str(), a.dec(2))); }},
    {"recvsig", [](const Args& a) { reply_result(a, rk_recv_sig(id_of(a))); }},
    // holdsig <id> <sig> <hold>
    {"holdsig", [](const Args& a) { reply_result(a, rk_hold_sig(id_of(a), a.dec(1), a.dec(2))); }},
    // settermflag <id> <name>
    {"settermflag", [](const Args& a) { reply_result(a, rk_set_term_flag(id_of(a), a.str(1).c_str())); }},
    {"testtermflag", [](const Args& a) { reply_value(rk_test_term_flag(id_of(a))); }},
};

}  // namespace
}  // namespace rk::test
