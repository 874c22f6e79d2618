// Named objects across real processes: lifetime, exclusion, fixed-address
// views, robust mutexes, auto-reset events, access and namespaces.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/named_object.h"
#include "support/kernel_test.h"

namespace rk::test {
namespace {

using PlatformTest = KernelTest;

// An address of the test's view range, as the client commands take it.
std::string view_at(uint32_t offset) {
  char text[16];
  snprintf(text, sizeof text, "%x", kTestViewBase + offset);
  return text;
}

struct KindCase {
  const char* create;
  const char* open;
  os::Handle (*open_here)(const char*);
};
const KindCase kKinds[] = {
    {"mapcreate X 1000", "mapopen X", [](const char* n) { return os::mapping_open(n); }},
    {"mtxcreate X", "mtxopen X", [](const char* n) { return os::mutex_open(n); }},
    {"evcreate X", "evopen X", [](const char* n) { return os::event_open(n); }},
};

TEST_F(PlatformTest, NamesStayUntilRemovedWhoeverCreatedThemAndHowever) {
  for (const KindCase& k : kKinds) {
    SCOPED_TRACE(k.create);
    // An object that nobody holds at the moment is not a leftover: neither
    // a normal exit nor a kill of its creator takes its name along.
    Client exits, killed;
    exits.ok(k.create);
    exits.send("exit 0");
    EXPECT_EQ(exits.wait_exit(), 0);
    os::Handle h = k.open_here("X");
    EXPECT_NE(h, 0u);
    EXPECT_TRUE(os::close_handle(h));
    EXPECT_EQ(killed.call(k.create), "err " + std::to_string(EEXIST));
    killed.kill_hard();
    h = k.open_here("X");
    EXPECT_NE(h, 0u);
    EXPECT_TRUE(os::close_handle(h));
    // Removing the name is what ends it.
    EXPECT_TRUE(os::object_remove("X"));
    EXPECT_EQ(k.open_here("X"), 0u);
    EXPECT_EQ(os::last_error(), ENOENT);
    EXPECT_TRUE(os::object_remove("X")) << "a name that is gone counts as removed";
  }
}

// The open descriptors of this process.
int open_descriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

TEST_F(PlatformTest, ObjectsKeepNoDescriptorOnceMapped) {
  const int before = open_descriptors();
  std::vector<os::Handle> handles;
  std::vector<void*> views;
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    handles.push_back(os::mutex_create(("x" + n).c_str(), false));
    handles.push_back(os::event_create(("e" + n).c_str(), false));
    handles.push_back(os::mapping_create(("m" + n).c_str(), 4096, false));
    views.push_back(os::map_view(handles.back(), 0));
    handles.push_back(os::event_open(("e" + n).c_str()));
  }
  for (os::Handle h : handles) EXPECT_NE(h, 0u);
  for (void* v : views) EXPECT_NE(v, nullptr);
  EXPECT_EQ(open_descriptors(), before);
  for (void* v : views) EXPECT_TRUE(os::unmap_view(v));
  for (os::Handle h : handles) EXPECT_TRUE(os::close_handle(h));
  for (int i = 0; i < 40; ++i) {
    for (const char* kind : {"x", "e", "m"}) EXPECT_TRUE(os::object_remove((kind + std::to_string(i)).c_str()));
  }
}

TEST_F(PlatformTest, HoldsTellWhetherAnybodyElseStillUsesAMapping) {
  os::Handle mine = os::mapping_create("H", 4096, false);
  ASSERT_NE(mine, 0u);
  ASSERT_TRUE(os::mapping_hold(mine));
  Client other;
  const uint32_t theirs = other.ok("mapopen H");
  other.ok("hold " + std::to_string(theirs));
  // Two holders: neither is alone, and a failed look costs nobody the hold.
  EXPECT_FALSE(os::mapping_hold_alone(mine));
  ASSERT_TRUE(os::mapping_hold(mine));
  EXPECT_EQ(other.call("holdalone " + std::to_string(theirs)), "err 0");
  other.ok("hold " + std::to_string(theirs));
  // A killed holder holds nothing any more.
  other.kill_hard();
  EXPECT_TRUE(os::mapping_hold_alone(mine));
  // Alone, and exclusively: a shared hold of another process is refused.
  Client late;
  const uint32_t late_h = late.ok("mapopen H");
  EXPECT_EQ(late.call("hold " + std::to_string(late_h)), "err " + std::to_string(EWOULDBLOCK));
  EXPECT_TRUE(os::mapping_linked(mine));
  EXPECT_TRUE(os::object_remove("H"));
  EXPECT_FALSE(os::mapping_linked(mine)) << "a removed name still counted";
  EXPECT_TRUE(os::close_handle(mine));
}

TEST_F(PlatformTest, AnotherUsersObjectOpensOnlyForAnyone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give an object to another user";
  for (const KindCase& k : kKinds) {
    SCOPED_TRACE(k.create);
    Client creator;
    creator.ok(k.create);
    creator.kill_hard();
    ASSERT_EQ(chown(shm_file("X").c_str(), 65534, 65534), 0);
    EXPECT_EQ(k.open_here("X"), 0u);
    EXPECT_EQ(os::last_error(), EACCES);
    os::Handle h = os::mapping_open("X", os::Owner::Anyone);
    EXPECT_NE(h, 0u);
    EXPECT_FALSE(os::mapping_is_own(h));
    EXPECT_TRUE(os::close_handle(h));
    EXPECT_TRUE(os::object_remove("X"));
  }
}

TEST_F(PlatformTest, ViewsAtOneFixedAddressShareBytes) {
  Client a, b;
  uint32_t ha = a.ok("mapcreate S 10000");
  uint32_t hb = b.ok("mapopen S");
  EXPECT_EQ(a.ok("view " + std::to_string(ha) + " " + view_at(0)), kTestViewBase);
  EXPECT_EQ(b.ok("view " + std::to_string(hb) + " " + view_at(0)), kTestViewBase);
  a.ok("poke " + view_at(0x10) + " 1234abcd");
  EXPECT_EQ(b.ok("peek " + view_at(0x10)), 0x1234abcdu);
  b.ok("poke " + view_at(0xfffc) + " 77");
  EXPECT_EQ(a.ok("peek " + view_at(0xfffc)), 0x77u);

  // A second view over the taken range fails and leaves the first in place.
  uint32_t other = a.ok("mapcreate T 1000");
  EXPECT_EQ(a.call("view " + std::to_string(other) + " " + view_at(0)), "err " + std::to_string(EEXIST));
  EXPECT_EQ(a.call("view " + std::to_string(other) + " " + view_at(0xf000)), "err " + std::to_string(EEXIST));
  EXPECT_EQ(a.ok("peek " + view_at(0x10)), 0x1234abcdu);
  a.send("exit 0");
  b.send("exit 0");
  a.wait_exit();
  b.wait_exit();
  EXPECT_TRUE(os::object_remove("S"));
  EXPECT_TRUE(os::object_remove("T"));
}

TEST_F(PlatformTest, MutexOfKilledOwnerGoesToNextWaiterAndNests) {
  Client owner, waiter;
  uint32_t ho = owner.ok("mtxcreate M");
  uint32_t hw = waiter.ok("mtxopen M");
  owner.ok("lock " + std::to_string(ho));
  owner.ok("lock " + std::to_string(ho));
  waiter.send("lock " + std::to_string(hw));
  EXPECT_FALSE(waiter.reply_ready(200)) << "the waiter got a held mutex";
  owner.kill_hard();
  EXPECT_EQ(waiter.reply(), "ok");
  waiter.ok("lock " + std::to_string(hw));
  waiter.ok("unlock " + std::to_string(hw));
  waiter.ok("unlock " + std::to_string(hw));
  EXPECT_EQ(waiter.call("unlock " + std::to_string(hw)), "err " + std::to_string(EPERM));
  waiter.send("exit 0");
  waiter.wait_exit();
  EXPECT_TRUE(os::object_remove("M"));
}

// Waiters announce themselves in the event's second word before they sleep.
uint32_t sleepers(const std::string& file) {
  uint32_t words[2] = {0, 0};
  int fd = open(file.c_str(), O_RDONLY);
  if (fd >= 0) {
    EXPECT_EQ(pread(fd, words, sizeof words, 0), static_cast<ssize_t>(sizeof words));
    close(fd);
  }
  return words[1];
}

TEST_F(PlatformTest, EventSetReleasesExactlyOneWaitAndIsKeptUntilThen) {
  Client a, b;
  os::Handle mine = os::event_create("E", false);
  ASSERT_NE(mine, 0u);
  uint32_t ha = a.ok("evopen E");
  uint32_t hb = b.ok("evopen E");

  // Set before anyone waits: kept for the next wait.
  EXPECT_EQ(os::event_set(mine), 0);
  EXPECT_EQ(a.call("evwait " + std::to_string(ha)), "ok");

  // Reset clears a pending set.
  EXPECT_EQ(os::event_set(mine), 0);
  EXPECT_EQ(os::event_reset(mine), 0);
  a.send("evwait " + std::to_string(ha));
  b.send("evwait " + std::to_string(hb));
  for (int spins = 0; sleepers(shm_file("E")) != 2 && spins < 1000000; ++spins) sched_yield();
  ASSERT_EQ(sleepers(shm_file("E")), 2u);

  // One set, one release.
  EXPECT_EQ(os::event_set(mine), 0);
  while (!a.reply_ready(10) && !b.reply_ready(10)) {
  }
  Client& first = a.reply_ready(0) ? a : b;
  Client& other = &first == &a ? b : a;
  EXPECT_EQ(first.reply(), "ok");
  EXPECT_FALSE(other.reply_ready(200)) << "one set released two waits";
  EXPECT_EQ(os::event_set(mine), 0);
  EXPECT_EQ(other.reply(), "ok");
  EXPECT_TRUE(os::close_handle(mine));
  EXPECT_TRUE(os::object_remove("E"));
}

TEST_F(PlatformTest, AccessFollowsTheEveryoneFlag) {
  mode_t old = umask(077);   // the umask must not narrow shared objects
  struct Case {
    os::Handle h;
    const char* name;
    mode_t mode;
  } cases[] = {
      {os::mapping_create("m4", 100, true), "m4", 0666}, {os::mapping_create("m0", 100, false), "m0", 0600},
      {os::mutex_create("x4", true), "x4", 0666},        {os::mutex_create("x0", false), "x0", 0600},
      {os::event_create("e4", true), "e4", 0666},        {os::event_create("e0", false), "e0", 0600},
  };
  umask(old);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.h, 0u);
    struct stat st;
    ASSERT_EQ(stat(shm_file(c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.mode);
    EXPECT_TRUE(os::close_handle(c.h));
    EXPECT_TRUE(os::object_remove(c.name));
  }
}

TEST_F(PlatformTest, NamespacesAreSeparateAndNamesAreExclusive) {
  os::Handle mine = os::mapping_create("N", 100, false);
  ASSERT_NE(mine, 0u);
  EXPECT_EQ(os::mapping_create("N", 100, false), 0u);
  EXPECT_EQ(os::last_error(), EEXIST);

  std::string other = ns_ + "other_";
  setenv("RKNAMESPACE", other.c_str(), 1);
  EXPECT_EQ(os::mapping_open("N"), 0u);
  EXPECT_EQ(os::last_error(), ENOENT);
  os::Handle theirs = os::mapping_create("N", 100, false);
  EXPECT_NE(theirs, 0u);
  EXPECT_TRUE(os::close_handle(theirs));
  EXPECT_TRUE(os::object_remove("N"));
  setenv("RKNAMESPACE", ns_.c_str(), 1);

  EXPECT_TRUE(os::close_handle(mine));
  EXPECT_FALSE(os::close_handle(mine)) << "a closed handle still worked";
  EXPECT_TRUE(os::object_remove("N"));
  EXPECT_EQ(os::mapping_open("N"), 0u);
}

TEST_F(PlatformTest, ViewOutlivesItsHandleAndItsName) {
  os::Handle h = os::mapping_create("V", 4096, false);
  void* view = os::map_view(h, kTestViewBase + 0x1000000);
  ASSERT_EQ(view, reinterpret_cast<void*>(kTestViewBase + 0x1000000));
  EXPECT_TRUE(os::close_handle(h));
  EXPECT_TRUE(os::object_remove("V"));
  // The memory stays with the view until it is unmapped.
  static_cast<volatile uint32_t*>(view)[5] = 0xfeed;
  EXPECT_EQ(static_cast<volatile uint32_t*>(view)[5], 0xfeedu);
  EXPECT_EQ(os::mapping_open("V"), 0u);
  EXPECT_TRUE(os::unmap_view(view));
  EXPECT_FALSE(os::unmap_view(view));
}

}  // namespace
}  // namespace rk::test
