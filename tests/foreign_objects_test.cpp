// What the kernel trusts of objects that other users made in the same
// namespace: another user's RTDB is not seen (not found, not attached,
// never written, and its name does not keep one from making one's own); a
// kgd shared on purpose (flag 4) is used only while its records check out;
// and no lock that another user can take on /dev/shm stalls anything.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/records.h"
#include "rk.h"
#include "support/plant_run.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

constexpr const char* kKgd0 = "RKNT_RK000000";

// The other user is `nobody`; acting as another user takes root.
class ForeignObjectsTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    if (geteuid() != 0 || getpwnam("nobody") == nullptr) GTEST_SKIP() << "needs root and the user nobody";
  }
  void TearDown() override {
    rk_unmap_kgd();
    KernelTest::TearDown();
  }

  // A client process that runs as nobody.
  static std::unique_ptr<Client> other_user() {
    auto c = spawn_client();
    EXPECT_EQ(bounded_call(*c, "becomeuser nobody").rfind("ok ", 0), 0u);
    return c;
  }

  // Every byte of a kernel object, read through /dev/shm.
  std::string bytes_of(const char* name) const {
    std::string bytes;
    const int fd = open(shm_file(name).c_str(), O_RDONLY);
    char buf[65536];
    for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
    if (fd >= 0) close(fd);
    return bytes;
  }

  // Writes a word into a kernel object through /dev/shm; the word it held.
  uint32_t overwrite(const char* name, size_t offset, uint32_t value) const {
    uint32_t old = 0;
    const int fd = open(shm_file(name).c_str(), O_RDWR);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(pread(fd, &old, sizeof old, static_cast<off_t>(offset)), 4);
    EXPECT_EQ(pwrite(fd, &value, sizeof value, static_cast<off_t>(offset)), 4);
    close(fd);
    return old;
  }
};

// The offset of the first byte that differs, -1 when none does.
long first_difference(const std::string& a, const std::string& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

// Nobody's RTDB "Plant", kgd index 0, objects readable and writable by
// everyone, but not shared through flag 4: it is nobody's alone.
TEST_F(ForeignObjectsTest, AnotherUsersRtdbIsNotSeen) {
  auto other = other_user();
  ASSERT_EQ(bounded_call(*other, "rtdbmake Plant 2 1 4 0"), "ok 0");
  ASSERT_EQ(bounded_call(*other, "initapp Plant OPS A"), "ok 0");
  const std::string chmod = bounded_call(*other, "shmchmod");
  ASSERT_TRUE(chmod.rfind("ok ", 0) == 0 && chmod != "ok 0") << chmod;
  const std::string before = bytes_of(kKgd0);
  ASSERT_GE(before.size(), sizeof(Kgd));

  EXPECT_EQ(rk_proc_init_app("T", "", "Plant", "OPS", "A"), -4);
  rk_exit_trap();
  rk_unmap_kgd();
  EXPECT_EQ(first_difference(bytes_of(kKgd0), before), -1) << "registration wrote into nobody's kgd";

  int index = 5;
  EXPECT_EQ(rk_map_firstkgd(&index), -42);
  EXPECT_EQ(index, 32);
  rk_unmap_kgd();

  rk_kusr ops = kusr("OPS", 1);
  rk_type_entry analog = type_entry("ANALOG", 0, 10, 4);
  const int mine = rk_create_rtdb("", "", "Plant", &ops, 1, &analog, 1, 0, 0, 0);
  EXPECT_EQ(mine, 1) << "nobody's RTDB keeps index 0, and only that";
  if (mine >= 0) {
    EXPECT_EQ(rk_delete_rtdb(mine), 0);
  }
  rk_unmap_kgd();
  EXPECT_EQ(first_difference(bytes_of(kKgd0), before), -1);

  EXPECT_EQ(bounded_call(*other, "exitapp 0"), "ok 0") << "nobody's RTDB is deleted";
}

// Nobody shares an RTDB on purpose (flag 4). Registration from another
// process uses it while its kgd checks out, and refuses it, without a
// crash, while a table pointer or a count in it is bad.
TEST_F(ForeignObjectsTest, ASharedKgdIsUsedOnlyWhileItChecksOut) {
  auto other = other_user();
  ASSERT_EQ(bounded_call(*other, "rtdbmake Plant 2 1 4 4"), "ok 0");
  ASSERT_EQ(bounded_call(*other, "initapp Plant OPS A"), "ok 0");
  {
    auto mine = spawn_client();
    EXPECT_EQ(bounded_call(*mine, "procinitapp T Plant OPS A"), "ok 0") << "shared and sound";
    EXPECT_EQ(bounded_call(*mine, "exittrap"), "ok");
    EXPECT_EQ(bounded_call(*mine, "unmapkgd"), "ok");
  }
  struct {
    const char* what;
    size_t offset;
    uint32_t value;
  } cases[] = {
      {"application blocks below every segment", offsetof(Kgd, app_blocks), 0x1000},
      {"event-handle table above every segment", offsetof(Kgd, event_table), 0xFFFF0000},
      {"more applications than segment 0 holds", offsetof(Kgd, napps), 0x10000},
      {"more applications running than there are", offsetof(Kgd, running_apps), 0x10001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t good = overwrite(kKgd0, c.offset, c.value);
    // Each call in a process of its own: a crash shows as a client that
    // stopped answering, and leaves the next call a fresh process.
    EXPECT_EQ(bounded_call(*spawn_client(), "procinitapp T Plant OPS A"), "ok -4");
    EXPECT_EQ(bounded_call(*spawn_client(), "mapfirst"), "err -42");
    overwrite(kKgd0, c.offset, good);
  }
  EXPECT_EQ(bounded_call(*other, "exitapp 0"), "ok 0");
}

// Nobody holds an exclusive flock on /dev/shm itself for the whole test; a
// run goes through creation, registration, the lock and a new segment.
TEST_F(ForeignObjectsTest, AnotherUsersLockOnTheShmDirectoryStallsNothing) {
  // Other tests may run meanwhile, and would stall too while the kernel waits on it.
  constexpr int kBoundMs = 10000;
  auto other = other_user();
  ASSERT_EQ(bounded_call(*other, "shmflock"), "ok");
  auto run = spawn_client();
  ASSERT_EQ(bounded_call(*run, "rtdbmake Plant 2 1 4 0", kBoundMs), "ok 0");
  ASSERT_EQ(bounded_call(*run, "initapp Plant OPS A", kBoundMs), "ok 0");
  ASSERT_EQ(bounded_call(*run, "procinitapp T Plant OPS A", kBoundMs), "ok 0");
  EXPECT_EQ(bounded_call(*run, "dblock 0", kBoundMs), "ok");
  EXPECT_EQ(bounded_call(*run, "memalloc 0 100", kBoundMs), "ok 0") << "a new pool segment";
  EXPECT_EQ(bounded_call(*run, "dbunlock 0", kBoundMs), "ok");
  EXPECT_EQ(bounded_call(*run, "exitapp 0", kBoundMs), "ok 0");
}

}  // namespace
}  // namespace rk::test
