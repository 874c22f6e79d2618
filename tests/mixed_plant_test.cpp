// One RTDB shared by processes of both variants (i386 and x86_64): values
// of every kind, change waits, mailboxes, signals, names, tag lists,
// attribute handlers and kernel memory cross between them, the tools of
// either variant read the other's RTDB, and a process of either variant
// killed at any point of locking or waiting is cleaned up by the other.
//
// They run where RK_OTHER_BUILD names the other variant's build tree: the
// i386 suite runs them with the native build's test client and rkctl, and
// runs the native build's own with its own.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "support/plant_run.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

// The other variant's build tree, from the suite's environment.
const std::string kOtherBuild = getenv("RK_OTHER_BUILD") != nullptr ? getenv("RK_OTHER_BUILD") : "";

enum : uint16_t { kAnalog, kWide, kWord8, kText, kMbx, kFlag };

bool executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

// rkctl of the other variant, started with its output on a pipe.
struct OtherRkctl {
  pid_t pid = -1;
  int out = -1;
  std::string text;

  explicit OtherRkctl(const std::vector<std::string>& args) {
    const std::string program = kOtherBuild + "/rkctl";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    out = fds[0];
  }
  ~OtherRkctl() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
  // Reads what comes within ms; false once the output has ended.
  bool read_for(int ms) {
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return true;
    char buf[4096];
    const ssize_t n = read(out, buf, sizeof buf);
    if (n > 0) text.append(buf, static_cast<size_t>(n));
    return n > 0;
  }
  // The exit code once the output has ended (bounded), -1 otherwise.
  int finish() {
    for (int i = 0; i < 200 && read_for(100);) ++i;
    int status = 0;
    const bool ended = pid > 0 && waitpid(pid, &status, 0) == pid;
    pid = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

std::pair<int, std::string> other_rkctl(const std::vector<std::string>& args) {
  OtherRkctl tool(args);
  const int code = tool.finish();
  return {code, tool.text};
}

// The RTDB "Mixed", made and run by this process; `mine` is a client of
// this variant (task M, id 0), `theirs` one of the other (task T, id 1).
class MixedPlantTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
#ifdef RK_TEST_DLLBASE
    GTEST_SKIP() << "the sanitizer build maps RTDBs elsewhere than the other variant's build";
#endif
    if (!executable(other_client())) GTEST_SKIP() << "no build of the other variant at '" << kOtherBuild << "'";
    setenv("RKNAME", "Mixed", 1);
    setenv("RKDOMAIN", "OPS", 1);
    setenv("RKUSER", "A", 1);
  }
  void TearDown() override {
    mine_.reset();
    theirs_.reset();
    if (running_) {
      EXPECT_EQ(rk_exit_app(0), 0);
      rk_unmap_kgd();
    }
    for (const char* v : {"RKNAME", "RKDOMAIN", "RKUSER"}) unsetenv(v);
    KernelTest::TearDown();
  }

  static std::string other_client() { return kOtherBuild.empty() ? "" : kOtherBuild + "/tests/rk_test_client"; }

  void run_here() {
    rk_kusr ops = kusr("OPS", 1);
    std::vector<rk_type_entry> types = mixed_types();
    ASSERT_EQ(rk_create_rtdb("", "", "Mixed", &ops, 1, types.data(), static_cast<uint32_t>(types.size()), 4, 4, 0),
              0);
    ASSERT_EQ(rk_init_app("Mixed", "OPS", "A", app_template().data()), 0);
    running_ = true;
    register_both();
  }
  void register_both() {
    mine_ = std::make_unique<Client>();
    ASSERT_EQ(bounded_call(*mine_, "procinit M"), "ok 0");
    theirs_ = std::make_unique<Client>(other_client(), std::vector<std::string>{});
    ASSERT_EQ(bounded_call(*theirs_, "procinit T"), "ok 1");
  }

  std::string m(const std::string& command) { return bounded_call(*mine_, command); }
  std::string t(const std::string& command) { return bounded_call(*theirs_, command); }

  std::unique_ptr<Client> mine_, theirs_;
  bool running_ = false;
};

