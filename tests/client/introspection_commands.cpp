// Commands of a monitoring process: the lock state and the table dumps.
// A dump goes out in hexadecimal, two digits a byte, so that its CR LF line
// ends reach the test exactly.
#include <string>
#include <vector>

#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

std::string hex_of(const char* text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    out += digits[static_cast<unsigned char>(*p) >> 4];
    out += digits[static_cast<unsigned char>(*p) & 15];
  }
  return out;
}

const RegisterCommand commands[] = {
    // "ok <holder> <queue head> <registered> <queued> <waiting 1..4>" for
    // the application of a client id.
    {"globals",
     [](const Args& a) {
       rk_globals g;
       const int rc = rk_get_app_globals(static_cast<rk_client_id>(a.dec(0)), &g);
       if (rc != 0) return reply_err(rc);
       std::string s = std::to_string(g.lock_holder) + " " + std::to_string(g.queue_head) + " " +
                       std::to_string(g.registered) + " " + std::to_string(g.queued);
       for (int i = 0; i < 4; ++i) s += " " + std::to_string(g.waiting[i]);
       reply_ok(s);
     }},
    // "dump segs|mems|types|procs": "ok <text in hex>".
    {"dump",
     [](const Args& a) {
       struct {
         const char* name;
         int (*dump)(char*);
         size_t max;
       } const dumps[] = {{"segs", rk_dump_segs, RK_DUMP_SEGS_MAX},
                          {"mems", rk_dump_mems, RK_DUMP_MEMS_MAX},
                          {"types", rk_dump_types, RK_DUMP_TYPES_MAX},
                          {"procs", rk_dump_procs, RK_DUMP_PROCS_MAX}};
       for (const auto& d : dumps) {
         if (a.str(0) != d.name) continue;
         std::vector<char> text(d.max);
         const int rc = d.dump(text.data());
         return rc == 0 ? reply_ok(hex_of(text.data())) : reply_err(rc);
       }
       reply_err(-1);
     }},
};

}  // namespace
}  // namespace rk::test
