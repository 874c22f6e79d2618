// Commands for the tests of processes that die, of other users' objects and
// of descriptors: whole runs set up in one step, lock loops and counter
// rounds that a test kills at any moment, checks of segments and tag arrays
// through the shared records, and the process's own identity and limits. Client ids, counts and
// results are decimal.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "client/commands.h"
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/records.h"
#include "support/memory_pattern.h"
#include "support/test_rtdb_layouts.h"
#include "rk.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

void reply_call(rk_client_id id, int rc) { rc == 0 ? reply_ok() : reply_err(rk_errno(id)); }

// The live entry of an id in the attached RTDB, or null.
CptEntry* live_entry(rk_client_id id) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || !names_slot(kgd, id)) return nullptr;
  CptEntry* e = slot_entry(kgd, id);
  return (e->stat & kStatLive) != 0 ? e : nullptr;
}

// Segment 0's address as every process of an RTDB reads it.
uint32_t kgd_base() {
  const char* text = getenv("RKDLLBASE");
  const unsigned long base = text != nullptr ? strtoul(text, nullptr, 16) : 0;
  return base != 0 ? static_cast<uint32_t>(base) : 0x20800000u;
}

// Runs `use` on the value array of type `t` in the caller's application
// while the client holds the database lock, which keeps the array in place.
template <typename Use>
void with_values(const Args& a, Use use) {
  const rk_client_id id = id_of(a);
  const uint32_t t = static_cast<uint32_t>(a.dec(1));
  if (rk_lock(id) != 0) return reply_err(rk_errno(id));
  const Kgd* kgd = attachment().kgd;
  const TypeEntry type = at<TypeEntry>(kgd->type_table)[t];
  const TagArrayPair pair = at<TagArrayPair>(app_block(kgd, static_cast<uint32_t>(app_index(id)))->pairs)[t];
  const uint32_t value = use(at<void>(pair.value_array), type.value_bytes, static_cast<uint32_t>(a.dec(2)));
  rk_unlock(id);
  reply_value(value);
}

// The counters of the random-kill runs: the 64 tags of type 0 in the
// caller's application, equal after every whole round; the messages go to
// mailbox 0 of type 1, each carrying the value its round wrote.
constexpr uint16_t kCounters = 64;
constexpr rk_tag_ref kMailbox{1, 0};
// Messages are appended while fewer than this many are queued, else taken.
constexpr uint32_t kMailboxBacklog = 32;

struct CounterRefs {
  rk_tag_ref refs[kCounters];
  CounterRefs() {
    for (uint16_t i = 0; i < kCounters; ++i) refs[i] = rk_tag_ref{0, i};
  }
};

// Null when counters read under the lock look as rounds leave them: all
// equal, or, after a holder killed inside its write, which stores the
// batch in order, the first ones one ahead of the rest.
const char* counters_fault(const uint32_t* v) {
  for (uint32_t i = 1; i < kCounters; ++i) {
    if (v[i] > v[i - 1] || v[0] - v[i] > 1) return "torn";
  }
  return nullptr;
}

// A message whose data is a counter value.
rk_message_record number_message(uint32_t* number) {
  rk_message_record r{};
  r.data = number;
  r.size = r.length = sizeof *number;
  return r;
}

// The rounds of one client of a random-kill run. Each call is false, with
// the fault noted, when it found something the kernel must not let happen.
class CounterRounds {
 public:
  CounterRounds(rk_client_id id, uint32_t seed) : id_(id), rng_(seed) {}

  // Under the lock: reads the counters, writes the largest plus one to
  // all (sometimes under a nested lock), reads them back, and sometimes
  // appends or takes a message.
  bool round() {
    if (rk_lock(id_) != 0) return fail("lock");
    const bool ok = locked_round();
    if (rk_unlock(id_) != 0 && ok) return fail("unlock");
    rounds_ += ok;
    return ok;
  }

  // Sleeps until another client changes counter 0, which then holds more
  // than this process wrote last.
  bool wait_for_change() {
    uint32_t value = 0, position = 0;
    if (rk_read(id_, refs_.refs, 1, &value) != 0) return fail("read");   // clears the change bit
    if (rk_change_wait(id_, refs_.refs, 1, &position, &value) != 0) return fail("changewait");
    ++waits_;
    return value > last_ || fail("unchanged");
  }

  bool sometimes(uint32_t one_in) { return rng_() % one_in == 0; }

