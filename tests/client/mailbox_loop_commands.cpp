// Mailbox loops of the random-kill campaigns: writers that put numbered
// messages and log each put that returned 0, readers that take them and log
// each one with the moment they took it, under the lock. Whatever moment a
// loop is killed at, its log holds what it knew for done. Client ids,
// types, indexes and numbers are decimal.
#include <sched.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/commands.h"
#include "client/loop_log.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

rk_tag_ref ref_of(const Args& a, size_t i) {
  return rk_tag_ref{static_cast<uint16_t>(a.dec(i)), static_cast<uint16_t>(a.dec(i + 1))};
}

// The writer number of a message that only marks the end of a run.
constexpr uint16_t kEndMark = 0xFFFF;

// Message `seq` of writer `writer`: a length from 0 to 300 bytes and bytes
// and caller fields that tell both numbers at every position.
uint16_t message_length(uint32_t writer, uint32_t seq) { return static_cast<uint16_t>((seq * 37 + writer * 11) % 301); }
uint8_t message_byte(uint32_t writer, uint32_t seq, uint32_t i) {
  return static_cast<uint8_t>(writer * 101 + seq * 7 + i * 3);
}

struct CallerFields {
  uint8_t bytes[14];
};

CallerFields caller_fields(uint16_t writer, uint32_t seq) {
  CallerFields f{};
  memcpy(f.bytes, &writer, sizeof writer);
  memcpy(f.bytes + 2, &seq, sizeof seq);
  for (uint32_t i = 6; i < sizeof f.bytes; ++i) f.bytes[i] = static_cast<uint8_t>(writer * 13 + seq * 5 + i);
  return f;
}

rk_message_record outgoing(uint16_t writer, uint32_t seq, std::vector<uint8_t>& data) {
  data.resize(message_length(writer, seq));
  for (uint32_t i = 0; i < data.size(); ++i) data[i] = message_byte(writer, seq, i);
  rk_message_record r{};
  r.data = data.data();
  r.length = static_cast<uint16_t>(data.size());
  const CallerFields f = caller_fields(writer, seq);
  memcpy(r.caller_fields, f.bytes, sizeof f.bytes);
  return r;
}

// Whether a taken message is all its writer put: length, bytes, fields.
bool whole(const rk_message_record& r, const uint8_t* data, uint16_t writer, uint32_t seq) {
  const CallerFields f = caller_fields(writer, seq);
  if (r.length != message_length(writer, seq) || memcmp(r.caller_fields, f.bytes, sizeof f.bytes) != 0) return false;
  for (uint32_t i = 0; i < r.length; ++i) {
    if (data[i] != message_byte(writer, seq, i)) return false;
  }
  return true;
}

enum class Take { kTaken, kEmpty, kFailed };

// Takes the oldest message and logs "m <ns> <writer> <seq> <whole>";
// the caller holds the database lock and gives it back only after the log,
// so a reader killed between the take and the log loses that one message,
// and the moments logged order the takes. End marks are not logged.
Take take_logged(rk_client_id id, rk_tag_ref ref, const LoopLog& log) {
  uint8_t data[512];
  rk_message_record r{};
  r.data = data;
  r.size = sizeof data;
  if (rk_read_mbx(id, ref, &r, 0) != 0) return rk_errno(id) == 36 ? Take::kEmpty : Take::kFailed;
  uint16_t writer = 0;
  uint32_t seq = 0;
  memcpy(&writer, r.caller_fields, sizeof writer);
  memcpy(&seq, r.caller_fields + 2, sizeof seq);
  if (writer != kEndMark) {
    char line[96];
    snprintf(line, sizeof line, "m %llu %u %u %d", static_cast<unsigned long long>(monotonic_ns()), writer, seq,
             whole(r, data, writer, seq) ? 1 : 0);
    log.line(line);
  }
  return Take::kTaken;
}

std::string fault(const char* what, rk_client_id id) { return std::string(what) + "/" + std::to_string(rk_errno(id)); }

