// Commands for the tests of processes that die, of other users' objects and
// of descriptors: whole runs set up in one step, lock loops that a test
// kills at any moment, checks of segments and tag arrays through the shared
// records, and the process's own identity and limits. Client ids, counts and
// results are decimal.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// True once a line waits on standard input: the test asks a loop to end.
// Standard input is read through stdio, whose buffer may hold the line
// already when it came along with the command that started the loop.
bool line_waiting() {
  if (stdin->_IO_read_ptr < stdin->_IO_read_end) return true;
  pollfd p{0, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
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
