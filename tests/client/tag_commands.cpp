// Commands on tag values, one 4-byte plain tag per call. Client ids, types
// and indexes are decimal, values hexadecimal; a failed call answers
// "err <rk_errno>".
#include <cstdio>

#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a, size_t i = 0) { return static_cast<rk_client_id>(a.dec(i)); }

rk_tag_ref ref_of(const Args& a, size_t i) {
  return rk_tag_ref{static_cast<uint16_t>(a.dec(i)), static_cast<uint16_t>(a.dec(i + 1))};
}

std::string hex(uint32_t v) {
  char text[16];
  snprintf(text, sizeof text, "%x", v);
  return text;
}

const RegisterCommand commands[] = {
    // tagwrite <id> <target> <type> <index> <value>: rk_write_app, or rk_write when target is id.
    {"tagwrite",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 2);
       const uint32_t v = a.hex(4);
       const int rc = id_of(a) == id_of(a, 1) ? rk_write(id_of(a), &ref, 1, &v)
                                              : rk_write_app(id_of(a), id_of(a, 1), &ref, 1, &v);
       rc == 0 ? reply_ok() : reply_err(rk_errno(id_of(a)));
     }},
    // tagread <id> <type> <index>: "ok <value>".
    {"tagread",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 1);
       uint32_t v = 0;
       rk_read(id_of(a), &ref, 1, &v) == 0 ? reply_ok(hex(v)) : reply_err(rk_errno(id_of(a)));
     }},
};

}  // namespace
}  // namespace rk::test
