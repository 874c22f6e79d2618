// Campaigns of random kills: client processes run loops on mailboxes,
// kernel memory and tags of every kind and are killed with SIGKILL at
// random moments (now inside a call, now between calls, half the time the
// one that holds the database lock), hundreds of times, each started again
// in its slot at once. Every loop logs what it knew for done to a file of
// the test's before it goes on, so the test can tell what a killed process
// left behind. Afterwards every shared structure is sound, nothing
// acknowledged is lost beyond what a dead reader took with it, every value
// and message is whole, and nothing leaks. RK_KILL_SEED repeats a run's
// choices.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "rk.h"
#include "storage/kernel_memory.h"
#include "support/plant_run.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

// A campaign ends after this many kills or this long, whichever comes
// first: slow builds (sanitizers, an emulator) kill less often.
constexpr int kMaxKills = 300;
constexpr auto kKillTime = std::chrono::milliseconds(3000);
// Every so many kills the checker looks at every structure while the
// loops run on (and take over from the victim).
constexpr int kCheckEvery = 25;

constexpr uint16_t kMailboxType = 0;
constexpr uint16_t kFirstTagType = 1;   // six kinds, see tag_loop_commands.cpp
constexpr uint16_t kTagsPerKind = 4;
constexpr uint16_t kMailboxLimitKiB = 8;

uint32_t run_seed() {
  const char* given = getenv("RK_KILL_SEED");
  return given != nullptr ? static_cast<uint32_t>(strtoul(given, nullptr, 10)) : std::random_device{}();
}

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A process of a campaign, restarted in its slot after each kill; `loop`
// gives the command that starts its loop, from its client id and the
// number of the start.
struct Worker {
  std::string task;
  std::function<std::string(uint16_t id, uint32_t start)> loop;
  std::unique_ptr<Client> process;
  uint32_t starts = 0;
  uint32_t kills = 0;
};

