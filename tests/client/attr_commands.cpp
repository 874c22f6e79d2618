// Commands on a client's attribute masks and handlers. Client ids are
// decimal, bits hexadecimal.
#include <cstring>

#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

constexpr int16_t kRefusal = 99;   // the error number the refusing handler stores

// Fails every access it sees with an error number of its own, so that a
// reply tells whether it ran.
int refuse(rk_cpt_entry* entry, void*, void*, void*, void*, int) {
  entry->errnum = kRefusal;
  return -1;
}

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

const RegisterCommand commands[] = {
    // chgmask <id> <bits>: rk_set_change_mask.
    {"chgmask",
     [](const Args& a) {
       const uint32_t mask = a.hex(1);
       rk_set_change_mask(id_of(a), &mask) == 0 ? reply_ok() : reply_err(rk_errno(id_of(a)));
     }},
    // refuser <id> read|write <bits>: installs the refusing handler for the
    // bits; "ok <result>", the result as returned.
    {"refuser",
     [](const Args& a) {
       const uint32_t bits = a.hex(2);
       const rk_attr_handler handler = refuse;
       reply_value(strcmp(a.str(1).c_str(), "read") == 0 ? rk_set_read_mask(id_of(a), 1, &bits, &handler)
                                                         : rk_set_write_mask(id_of(a), 1, &bits, &handler));
     }},
};

}  // namespace
}  // namespace rk::test