// Each side writes every kind of value, each from its own memory, and the
// other reads it whole.
TEST_F(MixedPlantTest, ValuesOfEveryKindCrossBetweenTheVariants) {
  run_here();
  struct Side {
    const char* name;
    std::function<std::string(const std::string&)> call;
    uint16_t id;
  };
  const Side sides[] = {{"this variant", [&](const std::string& c) { return m(c); }, 0},
                        {"the other variant", [&](const std::string& c) { return t(c); }, 1}};
  for (int w = 0; w < 2; ++w) {
    const Side& writer = sides[w];
    const Side& reader = sides[1 - w];
    SCOPED_TRACE(std::string("written by ") + writer.name);
    const std::string wid = std::to_string(writer.id), rid = std::to_string(reader.id);
    const std::string seed = std::to_string(100 + w);
    EXPECT_EQ(writer.call("tagwrite " + wid + " " + wid + " 0 3 " + (w ? "beef" : "cafe")), "ok");
    EXPECT_EQ(writer.call("widewrite " + wid + " 1 2 64 " + seed), "ok");
    EXPECT_EQ(writer.call("widewrite " + wid + " 2 1 8 " + seed), "ok");
    EXPECT_EQ(writer.call("strwrite " + wid + " 3 0 grün-" + seed), "ok");
    EXPECT_EQ(writer.call("tagwrite " + wid + " " + wid + " 5 2 1"), "ok");
    EXPECT_EQ(writer.call("mbxput " + wid + " " + rid + " 4 0 from-" + seed), "ok");

    EXPECT_EQ(reader.call("tagread " + rid + " 0 3"), std::string("ok ") + (w ? "beef" : "cafe"));
    EXPECT_EQ(reader.call("wideread " + rid + " 1 2 64"), "ok " + seed);
    EXPECT_EQ(reader.call("wideread " + rid + " 2 1 8"), "ok " + seed);
    EXPECT_EQ(reader.call("strread " + rid + " 3 0"), "ok grün-" + seed);
    EXPECT_EQ(reader.call("tagread " + rid + " 5 2"), "ok 1");
    EXPECT_EQ(reader.call("mbxtake " + rid + " 4 0"), "ok from-" + seed);
    EXPECT_EQ(writer.call("tagwrite " + wid + " " + wid + " 5 2 0"), "ok");
  }
  EXPECT_EQ(m("shmcheck 0"), "ok");
}

// A change wait of either variant wakes on the other's write; signals go
// both ways by task name.
TEST_F(MixedPlantTest, WaitsAndSignalsWakeAcrossTheVariants) {
  run_here();
  for (int w = 0; w < 2; ++w) {
    SCOPED_TRACE(w == 0 ? "this variant waits" : "the other variant waits");
    Client& sleeper = w == 0 ? *mine_ : *theirs_;
    Client& writer = w == 0 ? *theirs_ : *mine_;
    const uint16_t sleeper_id = static_cast<uint16_t>(w);
    const std::string sid = std::to_string(w), wid = std::to_string(1 - w);
    // A tag of each direction's own, unchanged so far.
    const std::string tag = std::to_string(5 + w);
    sleeper.send("chgwait " + sid + " 0 0:" + tag);
    ASSERT_TRUE(reaches_state(*slot_entry(attachment().kgd, sleeper_id), kWaitTag));
    EXPECT_EQ(bounded_call(writer, "tagwrite " + wid + " " + wid + " 0 " + tag + " " + std::to_string(7 + w)), "ok");
    EXPECT_EQ(bounded_reply(sleeper), "ok 0 " + std::to_string(7 + w) + " 0");

    EXPECT_EQ(bounded_call(writer, "sendsig " + wid + " " + (w == 0 ? "M" : "T") + " 0"), "ok 0");
    EXPECT_EQ(bounded_call(sleeper, "recvsig " + sid), "ok 0");
  }
}

// Names, tag lists, attribute handlers and kernel memory: what one variant
// sets up, the other finds and uses.
TEST_F(MixedPlantTest, ListsHandlersAndMemoryServeBothVariants) {
  run_here();
  // A list set by the other variant for this one, by its name.
  EXPECT_EQ(t("listset 1 M 3"), "ok");
  EXPECT_EQ(m("listcount 0"), "ok 3");
  EXPECT_EQ(m("listset 0 T 2"), "ok");
  EXPECT_EQ(t("listcount 1"), "ok 2");
  // A handler runs in the process that installed it, whichever variant:
  // each refuses the reads of tags with its own bit.
  EXPECT_EQ(t("refuser 1 read 4"), "ok 0");
  EXPECT_EQ(m("refuser 0 read 8"), "ok 0");
  const int me = rk_proc_init("OPERATOR", "this process");
  ASSERT_EQ(me, 2);
  const rk_tag_ref tags[] = {{kAnalog, 1}, {kAnalog, 2}};
  const uint32_t bits[] = {4, 8};
  ASSERT_EQ(rk_modify_attr(static_cast<rk_client_id>(me), tags, 2, bits, 0), 0);
  EXPECT_EQ(t("tagread 1 0 1"), "err 99");
  EXPECT_EQ(t("tagread 1 0 2"), "ok 0");
  EXPECT_EQ(m("tagread 0 0 1"), "ok 0");
  EXPECT_EQ(m("tagread 0 0 2"), "err 99");
  // Kernel memory: a block filled by one, checked by the other.
  const uint32_t theirs = theirs_->ok("memalloc 1 1000");
  EXPECT_EQ(t("memfill 1 " + std::to_string(theirs) + " 5"), "ok 0");
  EXPECT_EQ(m("memcheck 0 " + std::to_string(theirs) + " 5"), "ok 0");
  const uint32_t mine = mine_->ok("memalloc 0 3000");
  EXPECT_EQ(m("memfill 0 " + std::to_string(mine) + " 6"), "ok 0");
  EXPECT_EQ(t("memcheck 1 " + std::to_string(mine) + " 6"), "ok 0");
  EXPECT_EQ(t("memfree 1 " + std::to_string(mine)), "ok");
  EXPECT_EQ(m("shmcheck 0"), "ok");
}