const RegisterCommand commands[] = {
    // mbxlimit <id> <type> <index> <KiB>: the mailbox's own limit.
    {"mbxlimit",
     [](const Args& a) {
       const rk_tag_ref ref = ref_of(a, 1);
       uint16_t limit = static_cast<uint16_t>(a.dec(3));
       rk_limit_mbx(id_of(a), 1, &ref, 1, &limit) == 0 ? reply_ok() : reply_err(rk_errno(id_of(a)));
     }},
    // mbxputloop <id> <type> <index> <writer> <first seq> <log>: puts
    // messages of `writer` numbered from `first seq` until a line arrives,
    // logging "a <seq>" for each put that returned 0 before the next one
    // starts; a put the mailbox's limit refuses is made again. "ok <puts>
    // <refused> <fault>", the fault "-" when none.
    {"mbxputloop",
     [](const Args& a) {
       const rk_client_id id = id_of(a);
       const rk_tag_ref ref = ref_of(a, 1);
       const uint16_t writer = static_cast<uint16_t>(a.dec(3));
       uint32_t seq = static_cast<uint32_t>(a.dec(4));
       const LoopLog log(a.str(5));
       uint32_t puts = 0, refused = 0;
       std::string fault_seen = log.open_ok() ? "-" : "log";
       std::vector<uint8_t> data;
       while (fault_seen == "-" && !line_waiting()) {
         const rk_message_record r = outgoing(writer, seq, data);
         if (rk_write_mbx(id, ref, &r) == 0) {
           log.line("a " + std::to_string(seq));
           ++seq;
           ++puts;
         } else if (rk_errno(id) == 46) {
           ++refused;
           sched_yield();   // the readers make room
         } else {
           fault_seen = fault("put", id);
         }
       }
       if (fault_seen != "-") log.line("fault " + fault_seen);
       reply_ok(std::to_string(puts) + " " + std::to_string(refused) + " " + fault_seen);
     }},
    // mbxtakeloop <id> <type> <index> <log>: takes messages and logs them
    // until a line arrives, asleep in rk_wait (mode 1, on its wait bit of
    // the mailbox) while the mailbox is empty. The line is looked for under
    // the lock, so a put made after it was sent finds the reader asleep or
    // gone. "ok <taken> <sleeps> <fault>".
    {"mbxtakeloop",
     [](const Args& a) {
       const rk_client_id id = id_of(a);
       const rk_tag_ref ref = ref_of(a, 1);
       const LoopLog log(a.str(3));
       uint32_t taken = 0, sleeps = 0;
       std::string fault_seen = log.open_ok() ? "-" : "log";
       if (fault_seen == "-" && rk_set_wait(id, &ref, 1) != 0) fault_seen = fault("setwait", id);
       while (fault_seen == "-") {
         if (rk_lock(id) != 0) {
           fault_seen = fault("lock", id);
           break;
         }
         if (line_waiting()) {
           rk_unlock(id);
           break;
         }
         switch (take_logged(id, ref, log)) {
           case Take::kTaken: ++taken; break;
           case Take::kEmpty:
             // The lock is held from the take to the wait: no put slips in unseen.
             if (rk_wait(id, 1) != 0) fault_seen = fault("wait", id);
             ++sleeps;
             break;
           case Take::kFailed: fault_seen = fault("take", id); break;
         }
         if (rk_unlock(id) != 0 && fault_seen == "-") fault_seen = fault("unlock", id);
       }
       rk_clear_wait(id, &ref, 1);
       if (fault_seen != "-") log.line("fault " + fault_seen);
       reply_ok(std::to_string(taken) + " " + std::to_string(sleeps) + " " + fault_seen);
     }},
    // mbxtakeall <id> <type> <index> <log>: takes every queued message,
    // logged as the take loop logs; "ok <taken>".
    {"mbxtakeall",
     [](const Args& a) {
       const rk_client_id id = id_of(a);
       const rk_tag_ref ref = ref_of(a, 1);
       const LoopLog log(a.str(3));
       if (rk_lock(id) != 0) return reply_err(rk_errno(id));
       uint32_t taken = 0;
       Take t;
       while ((t = take_logged(id, ref, log)) == Take::kTaken) ++taken;
       const int err = t == Take::kFailed ? rk_errno(id) : 0;
       rk_unlock(id);
       err == 0 ? reply_value(taken) : reply_err(err);
     }},
    // mbxendmark <id> <type> <index>: a message that only wakes the readers.
    {"mbxendmark",
     [](const Args& a) {
       rk_message_record r{};
       const CallerFields f = caller_fields(kEndMark, 0);
       memcpy(r.caller_fields, f.bytes, sizeof f.bytes);
       rk_write_mbx(id_of(a), ref_of(a, 1), &r) == 0 ? reply_ok() : reply_err(rk_errno(id_of(a)));
     }},
};

}  // namespace
}  // namespace rk::test