  std::string report() const {
    return std::to_string(rounds_) + " " + std::to_string(torn_) + " " + std::to_string(waits_) + " " +
           std::to_string(messages_) + " " + fault_;
  }

 private:
  bool fail(const char* what) {
    fault_ = std::string(what) + "/" + std::to_string(rk_errno(id_));
    return false;
  }

  bool holds() const {
    const CptEntry* e = live_entry(id_);
    return e != nullptr && attachment().kgd->lock_holder == addr_of(e);
  }

  bool locked_round() {
    uint32_t v[kCounters];
    if (!holds()) return fail("holder");
    if (rk_read(id_, refs_.refs, kCounters, v) != 0) return fail("read");
    if (const char* f = counters_fault(v)) return fail(f);
    if (v[kCounters - 1] < last_) return fail("lost");
    torn_ += v[0] != v[kCounters - 1];
    const uint32_t next = v[0] + 1;
    std::fill(v, v + kCounters, next);
    const bool nested = sometimes(4);
    if (nested && rk_lock(id_) != 0) return fail("nestedlock");
    const int written = rk_write(id_, refs_.refs, kCounters, v);
    if (nested && rk_unlock(id_) != 0) return fail("nestedunlock");
    if (written != 0) return fail("write");
    last_ = next;
    if (rk_read(id_, refs_.refs, kCounters, v) != 0) return fail("readback");
    if (std::count(v, v + kCounters, next) != kCounters) return fail("overwritten");
    if (!holds()) return fail("holder");
    return !sometimes(4) || message(next);
  }

  // Appends a message numbered with the round's value, or takes the oldest,
  // which an earlier round wrote.
  bool message(uint32_t written) {
    uint32_t queued = 0;
    if (rk_count_mbx(id_, kMailbox, &queued) != 0) return fail("count");
    uint32_t number = written;
    rk_message_record r = number_message(&number);
    if (queued < kMailboxBacklog) {
      if (rk_write_mbx(id_, kMailbox, &r) != 0) return fail("mbxwrite");
      ++messages_;
      return true;
    }
    number = 0;
    if (rk_read_mbx(id_, kMailbox, &r, 0) != 0) return fail("mbxread");
    return (r.length == sizeof number && number > 0 && number < written) || fail("message");
  }

  rk_client_id id_;
  std::mt19937 rng_;
  CounterRefs refs_;
  uint32_t last_ = 0;   // the value this process wrote last
  uint32_t rounds_ = 0, torn_ = 0, waits_ = 0, messages_ = 0;
  std::string fault_ = "-";
};

