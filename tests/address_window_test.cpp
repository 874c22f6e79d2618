// Where a process puts the segments of an RTDB: at the RKDLLBASE address
// and the addresses above it recorded for them, below 4 GiB, kept free for
// them in a 64-bit process; and what a process is told when it cannot.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/kgd_address.h"
#include "core/records.h"
#include "platform/address_window.h"
#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/named_object.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

// One line of /proc/PID/maps.
struct Mapping {
  uint64_t begin, end;
  std::string perms, path;
};

// The mappings of a process that meet [lo, hi).
std::vector<Mapping> mappings(pid_t pid, uint64_t lo = 0, uint64_t hi = UINT64_MAX) {
  std::vector<Mapping> found;
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    Mapping m;
    std::istringstream in(line);
    std::string range, offset, device, inode;
    in >> range >> m.perms >> offset >> device >> inode;
    std::getline(in >> std::ws, m.path);
    m.begin = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    m.end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
    if (m.end > lo && m.begin < hi) found.push_back(m);
  }
  return found;
}

bool same(const std::vector<Mapping>& a, const std::vector<Mapping>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].begin != b[i].begin || a[i].end != b[i].end || a[i].perms != b[i].perms) return false;
  }
  return true;
}

std::string hex_range(uint32_t base, uint32_t size) {
  const uint64_t last = uint64_t{base} + size - 1;
  char text[40];
  if (last >> 32 != 0) {
    snprintf(text, sizeof text, "0x%08x-0x%x%08x", base, static_cast<uint32_t>(last >> 32), static_cast<uint32_t>(last));
  } else {
    snprintf(text, sizeof text, "0x%08x-0x%08x", base, static_cast<uint32_t>(last));
  }
  return text;
}

// What a client command of "said" wrote: its KER lines and its reply.
struct Said {
  std::vector<std::string> ker;
  std::string reply;
};

Said said(Client& c, const std::string& command) {
  const std::string r = c.call("said " + command);
  Said out;
  if (r.rfind("ok ", 0) != 0) {
    out.reply = "said: " + r;
    return out;
  }
  std::string text;
  for (size_t i = 3; i < r.size(); ++i) {
    if (r[i] == '\\' && i + 1 < r.size()) {
      const char e = r[++i];
      text += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    } else {
      text += r[i];
    }
  }
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("KER:", 0) == 0) out.ker.push_back(line);
    out.reply = line;   // the command's own reply comes last
  }
  return out;
}