// The RTDB "Kills": domain OPS with one instance (application 0), started
// by this process. Type 0 is a mailbox; types 1..6 the six tag kinds of
// the tag loops. The checker has slot 0, worker w slot w + 1.
class KillCampaignTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    seed_ = run_seed();
    rng_.seed(seed_);
    rk_kusr ops = kusr("OPS", 1);
    const uint16_t n = kTagsPerKind;
    rk_type_entry types[] = {type_entry("MBX", 3, 1, 22),  type_entry("WIDE", 0, n, 4096), type_entry("DBL", 0, n, 8),
                             type_entry("TEXT", 2, n, 8),  type_entry("W4", 0, n, 4),    type_entry("W2", 0, n, 2),
                             type_entry("DIG", 1, n, 2)};
    ASSERT_GE(rk_create_rtdb("", "", "Kills", &ops, 1, types, 7, 8, 24, 0), 0);
    ASSERT_EQ(rk_init_app("Kills", "OPS", "A", app_template().data()), 0);
    setenv("RKNAME", "Kills", 1);
    setenv("RKDOMAIN", "OPS", 1);
    setenv("RKUSER", "A", 1);
    const char* tmp = getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/rkkills.XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    checker_ = std::make_unique<Client>();
    ASSERT_EQ(bounded_call(*checker_, "procinit CHECK"), "ok 0");
  }
  void TearDown() override {
    workers_.clear();   // ends the processes, before the leak check
    spare_.reset();
    checker_.reset();
    rk_exit_trap();
    rk_unmap_kgd();
    for (const char* v : {"RKNAME", "RKDOMAIN", "RKUSER"}) unsetenv(v);
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
    KernelTest::TearDown();
  }

  std::string seed_note() const {
    return "seed " + std::to_string(seed_) + " (RK_KILL_SEED=" + std::to_string(seed_) + " repeats the run)";
  }
  std::string log_path(const std::string& name) const { return dir_ + "/" + name; }
  std::string check(const std::string& command) { return bounded_call(*checker_, command); }
  void structures_sound() { EXPECT_EQ(check("shmcheck 0"), "ok"); }

  void add_worker(const std::string& task, std::function<std::string(uint16_t, uint32_t)> loop) {
    Worker worker;
    worker.task = task;
    worker.loop = std::move(loop);
    workers_.push_back(std::move(worker));
  }

  // Starts worker w in its slot (again, after a kill: the registration
  // takes the dead process's slot back).
  bool start(size_t w) {
    Worker& worker = workers_[w];
    const uint16_t id = static_cast<uint16_t>(w + 1);
    // A process started ahead loads while the campaign sleeps: a victim's
    // slot is taken again within a registration.
    worker.process = spare_ != nullptr ? std::move(spare_) : std::make_unique<Client>();
    spare_ = std::make_unique<Client>();
    const std::string r = bounded_call(*worker.process, "procinit " + worker.task);
    EXPECT_EQ(r, "ok " + std::to_string(id)) << worker.task << " start " << worker.starts;
    if (r != "ok " + std::to_string(id)) return false;
    worker.process->send(worker.loop(id, worker.starts++));
    return true;
  }

  // Starts every worker, then kills one at random moments and starts it
  // again, until the kill count or the time is reached. The moment is
  // chosen by a sleep, which orders nothing: now within a call, now
  // between calls. The kills, or -1 when a worker could not be started.
  int campaign() {
    for (size_t w = 0; w < workers_.size(); ++w) {
      if (!start(w)) return -1;
    }
    int kills = 0;
    const auto end = std::chrono::steady_clock::now() + kKillTime;
    while (kills < kMaxKills && std::chrono::steady_clock::now() < end) {
      const uint32_t us = rng_() % 2 ? rng_() % 500 : rng_() % 6000;
      std::this_thread::sleep_for(std::chrono::microseconds(us));
      const size_t victim = rng_() % 2 ? holder_or(rng_() % workers_.size()) : rng_() % workers_.size();
      workers_[victim].process->kill_hard();
      ++workers_[victim].kills;
      ++kills;
      if (!start(victim)) return -1;
      if (kills % kCheckEvery == 0) {
        EXPECT_EQ(check("busycheck 0"), "ok") << "after kill " << kills;
      }
    }
    return kills;
  }

  // The worker that holds the database lock at this moment, else `other`:
  // a holder killed is one killed inside an update as often as not.
  size_t holder_or(size_t other) const {
    const Kgd* kgd = attachment().kgd;
    const Addr holder = val(kgd->lock_holder);
    for (size_t w = 0; w < workers_.size(); ++w) {
      if (holder == addr_of(&app_block(kgd, 0)->cpt[w + 1])) return w;
    }
    return other;
  }

  // Asks worker w's loop to end; its summary comes with stopped().
  void stop(size_t w) { workers_[w].process->send("loopstop"); }
  std::string stopped(size_t w) {
    const std::string summary = bounded_reply(*workers_[w].process);
    EXPECT_EQ(bounded_reply(*workers_[w].process), "ok") << workers_[w].task;
    return summary;
  }
  std::string stop_now(size_t w) {
    stop(w);
    return stopped(w);
  }

  // The lines of a log that report a fault.
  std::vector<std::string> faults_in(const std::string& name) const {
    std::vector<std::string> faults;
    for (const std::string& line : lines_of(log_path(name))) {
      if (line.rfind("fault", 0) == 0) faults.push_back(name + ": " + line);
    }
    return faults;
  }

  // The blocks allocated in every pool.
  uint32_t blocks_in_pools() const {
    const Kgd* kgd = attachment().kgd;
    uint32_t blocks = 0;
    for (uint32_t p = 0; p < val(kgd->nmems); ++p) blocks += mem_pool(kgd, p)->nused;
    return blocks;
  }

  uint32_t seed_ = 0;
  std::mt19937 rng_;
  std::string dir_;
  std::unique_ptr<Client> checker_, spare_;
  std::vector<Worker> workers_;
};

