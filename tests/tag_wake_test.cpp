// Writes that wake clients sleeping in other processes: a changed tag wakes
// the clients waiting on it in the applications it changed in, an
// attribute change wakes those that want its bits, and a write that
// changes nothing wakes nobody. Handlers belong to their client's process.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_handlers.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/plant_run.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"
#include "support/wake_rtdb.h"

namespace rk::test {
namespace {

class TagWakeTest : public WakeRtdbTest {
 protected:
  static std::string ids(uint16_t id) { return std::to_string(id); }
};

TEST_F(TagWakeTest, AChangedTagWakesItsWaitersInTheApplicationsItChangedIn) {
  struct {
    const char* name;
    uint16_t type;
    uint16_t target;     // the application the writer writes
  } cases[] = {
      {"shared type written in application 0", kShared, 0x0000},
      {"per-application type written into application 1", kLocal, 0x0100},
  };
  Client& writer = start(0x0000);
  uint16_t slot = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TagRef tag{c.type, 2};
    const uint16_t waiter_id = static_cast<uint16_t>(0x0100 | slot++);
    Client& waiter = start(waiter_id);
    // The wait bit set by hand, as the change-wait calls will.
    change(1, tag).wait_word = 1u << (waiter_id & 255);
    ASSERT_TRUE(fall_asleep(waiter, waiter_id, 1));

    ASSERT_EQ(writer.call("tagwrite 0 " + ids(c.target) + " " + ids(c.type) + " 2 5a5a"), "ok");
    ASSERT_EQ(waiter.reply(), "ok") << "woken, holding the lock";
    EXPECT_EQ(waiter.call("tagread " + ids(waiter_id) + " " + ids(c.type) + " 2"), "ok 5a5a");
    EXPECT_EQ(waiter.call("dbunlock " + ids(waiter_id)), "ok");
    EXPECT_EQ(val(change(1, tag).change_word), kChangeBits & ~(1u << (waiter_id & 255)));
    EXPECT_EQ(val(change(0, tag).change_word), c.type == kShared ? kChangeBits : 0u);
    EXPECT_EQ(val(app_block(kgd_, 1)->pending_wake), 0u);
  }
}

TEST_F(TagWakeTest, AWriteOfTheSameValueWakesNobodyAndAForcedOneDoes) {
  const TagRef tag{kLocal, 4};
  make_live(0x0000, getpid());
  Client& waiter = start(0x0006);
  change(0, tag).wait_word = 1u << 6;
  const uint32_t v = 7;
  ASSERT_EQ(rk_write(0x0000, &tag, 1, &v), 0);   // nobody waits yet
  ASSERT_TRUE(fall_asleep(waiter, 0x0006, 1));

  ASSERT_EQ(rk_write(0x0000, &tag, 1, &v), 0);
  EXPECT_EQ(val(app_block(kgd_, 0)->cpt[6].wait_state), kWaitTag) << "still asleep: nothing changed";
  EXPECT_FALSE(waiter.reply_ready(0));

  ASSERT_EQ(rk_forced_write(0x0000, &tag, 1, &v), 0);
  ASSERT_EQ(waiter.reply(), "ok");
  EXPECT_EQ(waiter.call("dbunlock 6"), "ok");
}

// A write that ends holding no lock hands it straight to the client it
// woke; one made inside a lock the writer holds leaves it queued until the
// writer's last unlock.
TEST_F(TagWakeTest, TheClientAWriteWokeGetsTheLockWhenTheWriterLastGivesIt) {
  const TagRef tag{kLocal, 3};
  make_live(0x0000, getpid());
  Client& waiter = start(0x0006);
  change(0, tag).wait_word = 1u << 6;
  for (const bool nested : {false, true}) {
    SCOPED_TRACE(nested ? "inside a held lock" : "alone");
    ASSERT_TRUE(fall_asleep(waiter, 0x0006, 1));
    const uint32_t v = nested ? 21 : 12;
    if (nested) {
      ASSERT_EQ(rk_lock(0x0000), 0);
    }
    ASSERT_EQ(rk_write(0x0000, &tag, 1, &v), 0);
    if (nested) {
      EXPECT_EQ(val(kgd_->lock_holder), addr_of(&entry(0x0000)));
      EXPECT_EQ(val(entry(0x0006).wait_state), kWaitLock) << "woken, queued for the lock";
      EXPECT_FALSE(waiter.reply_ready(0));
      ASSERT_EQ(rk_unlock(0x0000), 0);
    }
    EXPECT_EQ(val(kgd_->lock_holder), addr_of(&entry(0x0006)));
    EXPECT_EQ(val(entry(0x0000).lock), 0u);
    ASSERT_EQ(waiter.reply(), "ok");
    EXPECT_EQ(waiter.call("tagread 6 0 3"), nested ? "ok 15" : "ok c");
    EXPECT_EQ(waiter.call("dbunlock 6"), "ok");
    EXPECT_EQ(val(kgd_->lock_holder), 0u);
    EXPECT_EQ(val(kgd_->mtx_depth), 0u) << "the kernel mutex is given back";
  }
}

// A writer killed holding the lock after it changed a tag, before its wake:
// once the dead holder is cleaned up, by the sleeper's own look or by a
// client that wants the lock, the sleeper wakes as the write would have
// woken it. A sleeper whose tags did not change sleeps on.
TEST_F(TagWakeTest, AWriterKilledBeforeItsWakeStillWakesTheWaitersOfWhatItChanged) {
  const TagRef watched{kLocal, 5}, other{kLocal, 6};
  Client& waiter = start(0x0006);
  Client& bystander = start(0x0008);
  change(0, watched).wait_word = 1u << 6;
  change(0, other).wait_word = 1u << 8;
  ASSERT_TRUE(fall_asleep(bystander, 0x0008, 1));
  uint16_t next = 9;
  for (const bool taker : {false, true}) {
    SCOPED_TRACE(taker ? "with a client waiting for the lock" : "with nobody else");
    ASSERT_TRUE(fall_asleep(waiter, 0x0006, 1));
    const uint16_t writer_id = next++;
    Client& writer = start(writer_id);
    ASSERT_EQ(writer.call("dblock " + ids(writer_id)), "ok");
    // What the write did before it died: the change word, no wake.
    change(0, watched).change_word = kChangeBits;
    if (!taker) {
      writer.kill_hard();
    } else {
      // Queued before the writer dies, so that whoever cleans up after it,
      // the taker or the sleeper, hands the lock to the taker first; the
      // sleeper, woken, queues behind.
      const uint16_t taker_id = next++;
      Client& lock_taker = start(taker_id);
      lock_taker.send("dblock " + ids(taker_id));
      ASSERT_TRUE(reaches_state(entry(taker_id), kWaitLock));
      writer.kill_hard();
      ASSERT_EQ(bounded_reply(lock_taker), "ok");
      EXPECT_TRUE(reaches_state(entry(0x0006), kWaitLock));
      EXPECT_EQ(lock_taker.call("dbunlock " + ids(taker_id)), "ok");
    }
    ASSERT_EQ(bounded_reply(waiter), "ok") << "woken, holding the lock";
    EXPECT_EQ(val(entry(0x0008).wait_state), kWaitTag) << "nothing it waits on changed";
    EXPECT_EQ(waiter.call("dbunlock 6"), "ok");
    change(0, watched).change_word = 0;
  }
}

// A process killed holding the kernel mutex inside a wake (its own write's,
// or the one it owed for a writer that died before it) leaves changes whose
// sleepers it never released. The next taker of the mutex releases them.
TEST_F(TagWakeTest, AProcessKilledInsideAWakeLeavesNoSleeperOfAChangedTagAsleep) {
  const TagRef watched{kLocal, 5}, other{kLocal, 6};
  Client& waiter = start(0x0006);
  Client& bystander = start(0x0008);
  Client& next_taker = start(0x0009);
  change(0, watched).wait_word = 1u << 6;
  change(0, other).wait_word = 1u << 8;
  ASSERT_TRUE(fall_asleep(waiter, 0x0006, 1));
  ASSERT_TRUE(fall_asleep(bystander, 0x0008, 1));

  Client& waker = start(0x000A);
  ASSERT_EQ(waker.call("take 10"), "ok 0");
  // What the wake had not come to: a change whose sleeper is still asleep.
  change(0, watched).change_word = kChangeBits;
  waker.kill_hard();

  ASSERT_EQ(bounded_call(next_taker, "take 9"), "ok 0");
  EXPECT_EQ(next_taker.call("give 9"), "ok 0");
  ASSERT_EQ(bounded_reply(waiter), "ok") << "woken, holding the lock";
  EXPECT_EQ(val(entry(0x0008).wait_state), kWaitTag) << "nothing it waits on changed";
  EXPECT_EQ(waiter.call("dbunlock 6"), "ok");
}

TEST_F(TagWakeTest, ARunOfPlainTagsWakesTheWaitersOfTheTagsItChangedOnly) {
  make_live(0x0000, getpid());
  Client& changed = start(0x0006);
  Client& unchanged = start(0x0007);
  change(0, TagRef{kLocal, 5}).wait_word = 1u << 6;
  change(0, TagRef{kLocal, 3}).wait_word = 1u << 7;
  std::vector<TagRef> refs;
  std::vector<uint32_t> values;
  for (uint16_t i = 0; i < 8; ++i) {
    refs.push_back(TagRef{kLocal, i});
    values.push_back(i);
  }
  ASSERT_EQ(rk_write(0x0000, refs.data(), 8, values.data()), 0);   // nobody waits yet
  ASSERT_TRUE(fall_asleep(changed, 0x0006, 1));
  ASSERT_TRUE(fall_asleep(unchanged, 0x0007, 1));

  // Tag 3 keeps its value; tag 5, after a bad index, changes.
  refs.insert(refs.begin() + 4, TagRef{kLocal, 8});
  values.insert(values.begin() + 4, 0);
  for (uint32_t& v : values) v += 10;
  values[3] = 3;
  ASSERT_EQ(rk_write(0x0000, refs.data(), 9, values.data()), -1);
  EXPECT_EQ(rk_errno(0x0000), kErrBadTag);
  ASSERT_EQ(changed.reply(), "ok") << "woken, holding the lock";
  EXPECT_EQ(changed.call("dbunlock 6"), "ok");
  EXPECT_EQ(val(app_block(kgd_, 0)->cpt[7].wait_state), kWaitTag) << "its tag did not change";
  EXPECT_FALSE(unchanged.reply_ready(0));
  EXPECT_EQ(val(app_block(kgd_, 0)->pending_wake), 0u);
  EXPECT_EQ(val(change(0, TagRef{kLocal, 3}).change_word), kChangeBits) << "left from the first write";
  EXPECT_EQ(val(change(0, TagRef{kLocal, 5}).change_word), kChangeBits);

  ASSERT_EQ(rk_forced_write(0x0000, &refs[3], 1, &values[3]), 0);
  ASSERT_EQ(unchanged.reply(), "ok");
  EXPECT_EQ(unchanged.call("dbunlock 7"), "ok");
}

TEST_F(TagWakeTest, AnAttributeChangeWakesTheWaitersThatWantItsBitsAndSetsNoChangeBit) {
  const TagRef tag{kShared, 1};
  make_live(0x0000, getpid());
  Client& wants = start(0x0105);
  Client& ignores = start(0x0107);
  app_block(kgd_, 1)->cpt[5].change_mask = 0x10;
  app_block(kgd_, 1)->cpt[7].change_mask = 0x20;
  change(1, tag).wait_word = 1u << 5 | 1u << 7;
  ASSERT_TRUE(fall_asleep(wants, 0x0105, 1));
  ASSERT_TRUE(fall_asleep(ignores, 0x0107, 1));

  const uint32_t v = 0, attr_value = 0x10, attr_mask = 0x10;
  ASSERT_EQ(rk_write_attr(0x0000, 0x0000, &tag, 1, &v, &attr_value, &attr_mask), 0);
  ASSERT_EQ(wants.reply(), "ok");
  EXPECT_EQ(wants.call("dbunlock 261"), "ok");
  EXPECT_EQ(val(change(1, tag).change_word), 0u);
  EXPECT_EQ(val(change(0, tag).change_word), 0u);
  EXPECT_EQ(val(app_block(kgd_, 1)->cpt[7].wait_state), kWaitTag) << "its change mask does not meet 0x10";
  // Wake the other one so that it can go.
  const uint32_t mask = 1u << 7;
  make_live(0x0100, getpid());
  ASSERT_EQ(rk_wakeup(0x0100, &mask, 1), 0);
  EXPECT_EQ(ignores.reply(), "ok");
  EXPECT_EQ(ignores.call("dbunlock 263"), "ok");
}

int g_handler_calls = 0;
int count_calls(CptEntry*, ChangeEntry*, void*, void*, void*, int) { return ++g_handler_calls, 1; }

TEST_F(TagWakeTest, HandlersRunOnlyInTheProcessOfTheirClient) {
  g_handler_calls = 0;   // the suite may be run again in one process
  const TagRef tag{kLocal, 0};
  Client& other = start(0x0004);   // registered by another process
  make_live(0x0000, getpid());
  for (uint16_t slot : {0, 4}) {
    CptEntry& e = app_block(kgd_, 0)->cpt[slot];
    // Kept in this process for both ids, as if each had been installed here.
    ASSERT_TRUE(set_client_handler(slot, 2, reinterpret_cast<rk_attr_handler>(&count_calls)));
    e.handlers[2] = 1;
    e.write_mask = 0x04;
  }
  at<ValueCellHeader>(at<TagArrayPair>(app_block(kgd_, 0)->pairs)[kLocal].value_array)->attr_word = 0x04;
  // Its process maps the tag arrays at its first lock, and records that in
  // the entry, which is why an entry serves one process only.
  EXPECT_EQ(other.call("tagread 4 0 0"), "ok 0");
  const uint32_t v = 3;
  // The other client's handlers are its process's: this process acting with
  // its id must not call the ones it keeps for that id.
  ASSERT_EQ(rk_write(0x0004, &tag, 1, &v), 0);
  EXPECT_EQ(g_handler_calls, 0);
  EXPECT_EQ(val(change(0, tag).change_word), kChangeBits) << "written as if no handler were installed";
  ASSERT_EQ(rk_write(0x0000, &tag, 1, &v), 0);
  EXPECT_EQ(g_handler_calls, 1) << "this process's own client's handler runs";
  EXPECT_EQ(other.call("tagread 4 0 0"), "ok 3");
}

}  // namespace
}  // namespace rk::test