// Sets an environment variable for the clients started while it lives.
class EnvFor {
 public:
  EnvFor(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~EnvFor() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class AddressWindowTest : public KernelTest {
 protected:
  // The RTDB "Plant", made and run from here: OPS with two instances and
  // LAB with one (a kgd of more than 64 KiB), room for four memory pools,
  // instance OPS/A started.
  void start_plant() {
    rk_kusr kusrs[] = {kusr("OPS", 2), kusr("LAB", 1)};
    rk_type_entry types[] = {type_entry("ANALOG", 0, 10, 4)};
    ASSERT_EQ(rk_create_rtdb("", "", "Plant", kusrs, 2, types, 1, 0, 4, 0), 0);
    std::vector<rk_cpt_entry> table = app_template();
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", table.data()), 0);
    kgd_size_ = at<SegEntry>(attachment().kgd->seg_table)[0].size;
  }

  void TearDown() override {
    rk_exit_trap();
    rk_unmap_kgd();
    KernelTest::TearDown();
  }

  // Every call that attaches to Plant, or creates another RTDB, made in a
  // client whose process has no place for the kgd: each one gives its
  // error number and `line`, alone, and attaches to nothing.
  void expect_every_attach_refused(Client& c, const std::string& line) {
    const struct {
      const char* command;
      const char* reply;
      bool creation;
    } calls[] = {
        {"createplant Other", "ok -2", true},  {"mapfirst", "err -42", false},
        {"procinitapp T Plant OPS A", "ok -4", false}, {"initapp Plant OPS B", "ok -42", false},
        {"delete 0", "ok -1", false},
    };
    for (const auto& call : calls) {
      SCOPED_TRACE(call.command);
      const Said out = said(c, call.command);
      EXPECT_EQ(out.reply, call.reply);
      std::vector<std::string> expected = {line};
      if (call.creation) expected.insert(expected.begin(), "KER: Shared memory mapping failed");
      EXPECT_EQ(out.ker, expected);
    }
    for (const Mapping& m : mappings(c.pid())) {
      EXPECT_EQ(m.path.find("/dev/shm/" + ns_), std::string::npos) << "mapped anyway: " << m.path;
    }
  }

  uint32_t kgd_size_ = 0;
};

TEST_F(AddressWindowTest, RkdllbaseIsReadAlikeOnEveryTarget) {
  const struct {
    const char* text;
    uint32_t base;   // 0: refused
  } cases[] = {
      {nullptr, kDefaultBase},  {"", kDefaultBase},       {"0", kDefaultBase},  {" 0x60000000 ", 0x60000000},
      {"60000000", 0x60000000}, {"fffff000", 0xfffff000}, {"100000000", 0},     {"1FFFFFFFF", 0},
      {"20800800", 0},          {"FFFFFFFFFFFFFFFFFFFF", 0}, {"-1", 0},         {"+20800000", 0},
      {"60000000zz", 0},        {"garbage", 0},           {"0x", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_kgd_base(c.text), c.base) << (c.text != nullptr ? c.text : "unset");
  }
}

TEST_F(AddressWindowTest, ABadRkdllbaseIsRefusedByEveryAttach) {
  start_plant();
  ASSERT_GT(kgd_size_, 0x10000u);
  const size_t objects = objects_left().size();
  const struct {
    const char* value;
    std::string line;
  } cases[] = {
      {"100000000", "KER: RKDLLBASE=100000000 is not a page-aligned address below 4 GiB"},
      {"1FFFFFFFF", "KER: RKDLLBASE=1FFFFFFFF is not a page-aligned address below 4 GiB"},
      {"20800800", "KER: RKDLLBASE=20800800 is not a page-aligned address below 4 GiB"},
      {"bogus", "KER: RKDLLBASE=bogus is not a page-aligned address below 4 GiB"},
      {"FFFFF000", "KER: address range " + hex_range(0xFFFFF000, kgd_size_) + " does not lie below 4 GiB"},
      {"FFFF0000", "KER: address range " + hex_range(0xFFFF0000, kgd_size_) + " does not lie below 4 GiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EnvFor base("RKDLLBASE", c.value);
    Client client;
    expect_every_attach_refused(client, c.line);
  }
  EXPECT_EQ(objects_left().size(), objects) << "a refused creation left objects behind";
}

TEST_F(AddressWindowTest, AProcessWhoseWindowIsTakenCannotAttachWhileOthersCan) {
  start_plant();
  const size_t objects = objects_left().size();
  const std::string line = "KER: address range " + hex_range(kTestBase, kgd_size_) + " is not free in this process";
  const uint32_t page = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
  // Memory of the process's own at the kgd's first page, and at its last.
  for (uint32_t at : {kTestBase, (kTestBase + kgd_size_ - 1) & ~(page - 1)}) {
    SCOPED_TRACE(at);
    Client taken;
    char occupy[48];
    snprintf(occupy, sizeof occupy, "occupy %x %x", at, page);
    taken.ok(occupy);
    expect_every_attach_refused(taken, line);

    Client unhindered;
    const std::string id = unhindered.call("procinitapp T Plant OPS A");
    ASSERT_EQ(id.rfind("ok ", 0), 0u) << id;
    EXPECT_EQ(unhindered.call("procexit " + id.substr(3)), "ok 0");
  }
  EXPECT_EQ(objects_left().size(), objects) << "a refused creation left objects behind";
}

// The address window of a process: the run of mappings from kTestBase on
// that are placeholders or views of this test's objects, without a gap.
std::vector<Mapping> window_of(pid_t pid, const std::string& ns) {
  std::vector<Mapping> window;
  uint64_t next = kTestBase;
  for (const Mapping& m : mappings(pid, kTestBase, kFourGiB)) {
    const bool placeholder = m.perms == "---p" && m.path.empty();
    const bool view = m.perms == "rw-s" && m.path.find("/dev/shm/" + ns) == 0;
    if (m.begin != next || !(placeholder || view)) break;
    window.push_back(m);
    next = m.end;
  }
  return window;
}

// The segments of an RTDB and the addresses kept for them in one process:
// from kTestBase on, the window is one run of mappings, each a view exactly
// at a segment's recorded base or a placeholder, and every segment is there.
void expect_window_holds_the_segments(pid_t pid, const std::string& ns, const Kgd* kgd) {
  SCOPED_TRACE(pid);
  std::vector<uint32_t> bases;
  const SegEntry* segs = at<SegEntry>(kgd->seg_table);
  for (uint32_t i = 0; i < kgd->nsegs; ++i) {
    EXPECT_LE(uint64_t{segs[i].base} + segs[i].size, kFourGiB) << i;
    bases.push_back(val(segs[i].base));
  }
  std::vector<uint32_t> views;
  for (const Mapping& m : window_of(pid, ns)) {
    if (m.perms == "rw-s") views.push_back(static_cast<uint32_t>(m.begin));
  }
  EXPECT_EQ(views, bases) << "the views are not the segments, each at its base";
  const std::vector<Mapping> window = window_of(pid, ns);
  ASSERT_FALSE(window.empty());
  EXPECT_GT(window.back().end, uint64_t{bases.back()} + segs[kgd->nsegs - 1].size) << "no window beyond the segments";
}

// Memory the process asks for without naming an address stays out of the
// window [kTestBase, end); a named address inside it is only a hint.
void expect_own_memory_outside(uint64_t end, uint32_t hint) {
  const auto outside = [&](const void* p, size_t size) {
    const auto a = reinterpret_cast<uintptr_t>(p);
    return a + size <= kTestBase || a >= end;
  };
  const size_t mapped = 16u << 20, hinted_size = 1u << 20, heap_size = 256u << 20;
  void* anywhere = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  void* hinted = mmap(reinterpret_cast<void*>(static_cast<uintptr_t>(hint)), hinted_size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  void* heap = malloc(heap_size);
  ASSERT_NE(anywhere, MAP_FAILED);
  ASSERT_NE(hinted, MAP_FAILED);
  ASSERT_NE(heap, nullptr);
  EXPECT_TRUE(outside(anywhere, mapped)) << anywhere;
  EXPECT_TRUE(outside(hinted, hinted_size)) << hinted;
  EXPECT_TRUE(outside(heap, heap_size)) << heap;
  munmap(anywhere, mapped);
  munmap(hinted, hinted_size);
  free(heap);
}

TEST_F(AddressWindowTest, ThoseAttachedKeepTheWindowForTheSegmentsUntilTheyDetach) {
  if (sizeof(void*) < 8) GTEST_SKIP() << "a 32-bit process keeps no address window";
  const std::vector<Mapping> before = mappings(getpid(), kTestBase, kFourGiB);
  start_plant();
  Kgd* kgd = attachment().kgd;
  const int16_t id = rk_proc_init_app("RUN", "run manager", "Plant", "OPS", "A");
  ASSERT_GE(id, 0);
  const uint32_t made_at_creation = kgd->nsegs;
  // Segments made here and in another process, as kernel memory grows.
  rk_mem_handle h = 0;
  ASSERT_EQ(rk_alloc_mem(id, kMaxMemBytes, &h), 0);
  Client other;
  const std::string other_id = other.call("procinitapp CLI Plant OPS A");
  ASSERT_EQ(other_id.rfind("ok ", 0), 0u) << other_id;
  other.ok("memalloc " + other_id.substr(3) + " " + std::to_string(kMaxMemBytes));
  ASSERT_EQ(rk_lock(id), 0);   // maps what the other process added
  ASSERT_EQ(rk_unlock(id), 0);
  ASSERT_EQ(val(kgd->nsegs), made_at_creation + 2);
  expect_window_holds_the_segments(getpid(), ns_, kgd);
  expect_window_holds_the_segments(other.pid(), ns_, kgd);

  const uint64_t end = window_of(getpid(), ns_).back().end;
  const uint32_t hint = static_cast<uint32_t>(kgd->next_free + 0x1000000) & ~0xFFFFFu;
  ASSERT_LT(hint + (1u << 20), end) << "the window ends too early to ask inside it";
  expect_own_memory_outside(end, hint);

  // A forked child has the window too, and leaving it leaves it to the parent.
  const pid_t child = fork();
  if (child == 0) {
    const bool ok = strcmp(RtdbName(kgd).text, "Plant") == 0 &&
                    mmap(reinterpret_cast<void*>(static_cast<uintptr_t>(hint)), 1u << 20, PROT_NONE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != reinterpret_cast<void*>(static_cast<uintptr_t>(hint));
    rk_unmap_kgd();
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  expect_window_holds_the_segments(getpid(), ns_, kgd);
  expect_own_memory_outside(end, hint);

  EXPECT_EQ(other.call("procexit " + other_id.substr(3)), "ok 0");
  ASSERT_EQ(rk_proc_exit(id), 0);
  rk_unmap_kgd();
  EXPECT_TRUE(same(mappings(getpid(), kTestBase, kFourGiB), before)) << "the window was not given back";
}

TEST_F(AddressWindowTest, AViewTakesItsPlaceInTheWindowAndGivesItBack) {
  if (sizeof(void*) < 8) GTEST_SKIP() << "a 32-bit process keeps no address window";
  const uint32_t base = kTestViewBase;
  const std::vector<Mapping> before = mappings(getpid(), base, kFourGiB);
  bool made = false;
  ASSERT_TRUE(os::address_window_reserve(base, 0x10000, &made));
  EXPECT_TRUE(made);
  const std::vector<Mapping> reserved = mappings(getpid(), base, kFourGiB);
  ASSERT_FALSE(reserved.empty());
  EXPECT_EQ(reserved.front().begin, base);
  EXPECT_EQ(reserved.front().perms, "---p");

  const os::Handle h = os::mapping_create("VIEW", 0x3000, false);
  ASSERT_NE(h, 0u);
  void* view = os::map_view(h, base + 0x10000);
  ASSERT_EQ(view, reinterpret_cast<void*>(static_cast<uintptr_t>(base) + 0x10000));
  static_cast<char*>(view)[0x2fff] = 1;
  // A range where a view of the process lies is taken, in the window too.
  for (uint32_t at : {base + 0x10000, base + 0xF000, base + 0x12000}) {
    EXPECT_EQ(os::map_view(h, at), nullptr) << std::hex << at;
    EXPECT_EQ(os::last_error(), EEXIST);
  }
  EXPECT_TRUE(os::unmap_view(view));
  EXPECT_TRUE(same(mappings(getpid(), base, kFourGiB), reserved)) << "the view left a hole";
  // The place is the window's again: a view goes there once more.
  view = os::map_view(h, base + 0x10000);
  EXPECT_NE(view, nullptr);
  EXPECT_TRUE(os::unmap_view(view));

  os::address_window_release();
  EXPECT_TRUE(same(mappings(getpid(), base, kFourGiB), before));
  os::close_handle(h);
  EXPECT_TRUE(os::object_remove("VIEW"));
}

}  // namespace
}  // namespace rk::test