// A message as a reader logged it.
struct Taken {
  uint64_t at;
  uint32_t writer, seq;
  int whole;
};

std::vector<Taken> taken_in(const std::vector<std::string>& lines) {
  std::vector<Taken> taken;
  for (const std::string& line : lines) {
    unsigned long long at = 0;
    Taken t{};
    if (sscanf(line.c_str(), "m %llu %u %u %d", &at, &t.writer, &t.seq, &t.whole) == 4) {
      t.at = at;
      taken.push_back(t);
    }
  }
  return taken;
}

// Writers put numbered messages of varying length into one mailbox with
// a limit, readers take them, asleep while it is empty; either is killed
// inside a put, a take, a wait or between them.
TEST_F(KillCampaignTest, MailboxMessagesOutliveKilledWritersAndReaders) {
  SCOPED_TRACE(seed_note());
  constexpr size_t kWriters = 3, kReaders = 3;
  const std::string mailbox = " " + std::to_string(kMailboxType) + " 0 ";
  ASSERT_EQ(check("mbxlimit 0" + mailbox + std::to_string(kMailboxLimitKiB)), "ok");
  for (size_t w = 0; w < kWriters; ++w) {
    add_worker("W" + std::to_string(w), [=, this](uint16_t id, uint32_t start) {
      // Each start numbers its messages on from a range of its own.
      return "mbxputloop " + std::to_string(id) + mailbox + std::to_string(w) + " " + std::to_string(start << 20) +
             " " + log_path("put" + std::to_string(w));
    });
  }
  for (size_t r = 0; r < kReaders; ++r) {
    add_worker("R" + std::to_string(r), [=, this](uint16_t id, uint32_t) {
      return "mbxtakeloop " + std::to_string(id) + mailbox + log_path("take" + std::to_string(r));
    });
  }
  ASSERT_GE(campaign(), 0);

  uint32_t writer_kills = 0, reader_kills = 0;
  for (size_t w = 0; w < kWriters; ++w) {
    const std::string r = stop_now(w);
    unsigned puts = 0, refused = 0;
    char fault[64] = "";
    EXPECT_EQ(sscanf(r.c_str(), "ok %u %u %63s", &puts, &refused, fault), 3) << r;
    EXPECT_STREQ(fault, "-") << workers_[w].task << ": " << r;
    writer_kills += workers_[w].kills;
  }
  // Every reader is asleep or sees its line under the lock before the end
  // mark's put, which wakes the sleepers. A mailbox too full for the mark
  // has nobody asleep on it: the put that filled it woke them all.
  for (size_t r = kWriters; r < workers_.size(); ++r) stop(r);
  const std::string mark = check("mbxendmark 0" + mailbox);
  ASSERT_TRUE(mark == "ok" || mark == "err 46") << mark;
  for (size_t r = kWriters; r < workers_.size(); ++r) {
    const std::string s = stopped(r);
    unsigned taken = 0, sleeps = 0;
    char fault[64] = "";
    EXPECT_EQ(sscanf(s.c_str(), "ok %u %u %63s", &taken, &sleeps, fault), 3) << s;
    EXPECT_STREQ(fault, "-") << workers_[r].task << ": " << s;
    reader_kills += workers_[r].kills;
  }
  structures_sound();
  const std::string rest = check("mbxtakeall 0" + mailbox + log_path("rest"));
  ASSERT_EQ(rest.rfind("ok ", 0), 0u) << rest;
  EXPECT_EQ(blocks_in_pools(), 0u) << "message blocks left after the mailbox was emptied";
  structures_sound();

  std::vector<std::string> faults;
  std::map<uint32_t, std::set<uint32_t>> acked;
  for (size_t w = 0; w < kWriters; ++w) {
    const std::string name = "put" + std::to_string(w);
    for (const std::string& line : lines_of(log_path(name))) {
      unsigned seq = 0;
      if (sscanf(line.c_str(), "a %u", &seq) == 1) acked[static_cast<uint32_t>(w)].insert(seq);
    }
    for (const std::string& f : faults_in(name)) faults.push_back(f);
  }
  std::vector<Taken> taken;
  for (size_t r = 0; r < kReaders; ++r) {
    const std::string name = "take" + std::to_string(r);
    for (const Taken& t : taken_in(lines_of(log_path(name)))) taken.push_back(t);
    for (const std::string& f : faults_in(name)) faults.push_back(f);
  }
  for (const Taken& t : taken_in(lines_of(log_path("rest")))) taken.push_back(t);
  EXPECT_TRUE(faults.empty()) << faults.front();

  // Takes ordered as the lock ordered them: each writer's messages come
  // in the order it put them, each once, each whole.
  std::stable_sort(taken.begin(), taken.end(), [](const Taken& a, const Taken& b) { return a.at < b.at; });
  std::map<uint32_t, std::set<uint32_t>> received;
  std::map<uint32_t, uint32_t> last;
  uint32_t broken = 0, repeated = 0, out_of_order = 0, strangers = 0;
  for (const Taken& t : taken) {
    broken += t.whole != 1;
    if (t.writer >= kWriters) {
      ++strangers;
      continue;
    }
    repeated += !received[t.writer].insert(t.seq).second;
    out_of_order += last.count(t.writer) != 0 && t.seq <= last[t.writer];
    last[t.writer] = t.seq;
  }
  EXPECT_EQ(broken, 0u) << "messages not as their writer put them";
  EXPECT_EQ(strangers, 0u) << "messages of no writer";
  EXPECT_EQ(repeated, 0u) << "messages taken twice";
  EXPECT_EQ(out_of_order, 0u) << "messages out of their writer's order";

  // A reader killed between its take and its log takes one message with
  // it; a writer killed after its put returned and before its log leaves
  // one message that nobody acknowledged.
  uint32_t lost = 0, unacknowledged = 0, puts = 0;
  for (uint32_t w = 0; w < kWriters; ++w) {
    puts += static_cast<uint32_t>(acked[w].size());
    for (uint32_t seq : acked[w]) lost += received[w].count(seq) == 0;
    for (uint32_t seq : received[w]) unacknowledged += acked[w].count(seq) == 0;
  }
  EXPECT_LE(lost, reader_kills) << "acknowledged messages lost";
  EXPECT_LE(unacknowledged, writer_kills) << "messages nobody acknowledged";
  EXPECT_GT(puts, 0u);
  RecordProperty("kills", static_cast<int>(writer_kills + reader_kills));
  RecordProperty("messages", static_cast<int>(taken.size()));
  RecordProperty("lost_with_readers", static_cast<int>(lost));
  RecordProperty("unacknowledged", static_cast<int>(unacknowledged));
}