// The other variant's rkctl on this variant's RTDB: ls, get, set, dump and top.
TEST_F(MixedPlantTest, TheOtherVariantsToolsReadAndWriteThisRtdb) {
  if (!executable(kOtherBuild + "/rkctl")) GTEST_SKIP() << "no rkctl in the other variant's build";
  run_here();
  // ANALOG holds raw bytes, which rkctl shows in hex, first byte first.
  EXPECT_EQ(m("tagwrite 0 0 0 4 2a"), "ok");
  auto [code, out] = other_rkctl({"ls"});
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("Mixed"), std::string::npos) << out;
  std::tie(code, out) = other_rkctl({"get", "ANALOG[4]"});
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("ANALOG[4] = 0x2a000000"), std::string::npos) << out;
  std::tie(code, out) = other_rkctl({"set", "ANALOG[4]=0x2b000000"});
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(m("tagread 0 0 4"), "ok 2b");
  std::tie(code, out) = other_rkctl({"dump", "procs"});
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("T"), std::string::npos) << out;
  std::tie(code, out) = other_rkctl({"top", "--once", "--json"});
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(m("shmcheck 0"), "ok");
}

// A process of the other variant killed while it holds the database lock or
// the kernel mutex, queues for the lock or sleeps in a wait: this variant's
// client goes on within the bound.
TEST_F(MixedPlantTest, AKilledProcessOfTheOtherVariantIsCleanedUp) {
  run_here();
  struct Case {
    const char* what;
    std::function<void()> before_kill;
  } cases[] = {
      {"holding the database lock", [this] { EXPECT_EQ(t("dblock 1"), "ok"); }},
      {"holding the kernel mutex", [this] { EXPECT_EQ(t("take 1"), "ok 0"); }},
      {"queued for the lock",
       [this] {
         EXPECT_EQ(m("dblock 0"), "ok");
         theirs_->send("dblock 1");
         EXPECT_FALSE(theirs_->reply_ready(100));
       }},
      {"asleep in a wait", [this] {
         theirs_->send("wait 1 1");
         EXPECT_FALSE(theirs_->reply_ready(100));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.before_kill();
    theirs_->kill_hard();
    // The bound of about a second: a dead mutex owner is found within
    // tenths of a second, a dead lock holder at once.
    EXPECT_EQ(bounded_call(*mine_, "dblock 0", 3000), "ok");
    EXPECT_EQ(m("dbunlock 0"), "ok");
    if (std::string(c.what) == "queued for the lock") {
      EXPECT_EQ(m("dbunlock 0"), "ok");
    }
    EXPECT_EQ(m("shmcheck 0"), "ok");
    theirs_ = std::make_unique<Client>(other_client(), std::vector<std::string>{});
    ASSERT_EQ(bounded_call(*theirs_, "procinit T"), "ok 1") << "the dead client's slot is free again";
  }
}

// The other variant makes and runs the RTDB; this one joins and is killed
// at each point; the RTDB goes when the last process is gone.
TEST_F(MixedPlantTest, AnRtdbOfTheOtherVariantOutlivesThisOnesKillsAndGoesWithItsLast) {
  auto manager = std::make_unique<Client>(other_client(), std::vector<std::string>{});
  ASSERT_EQ(bounded_call(*manager, "mixedrtdb Mixed"), "ok 0");
  ASSERT_EQ(bounded_call(*manager, "procinit R"), "ok 0");
  const struct {
    const char* step;
    const char* reply;   // null: the step sleeps
  } kills[] = {{"dblock 1", "ok"}, {"take 1", "ok 0"}, {"wait 1 1", nullptr}};
  for (const auto& k : kills) {
    SCOPED_TRACE(k.step);
    Client victim;
    ASSERT_EQ(bounded_call(victim, "procinit M"), "ok 1");
    if (k.reply != nullptr) {
      EXPECT_EQ(bounded_call(victim, k.step), k.reply);
    } else {
      victim.send(k.step);
      EXPECT_FALSE(victim.reply_ready(100));
    }
    victim.kill_hard();
    EXPECT_EQ(bounded_call(*manager, "dblock 0", 3000), "ok");
    EXPECT_EQ(bounded_call(*manager, "dbunlock 0"), "ok");
    EXPECT_EQ(bounded_call(*manager, "shmcheck 0"), "ok");
  }
  manager->kill_hard();
  // Nobody holds it now: the first look finds it dead and removes it
  // (KernelTest's teardown looks, and fails on anything left).
}

}  // namespace
}  // namespace rk::test
