// Commands of the crash tests: values wider than a store, strings, the
// whole content of a mailbox, and a check of the shared structures made
// while the client holds the database lock. Ids, types, indexes and sizes
// are decimal.
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "client/commands.h"
#include "core/attachment.h"
#include "core/segments.h"
#include "rk.h"
#include "services/rtdb_check.h"
#include "support/memory_pattern.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }
rk_tag_ref ref_of(const Args& a, size_t i) {
  return rk_tag_ref{static_cast<uint16_t>(a.dec(i)), static_cast<uint16_t>(a.dec(i + 1))};
}

void reply_call(const Args& a, int rc, const std::string& values = "") {
  rc == 0 ? reply_ok(values) : reply_err(rk_errno(id_of(a)));
}

const RegisterCommand commands[] = {
    // widewrite <id> <type> <index> <bytes> <seed>: a value of `bytes` filled with the pattern of seed.
    {"widewrite",
     [](const Args& a) {
       std::vector<uint32_t> value(static_cast<size_t>(a.dec(3)) / 4);
       fill_pattern(value.data(), static_cast<uint32_t>(value.size() * 4), static_cast<uint32_t>(a.dec(4)));
       const rk_tag_ref ref = ref_of(a, 1);
       reply_call(a, rk_write(id_of(a), &ref, 1, value.data()));
     }},
    // wideread <id> <type> <index> <bytes>: "ok <seed>" of the pattern the value holds, "ok torn" for none.
    {"wideread",
     [](const Args& a) {
       std::vector<uint32_t> value(static_cast<size_t>(a.dec(3)) / 4);
       const rk_tag_ref ref = ref_of(a, 1);
       const int rc = rk_read(id_of(a), &ref, 1, value.data());
       const uint32_t bytes = static_cast<uint32_t>(value.size() * 4);
       const bool whole = !value.empty() && pattern_errors(value.data(), bytes, value[0]) == 0;
       reply_call(a, rc, whole ? std::to_string(value[0]) : "torn");
     }},
    // strwrite <id> <type> <index> <text>: the text from a 64-byte buffer.
    {"strwrite",
     [](const Args& a) {
       char buffer[64] = {};
       const std::string& text = a.str(3);
       memcpy(buffer, text.data(), std::min(text.size(), sizeof buffer));
       rk_string_desc d{buffer, sizeof buffer, static_cast<uint16_t>(std::min(text.size(), sizeof buffer))};
       const rk_tag_ref ref = ref_of(a, 1);
       reply_call(a, rk_write(id_of(a), &ref, 1, &d));
     }},
    // strread <id> <type> <index>: "ok <text>", "ok -" when empty.
    {"strread",
     [](const Args& a) {
       char buffer[128] = {};
       rk_string_desc d{buffer, sizeof buffer - 1, 0};
       const rk_tag_ref ref = ref_of(a, 1);
       const int rc = rk_read(id_of(a), &ref, 1, &d);
       reply_call(a, rc, d.length == 0 ? "-" : std::string(buffer, d.length));
     }},
    // mbxall <id> <type> <index>: takes every message; "ok <count> <text>...".
    {"mbxall",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 1);
       std::string texts;
       uint32_t n = 0;
       for (;;) {
         char text[256] = {};
         rk_message_record r{};
         r.data = text;
         r.size = sizeof text - 1;
         if (rk_read_mbx(id_of(a), ref, &r, 0) != 0) break;
         texts += " " + std::string(text, r.length);
         ++n;
       }
       reply_ok(std::to_string(n) + texts);
     }},
    // listset <id> <owner name> <count>: the owner's list becomes WIDE[0..count).
    {"listset",
     [](const Args& a) {
       std::vector<rk_tag_ref> refs;
       for (int32_t i = 0; i < a.dec(2); ++i) refs.push_back(rk_tag_ref{0, static_cast<uint16_t>(i)});
       reply_call(a, rk_set_tag_list(id_of(a), a.str(1).c_str(), refs.data(), static_cast<uint32_t>(refs.size())));
     }},
    // listcount <id>: "ok <length of the caller's own list>".
    {"listcount",
     [](const Args& a) {
       rk_tag_ref refs[64];
       uint32_t n = 0;
       const int rc = rk_get_tag_list(id_of(a), refs, 64, &n);
       rc == 0 || rk_errno(id_of(a)) == 30 ? reply_ok(std::to_string(rc == 0 ? n : 0)) : reply_err(rk_errno(id_of(a)));
     }},
    // attrdef <id> <name>: "ok <bit>".
    {"attrdef",
     [](const Args& a) {
       rk_attr_record r{};
       const std::string& name = a.str(1);
       memcpy(r.name, name.data(), std::min(name.size(), sizeof r.name));
       r.length = static_cast<int32_t>(std::min(name.size(), sizeof r.name));
       uint32_t bit = 0;
       const int rc = rk_define_attr(id_of(a), 1, &r, &bit);
       reply_call(a, rc, std::to_string(bit));
     }},
    // adjust <id> <type> <max>: rk_dbrt_adjust with the RTDB's own table,
    // the type's count raised to max.
    {"adjust",
     [](const Args& a) {
       const Kgd* kgd = attachment().kgd;
       std::vector<rk_type_entry> table(at<rk_type_entry>(kgd->type_table),
                                        at<rk_type_entry>(kgd->type_table) + kgd->ntypes);
       table.at(static_cast<size_t>(a.dec(1))).max = static_cast<uint16_t>(a.dec(2));
       reply_call(a, rk_dbrt_adjust(id_of(a), table.data(), static_cast<uint32_t>(table.size())));
     }},
    // forklock <id>: a forked child takes the lock under the id and answers
    // "ok <its pid>" in place of the parent; then it sleeps until killed.
    {"forklock",
     [](const Args& a) {
       std::cout.flush();
       if (fork() != 0) return;
       rk_lock(id_of(a)) == 0 ? reply_ok(std::to_string(getpid())) : reply_err(rk_errno(id_of(a)));
       for (;;) pause();
     }},
    // shmcheck <id>: "ok" when every checked structure is sound, else "bad <fault>".
    {"shmcheck",
     [](const Args& a) {
       if (rk_lock(id_of(a)) != 0) return reply_err(rk_errno(id_of(a)));
       map_new_segments(nullptr);
       std::string fault;
       for (const std::string& line : rtdb_check(attachment().kgd)) fault += (fault.empty() ? "" : "; ") + line;
       rk_unlock(id_of(a));
       reply_ok(fault.empty() ? "" : "bad " + fault);
     }},
};

}  // namespace
}  // namespace rk::test