// Clients allocate, fill, free and check blocks of kernel memory in the
// same pools, where a large request compacts a pool under the others'
// blocks. A killed client's blocks stay allocated; the client started in
// its slot takes over those its predecessor logged, each of which must be
// whole. Only a block caught between its allocation and its log line is
// lost: at most one per kill.
TEST_F(KillCampaignTest, KernelMemoryBlocksStayWholeThroughKills) {
  SCOPED_TRACE(seed_note());
  constexpr size_t kWorkers = 4;
  constexpr uint32_t kMaxBlocks = 12;
  for (size_t w = 0; w < kWorkers; ++w) {
    add_worker("M" + std::to_string(w), [=, this](uint16_t id, uint32_t start) {
      // Pattern seeds unique to the worker and the start.
      const uint32_t seeds = static_cast<uint32_t>(w + 1) << 28 | start << 18;
      return "memloop " + std::to_string(id) + " " + log_path("mem" + std::to_string(w)) + " " +
             std::to_string(seeds) + " " + std::to_string(kMaxBlocks) + " " + std::to_string(rng_() >> 1);
    });
  }
  const int kills = campaign();
  ASSERT_GE(kills, 0);

  uint32_t moves = 0;
  std::vector<std::string> faults;
  for (size_t w = 0; w < kWorkers; ++w) {
    const std::string r = stop_now(w);
    unsigned rounds = 0, adopted = 0, moved = 0, full = 0;
    char fault[64] = "";
    EXPECT_EQ(sscanf(r.c_str(), "ok %u %u %u %u %63s", &rounds, &adopted, &moved, &full, fault), 5) << r;
    EXPECT_STREQ(fault, "-") << workers_[w].task << ": " << r;
    moves += moved;
    for (const std::string& f : faults_in("mem" + std::to_string(w))) faults.push_back(f);
  }
  EXPECT_TRUE(faults.empty()) << faults.front();
  structures_sound();
  // The survivors freed theirs: what is left was lost by kills.
  EXPECT_LE(blocks_in_pools(), static_cast<uint32_t>(kills)) << "blocks leaked";
  RecordProperty("kills", kills);
  RecordProperty("blocks_lost", static_cast<int>(blocks_in_pools()));
  RecordProperty("blocks_seen_moved", static_cast<int>(moves));
}

