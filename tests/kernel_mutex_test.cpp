// The kernel mutex: nesting per owner, the acquisition history, abandoned
// mutexes, refusals and the first-failure record.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <string>
#include <thread>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "core/attachment.h"
#include "platform/clock.h"
#include "support/test_rtdb.h"

namespace rk::test {
namespace {

using KernelMutexTest = RtdbTest;

std::string rtdbopen(const TestRtdb& db) { return "rtdbopen " + std::to_string(db.kgd->index); }

TEST_F(KernelMutexTest, NestsPerOwnerExceptForTheStrictId) {
  TestRtdb db = attach_test_rtdb(1);
  ASSERT_NE(db.kgd, nullptr);
  Kgd* kgd = db.kgd;
  const uint32_t me = getpid();
  db.live(0x0001, me);
  Client other;
  other.ok(rtdbopen(db));

  struct {
    int32_t id;
    int32_t key;
    uint32_t acquisitions;   // by two takes
  } cases[] = {{kSelf, -1, 1}, {kSelfByName, -1, 1}, {kSelfStrict, -1, 2}, {0x0001, 0x0001, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const uint32_t count = kgd->mtx_count;
    const uint32_t recorded = kgd->hist_count;
    ASSERT_EQ(kmutex_take(c.id), 0);
    ASSERT_EQ(kmutex_take(c.id), 0);
    EXPECT_EQ(kgd->mtx_count - count, c.acquisitions);
    EXPECT_EQ(kgd->hist_count - recorded, c.acquisitions);
    EXPECT_EQ(val(kgd->mtx_depth), 2u);
    EXPECT_EQ(val(kgd->mtx_owner), c.key);
    EXPECT_EQ(val(kgd->mtx_pid), me);
    EXPECT_EQ(kmutex_give(c.id), 0);
    EXPECT_EQ(val(kgd->mtx_depth), 1u);
    EXPECT_EQ(val(kgd->mtx_pid), me) << "released at the inner give";
    EXPECT_EQ(kmutex_give(c.id), 0);
    EXPECT_EQ(val(kgd->mtx_depth), 0u);
    EXPECT_EQ(val(kgd->mtx_owner), -1);
    EXPECT_EQ(val(kgd->mtx_pid), 0u);
    // Really released: another process gets it (a mutex left held hangs here).
    ASSERT_EQ(other.call("take -1"), "ok 0");
    EXPECT_EQ(val(kgd->mtx_pid), static_cast<uint32_t>(other.pid()));
    EXPECT_EQ(other.call("give -1"), "ok 0");
  }
  other.send("exit 0");
  EXPECT_EQ(other.wait_exit(), 0);
}

TEST_F(KernelMutexTest, HistoryRingWrapsAfterItsCapacity) {
  TestRtdb db = attach_test_rtdb(1);
  ASSERT_NE(db.kgd, nullptr);
  Kgd* kgd = db.kgd;
  db.live(0x0002, 4242);   // a client of another process: its process is recorded
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(kmutex_take(kSelf), 0);
    kmutex_give(kSelf);
  }
  EXPECT_EQ(val(kgd->hist_next), 0u);
  ASSERT_EQ(kmutex_take(0x0002), 0);
  kmutex_give(0x0002);
  EXPECT_EQ(val(kgd->mtx_count), 501u);
  EXPECT_EQ(val(kgd->hist_count), 501u);
  EXPECT_EQ(val(kgd->hist_next), 1u);
  EXPECT_EQ(at<uint16_t>(kgd->hist_ids)[0], 0x0002);
  EXPECT_EQ(at<uint32_t>(kgd->hist_pids)[0], 4242u);
  EXPECT_EQ(at<uint16_t>(kgd->hist_ids)[1], 0xFFFF);
  EXPECT_EQ(at<uint32_t>(kgd->hist_pids)[1], static_cast<uint32_t>(getpid()));
}

TEST_F(KernelMutexTest, AbandonedMutexGoesToTheNextTake) {
  TestRtdb db = attach_test_rtdb(1);
  ASSERT_NE(db.kgd, nullptr);
  Kgd* kgd = db.kgd;
  Client dying, later;
  dying.ok(rtdbopen(db));
  later.ok(rtdbopen(db));
  EXPECT_EQ(dying.call("take -1"), "ok 0");
  EXPECT_EQ(dying.call("take -1"), "ok 0");
  dying.kill_hard();
  EXPECT_EQ(val(kgd->mtx_depth), 2u);

  ASSERT_EQ(kmutex_take(kSelf), 0);
  EXPECT_EQ(val(kgd->mtx_pid), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(val(kgd->mtx_count), 2u);
  EXPECT_EQ(val(kgd->mtx_depth), 1u) << "the dead owner's levels were counted as ours";
  kmutex_give(kSelf);
  EXPECT_EQ(val(kgd->mtx_pid), 0u);
  EXPECT_EQ(later.call("take -1"), "ok 0");
  EXPECT_EQ(later.call("give -1"), "ok 0");
  later.send("exit 0");
  EXPECT_EQ(later.wait_exit(), 0);
}

// The state letter of one of this process's threads.
char thread_state(long tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  size_t end = line.rfind(')');
  return end == std::string::npos || end + 2 >= line.size() ? '?' : line[end + 2];
}

TEST_F(KernelMutexTest, OnlyTheHoldingThreadNestsOrGives) {
  TestRtdb db = attach_test_rtdb(1);
  ASSERT_NE(db.kgd, nullptr);
  Kgd* kgd = db.kgd;

  // A give by a thread that holds nothing changes nothing.
  EXPECT_EQ(kmutex_give(kSelf), 0);
  EXPECT_EQ(val(kgd->mtx_depth), 0u);

  Client holder;
  holder.ok(rtdbopen(db));
  EXPECT_EQ(holder.call("take -1"), "ok 0");
  EXPECT_EQ(kmutex_give(kSelf), 0);
  EXPECT_EQ(val(kgd->mtx_depth), 1u) << "a give took the holder's level away";
  EXPECT_EQ(val(kgd->mtx_pid), static_cast<uint32_t>(holder.pid()));
  EXPECT_EQ(holder.call("give -1"), "ok 0");

  // Another thread of the holding process, same owner key and process, waits.
  ASSERT_EQ(kmutex_take(kSelf), 0);
  std::atomic<long> tid{0};
  std::atomic<bool> done{false};
  std::thread second([&] {
    tid = syscall(SYS_gettid);
    EXPECT_EQ(kmutex_take(kSelf), 0);
    done = true;
    kmutex_give(kSelf);
  });
  while (!done && (tid == 0 || thread_state(tid) != 'S')) std::this_thread::yield();
  EXPECT_FALSE(done) << "a second thread nested into the holder's take";
  kmutex_give(kSelf);
  second.join();
  EXPECT_EQ(val(kgd->mtx_count), 3u);
  EXPECT_EQ(val(kgd->mtx_depth), 0u);
}

TEST_F(KernelMutexTest, RefusalsAndTheFirstFailure) {
  TestRtdb db = attach_test_rtdb(4);
  ASSERT_NE(db.kgd, nullptr);
  Kgd* kgd = db.kgd;
  CptEntry& client = db.live(0x0001, 4242);

  for (int32_t id : {-4, 0x1F00, 0x0400, 0x001F, 0x8000, 0x10000}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(kmutex_take(id), -1);
  }
  EXPECT_EQ(val(kgd->mtx_count), 0u);
  EXPECT_EQ(val(kgd->mtx_fail_code), 0u) << "a bad id is no mutex failure";

  // Without a handle of the mutex the wait fails.
  os::Handle& mutex = attachment().mutexes[kKernelMutex];
  const os::Handle saved = mutex;
  mutex = 0;
  const uint32_t before = os::tick_count();
  EXPECT_EQ(kmutex_take(0x0001), -1);
  EXPECT_EQ(client.errnum, kErrKernelMutex);
  EXPECT_EQ(val(kgd->mtx_fail_code), static_cast<uint32_t>(EBADF));
  EXPECT_EQ(val(kgd->mtx_fail_id), 0x0001);
  EXPECT_EQ(val(kgd->mtx_fail_pid), 4242u);
  EXPECT_LE(kgd->mtx_fail_tick - before, os::tick_count() - before);
  // Only the first failure is kept.
  EXPECT_EQ(kmutex_take(kSelf), -1);
  EXPECT_EQ(val(kgd->mtx_fail_id), 0x0001);
  EXPECT_EQ(val(kgd->mtx_count), 0u);
  mutex = saved;
  EXPECT_EQ(kmutex_take(kSelf), 0);
  kmutex_give(kSelf);
}

}  // namespace
}  // namespace rk::test
