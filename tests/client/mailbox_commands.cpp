// Commands on mailboxes. Client ids, types, indexes and counts are decimal;
// a failed call answers "err <rk_errno>". The loops of the no-loss test
// run here, in the client, and answer one summary line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/commands.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a, size_t i = 0) { return static_cast<rk_client_id>(a.dec(i)); }

rk_tag_ref ref_of(const Args& a, size_t i) {
  return rk_tag_ref{static_cast<uint16_t>(a.dec(i)), static_cast<uint16_t>(a.dec(i + 1))};
}

// Message `seq` of writer `writer`: its length varies from 0 to 300 bytes,
// its bytes tell the writer and the sequence number at every position.
std::string numbered(uint32_t writer, uint32_t seq) {
  std::string text((seq * 37 + writer * 11) % 301, '\0');
  for (uint32_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(writer * 101 + seq * 7 + i);
  return text;
}

// The caller fields of a numbered message: the writer, then the sequence number.
void mark(rk_message_record& r, uint32_t writer, uint32_t seq) {
  memset(r.caller_fields, 0, sizeof r.caller_fields);
  memcpy(r.caller_fields, &writer, sizeof writer);
  memcpy(r.caller_fields + 4, &seq, sizeof seq);
}

const RegisterCommand commands[] = {
    // mbxput <id> <target> <type> <index> <text>: rk_write_mbx, or
    // rk_write_app_mbx when target is not id.
    {"mbxput",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 2);
       const std::string& text = a.str(4);
       rk_message_record r{};
       r.data = const_cast<char*>(text.data());
       r.length = static_cast<uint16_t>(text.size());
       const int rc = id_of(a) == id_of(a, 1) ? rk_write_mbx(id_of(a), ref, &r)
                                              : rk_write_app_mbx(id_of(a), id_of(a, 1), ref, &r);
       rc == 0 ? reply_ok() : reply_err(rk_errno(id_of(a)));
     }},
    // mbxtake <id> <type> <index>: rk_read_mbx of the first message; "ok <text>".
    {"mbxtake",
     [](const Args& a) {
       char text[256] = {};
       rk_message_record r{};
       r.data = text;
       r.size = sizeof text - 1;
       rk_read_mbx(id_of(a), ref_of(a, 1), &r, 0) == 0 ? reply_ok(text) : reply_err(rk_errno(id_of(a)));
     }},
    // mbxown <id> <type> <index> <own>: rk_set_owner_mbx.
    {"mbxown",
     [](const Args& a) {
       rk_set_owner_mbx(id_of(a), ref_of(a, 1), static_cast<uint32_t>(a.dec(3))) == 0 ? reply_ok()
                                                                                      : reply_err(rk_errno(id_of(a)));
     }},
    // mbxwaiton <id> <type> <index>: rk_set_wait on the mailbox tag.
    {"mbxwaiton",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 1);
       rk_set_wait(id_of(a), &ref, 1) == 0 ? reply_ok() : reply_err(rk_errno(id_of(a)));
     }},
    // mbxchgwait <id> <type> <index>: rk_change_wait on the one mailbox;
    // "ok <length of the first message>", which stays queued.
    {"mbxchgwait",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 1);
       uint32_t position = 0;
       rk_message_record r{};
       rk_change_wait(id_of(a), &ref, 1, &position, &r) == 0 ? reply_ok(std::to_string(r.length))
                                                                : reply_err(rk_errno(id_of(a)));
     }},
    // mbxsend <id> <target> <type> <index> <writer> <count>: writes messages
    // 0..count-1 of writer `writer`, one call each; "ok <written>", or
    // "err <rk_errno>" of the first that failed.
    {"mbxsend",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 2);
       const uint32_t writer = static_cast<uint32_t>(a.dec(4));
       const uint32_t count = static_cast<uint32_t>(a.dec(5));
       for (uint32_t seq = 0; seq < count; ++seq) {
         const std::string text = numbered(writer, seq);
         rk_message_record r{};
         r.data = const_cast<char*>(text.data());
         r.length = static_cast<uint16_t>(text.size());
         mark(r, writer, seq);
         if (rk_write_app_mbx(id_of(a), id_of(a, 1), ref, &r) != 0) {
           reply_err(rk_errno(id_of(a)));
           return;
         }
       }
       reply_ok(std::to_string(count));
     }},
    // mbxdrain <id> <type> <index> <total>: takes messages until `total`
    // have arrived, sleeping in rk_wait (mode 1, on its wait bit of the
    // mailbox) whenever the mailbox is empty. "ok <received> <from writer
    // 0> <from writer 1> <faults>": a fault is a message out of its
    // writer's order, a repeat, or one whose length, bytes or fields are not
    // what its writer sent.
    {"mbxdrain",
     [](const Args& a) {
       const rk_client_id id = id_of(a);
       const rk_tag_ref ref = ref_of(a, 1);
       const uint32_t total = static_cast<uint32_t>(a.dec(3));
       uint32_t next[2] = {0, 0};
       uint32_t received = 0, faults = 0;
       std::vector<char> buffer(512);
       if (rk_set_wait(id, &ref, 1) != 0 || rk_lock(id) != 0) {
         reply_err(rk_errno(id));
         return;
       }
       while (received < total) {
         rk_message_record r{};
         r.data = buffer.data();
         r.size = static_cast<uint16_t>(buffer.size());
         if (rk_read_mbx(id, ref, &r, 0) != 0) {
           // Empty: the lock is held from the read to the wait, so no
           // write can slip in between unseen.
           if (rk_errno(id) != 36 || rk_wait(id, 1) != 0) break;
           continue;
         }
         ++received;
         uint32_t writer = 0, seq = 0;
         memcpy(&writer, r.caller_fields, sizeof writer);
         memcpy(&seq, r.caller_fields + 4, sizeof seq);
         if (writer > 1 || seq != next[writer]) {
           ++faults;
           continue;
         }
         ++next[writer];
         const std::string sent = numbered(writer, seq);
         if (r.length != sent.size() || memcmp(buffer.data(), sent.data(), sent.size()) != 0) ++faults;
       }
       const int err = received < total ? rk_errno(id) : 0;
       rk_unlock(id);
       rk_clear_wait(id, &ref, 1);
       if (err != 0) {
         reply_err(err);
         return;
       }
       char text[96];
       snprintf(text, sizeof text, "%u %u %u %u", received, next[0], next[1], faults);
       reply_ok(text);
     }},
};

}  // namespace
}  // namespace rk::test