// Writers store values of every kind (plain 4096, 8, 4 and 2 bytes, strings
// of varying length, digital), readers check every value they read, and
// either is killed at random; a value is the old one or the new one, never
// a mix.
TEST_F(KillCampaignTest, TagValuesOfEveryKindAreNeverTorn) {
  SCOPED_TRACE(seed_note());
  constexpr size_t kWriters = 3, kReaders = 2;
  const std::string tags = " " + std::to_string(kFirstTagType) + " " + std::to_string(kTagsPerKind) + " ";
  ASSERT_EQ(check("tagfillall 0" + tags + "1"), "ok");
  for (size_t w = 0; w < kWriters; ++w) {
    add_worker("T" + std::to_string(w), [=, this](uint16_t id, uint32_t start) {
      const uint32_t first = static_cast<uint32_t>(w + 1) << 28 | start << 16;
      return "tagwriteloop " + std::to_string(id) + tags + std::to_string(first) + " " + std::to_string(rng_() >> 1) +
             " " + log_path("write" + std::to_string(w));
    });
  }
  for (size_t r = 0; r < kReaders; ++r) {
    add_worker("V" + std::to_string(r), [=, this](uint16_t id, uint32_t) {
      return "tagreadloop " + std::to_string(id) + tags + log_path("read" + std::to_string(r)) + " 0";
    });
  }
  const int kills = campaign();
  ASSERT_GE(kills, 0);

  for (size_t w = 0; w < workers_.size(); ++w) {
    const std::string r = stop_now(w);
    unsigned batches = 0;
    char fault[64] = "";
    EXPECT_EQ(sscanf(r.c_str(), "ok %u %63s", &batches, fault), 2) << r;
    EXPECT_STREQ(fault, w < kWriters ? "-" : "0") << workers_[w].task << ": " << r;
  }
  // Read once more with everything quiet.
  checker_->send("tagreadloop 0" + tags + log_path("final") + " 1");
  checker_->send("loopstop");
  const std::string final_read = bounded_reply(*checker_);
  unsigned batches = 0, wrong = 1;
  EXPECT_EQ(sscanf(final_read.c_str(), "ok %u %u", &batches, &wrong), 2) << final_read;
  EXPECT_GE(batches, 1u);
  EXPECT_EQ(wrong, 0u) << final_read;
  EXPECT_EQ(bounded_reply(*checker_), "ok");
  std::vector<std::string> faults = faults_in("final");
  for (size_t w = 0; w < kWriters; ++w) {
    for (const std::string& f : faults_in("write" + std::to_string(w))) faults.push_back(f);
  }
  for (size_t r = 0; r < kReaders; ++r) {
    for (const std::string& f : faults_in("read" + std::to_string(r))) faults.push_back(f);
  }
  EXPECT_TRUE(faults.empty()) << faults.front();
  structures_sound();
  RecordProperty("kills", kills);
}

}  // namespace
}  // namespace rk::test
