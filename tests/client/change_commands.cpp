// Commands on change bits, for lists of 4-byte plain tags given as
// <type>:<index> words. Client ids, types, indexes and positions are
// decimal, values hexadecimal; a failed call answers "err <rk_errno>".
#include <cstdio>
#include <vector>

#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

std::vector<rk_tag_ref> refs_from(const Args& a, size_t first) {
  std::vector<rk_tag_ref> refs;
  for (size_t i = first; i < a.size(); ++i) {
    unsigned type = 0, index = 0;
    sscanf(a.str(i).c_str(), "%u:%u", &type, &index);
    refs.push_back(rk_tag_ref{static_cast<uint16_t>(type), static_cast<uint16_t>(index)});
  }
  return refs;
}

const RegisterCommand commands[] = {
    // chgwait <id> <position> <type>:<index>...: rk_change_wait; "ok <position>
    // <value> <rk_errno after the call>".
    {"chgwait",
     [](const Args& a) {
       const std::vector<rk_tag_ref> refs = refs_from(a, 2);
       uint32_t position = static_cast<uint32_t>(a.dec(1));
       uint32_t v = 0;
       if (rk_change_wait(id_of(a), refs.data(), static_cast<uint32_t>(refs.size()), &position, &v) != 0) {
         reply_err(rk_errno(id_of(a)));
         return;
       }
       char text[64];
       snprintf(text, sizeof text, "%u %x %d", position, v, rk_errno(id_of(a)));
       reply_ok(text);
     }},
    // setchng <id> <type>:<index>...
    {"setchng",
     [](const Args& a) {
       const std::vector<rk_tag_ref> refs = refs_from(a, 1);
       rk_set_chng(id_of(a), refs.data(), static_cast<uint32_t>(refs.size())) == 0 ? reply_ok()
                                                                                  : reply_err(rk_errno(id_of(a)));
     }},
    // testchng <id> <type>:<index>...: "ok <flag>..." of rk_test_chng.
    {"testchng",
     [](const Args& a) {
       const std::vector<rk_tag_ref> refs = refs_from(a, 1);
       std::vector<uint16_t> flags(refs.size());
       if (rk_test_chng(id_of(a), refs.data(), static_cast<uint32_t>(refs.size()), flags.data()) != 0) {
         reply_err(rk_errno(id_of(a)));
         return;
       }
       std::string text;
       for (uint16_t f : flags) text += (text.empty() ? "" : " ") + std::to_string(f);
       reply_ok(text);
     }},
};

}  // namespace
}  // namespace rk::test