const RegisterCommand commands[] = {
    // rtdbmake <name> <OPS instances> <LAB instances> <memory pools> <flags>:
    // type ANALOG (10 tags of 4 bytes per application), 5 extra segments.
    {"rtdbmake",
     [](const Args& a) {
       std::vector<rk_kusr> kusrs{kusr("OPS", static_cast<uint32_t>(a.dec(1)))};
       if (a.dec(2) > 0) kusrs.push_back(kusr("LAB", static_cast<uint32_t>(a.dec(2))));
       rk_type_entry types[] = {type_entry("ANALOG", 0, 10, 4)};
       reply_value(quietly([&] {
         return rk_create_rtdb("", "", a.str(0).c_str(), kusrs.data(), static_cast<uint32_t>(kusrs.size()), types, 1,
                               5, static_cast<uint32_t>(a.dec(3)), static_cast<uint16_t>(a.dec(4)));
       }));
     }},
    // appsstart <rtdb> <domain> <count>: instances I0, I1, ... with free
    // slots; "ok <count>", or "err <result>" of the first start that failed.
    {"appsstart",
     [](const Args& a) {
       const std::vector<rk_cpt_entry> table = app_template();
       for (int i = 0; i < a.dec(2); ++i) {
         const std::string instance = "I" + std::to_string(i);
         const int r = quietly([&] { return rk_init_app(a.str(0).c_str(), a.str(1).c_str(), instance.c_str(), table.data()); });
         if (r < 0) return reply_err(r);
       }
       reply_value(a.dec(2));
     }},
    // appsend <count>: ends applications count-1 down to 0, so that
    // application 0 finds the others gone and its exit deletes the RTDB.
    {"appsend",
     [](const Args& a) {
       for (int app = a.dec(0) - 1; app >= 0; --app) {
         if (rk_exit_app(static_cast<rk_client_id>(app << 8)) != 0) return reply_err(app);
       }
       reply_ok();
     }},
    // lockloop <id> <rounds>: takes and gives the database lock `rounds`
    // times, or with 0 until the next command line arrives. "ok <rounds>
    // <failed calls> <grants in which the kgd named another holder>".
    {"lockloop",
     [](const Args& a) {
       const rk_client_id id = id_of(a);
       const int32_t rounds = a.dec(1);
       uint32_t done = 0, failed = 0, foreign = 0;
       while (rounds > 0 ? done < static_cast<uint32_t>(rounds) : !line_waiting()) {
         ++done;
         if (rk_lock(id) != 0) {
           ++failed;
           continue;
         }
         const CptEntry* e = live_entry(id);
         if (e == nullptr || attachment().kgd->lock_holder != addr_of(e)) ++foreign;
         if (rk_unlock(id) != 0) ++failed;
       }
       reply_ok(std::to_string(done) + " " + std::to_string(failed) + " " + std::to_string(foreign));
     }},
    // counterloop <id> <may wait> <seed>: counter rounds until the next
    // command line arrives or a round finds a fault; with <may wait> 1,
    // sometimes a sleep in rk_change_wait between rounds. "ok <rounds>
    // <torn reads> <waits> <messages> <fault>", the fault "-" when none.
    {"counterloop",
     [](const Args& a) {
       CounterRounds c(id_of(a), static_cast<uint32_t>(a.dec(2)));
       const bool may_wait = a.dec(1) != 0;
       while (!line_waiting() && c.round() && (!may_wait || !c.sometimes(8) || c.wait_for_change())) {
       }
       reply_ok(c.report());
     }},
    // countercheck <id>: under the lock, the counters and the mailbox as a
    // run left them, every message taken. "ok <smallest> <largest>
    // <messages> <fault>", the fault "-" when the counters have the shape
    // of rounds and the messages came in increasing numbers no larger.
    {"countercheck",
     [](const Args& a) {
       const rk_client_id id = id_of(a);
       const CounterRefs refs;
       uint32_t v[kCounters] = {};
       if (rk_lock(id) != 0) return reply_err(rk_errno(id));
       std::string fault = "-";
       auto note = [&](const char* f) {
         if (fault == "-") fault = f;
       };
       if (rk_read(id, refs.refs, kCounters, v) != 0) note("read");
       if (const char* f = counters_fault(v)) note(f);
       uint32_t queued = 0, last = 0;
       if (rk_count_mbx(id, kMailbox, &queued) != 0) note("count");
       for (uint32_t m = 0; m < queued; ++m) {
         uint32_t number = 0;
         rk_message_record r = number_message(&number);
         if (rk_read_mbx(id, kMailbox, &r, 0) != 0 || r.length != sizeof number) note("mbxread");
         if (number <= last || number > v[0]) note("message");
         last = number;
       }
       rk_unlock(id);
       reply_ok(std::to_string(v[kCounters - 1]) + " " + std::to_string(v[0]) + " " + std::to_string(queued) + " " +
                fault);
     }},
    // The line that ends an open-ended lockloop.
    {"loopstop", [](const Args&) { reply_ok(); }},
    // awaitstate <id> <wait state>: returns once the entry is in that
    // state; "err 110" after 30 s.
    {"awaitstate",
     [](const Args& a) {
       const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       for (;;) {
         // Another process writes the field: read afresh each time.
         const volatile CptEntry* e = live_entry(id_of(a));
         if (e != nullptr && e->wait_state == a.dec(1)) return reply_ok();
         if (std::chrono::steady_clock::now() > give_up) return reply_err(ETIMEDOUT);
         sched_yield();
       }
     }},
    // dbrtgrow <id> <type> <max>: the RTDB's type table with one type grown.
    {"dbrtgrow",
     [](const Args& a) {
       const Kgd* kgd = attachment().kgd;
       if (kgd == nullptr || static_cast<uint32_t>(a.dec(1)) >= kgd->ntypes) return reply_err(EINVAL);
       const TypeEntry* now = at<TypeEntry>(kgd->type_table);
       std::vector<rk_type_entry> types(now, now + kgd->ntypes);
       types[static_cast<uint32_t>(a.dec(1))].max = static_cast<uint16_t>(a.dec(2));
       reply_call(id_of(a), rk_dbrt_adjust(id_of(a), types.data(), static_cast<uint32_t>(types.size())));
     }},
    // tagfill <id> <type> <seed> and tagcheck <id> <type> <seed>: the
    // memory pattern over the value array of a type in the client's
    // application; tagcheck answers the words that differ from it.
    {"tagfill",
     [](const Args& a) {
       with_values(a, [](void* p, uint32_t bytes, uint32_t seed) {
         fill_pattern(p, bytes, seed);
         return 0u;
       });
     }},
    {"tagcheck", [](const Args& a) { with_values(a, pattern_errors); }},
    // segmapped <n>: "ok 1" when segment n is mapped in this process over
    // its whole size and, for a dbrt segment, its header names its own
    // table entry; "ok 0" otherwise. Asks the mapping before touching it.
    {"segmapped",
     [](const Args& a) {
       const Kgd* kgd = attachment().kgd;
       const uint32_t n = static_cast<uint32_t>(a.dec(0));
       if (kgd == nullptr || n >= kgd->nsegs) return reply_err(EINVAL);
       const SegEntry seg = *seg_entry(kgd, n);
       if (msync(at<void>(seg.base), seg.size, MS_ASYNC) != 0) return reply_value(0);
       const bool dbrt = (seg.flags & kSegDbrt) != 0;
       reply_value(!dbrt || at<DbrtSegHeader>(seg.base)->seg_entry == addr_of(seg_entry(kgd, n)));
     }},
    // rtdbpeek <offset>: the word at that offset of segment 0, read at its
    // address whether or not the process still counts as attached.
    {"rtdbpeek", [](const Args& a) { reply_value(*at<volatile uint32_t>(kgd_base() + a.hex(0))); }},
    // kgdnext <index>: rk_map_nextkgd from that index; "ok <result> <index stored>".
    {"kgdnext",
     [](const Args& a) {
       int index = a.dec(0);
       const int rc = rk_map_nextkgd(&index);
       reply_ok(std::to_string(rc) + " " + std::to_string(index));
     }},
    // becomeuser <name>: the process goes on as that user, for good.
    {"becomeuser",
     [](const Args& a) {
       const passwd* pw = getpwnam(a.str(0).c_str());
       if (pw == nullptr) return reply_err(ENOENT);
       if (setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) return reply_err(errno);
       // Keeps /proc/self readable for the process itself.
       prctl(PR_SET_DUMPABLE, 1);
       reply_value(pw->pw_uid);
     }},
    // shmchmod: every object of this namespace that the process owns
    // becomes readable and writable by everyone; "ok <objects>".
    {"shmchmod",
     [](const Args&) {
       const char* ns = getenv("RKNAMESPACE");
       if (ns == nullptr || ns[0] == '\0') return reply_err(EINVAL);
       int changed = 0;
       if (DIR* d = opendir("/dev/shm")) {
         while (dirent* e = readdir(d)) {
           if (strncmp(e->d_name, ns, strlen(ns)) != 0) continue;
           const int fd = open((std::string("/dev/shm/") + e->d_name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
           if (fd >= 0 && fchmod(fd, 0666) == 0) ++changed;
           if (fd >= 0) close(fd);
         }
         closedir(d);
       }
       reply_value(changed);
     }},
    // shmflock: an exclusive flock on /dev/shm, held while the process lives.
    {"shmflock",
     [](const Args&) {
       static int fd = -1;
       if (fd < 0) fd = open("/dev/shm", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
       reply_rc(fd >= 0 && flock(fd, LOCK_EX) == 0 ? 0 : errno);
     }},
    // nofile <n>: the soft limit of open descriptors.
    {"nofile",
     [](const Args& a) {
       rlimit rl{};
       getrlimit(RLIMIT_NOFILE, &rl);
       rl.rlim_cur = static_cast<rlim_t>(a.dec(0));
       reply_rc(setrlimit(RLIMIT_NOFILE, &rl) == 0 ? 0 : errno);
     }},
    // fdcount: the descriptors the process has open.
    {"fdcount",
     [](const Args&) {
       int count = -1;   // the listing's own descriptor
       if (DIR* d = opendir("/proc/self/fd")) {
         while (dirent* e = readdir(d)) count += e->d_name[0] != '.';
         closedir(d);
       }
       reply_value(count);
     }},
};

}  // namespace
}  // namespace rk::test
