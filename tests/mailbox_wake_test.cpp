// Mailboxes written from other processes: a write releases the clients
// that wait on the mailbox tag in the application it reaches, as a tag
// change does, and nobody else; and messages from several writer
// processes reach a reader process all, once and in order.
#include <unistd.h>

#include <string>

#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "storage/msg_queue_check.h"
#include "storage/pool_check.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kMbx = 0;      // mailboxes per application
constexpr uint16_t kShared = 1;   // mailboxes shared by the applications
constexpr uint16_t kMe = 0x0000;
constexpr uint16_t kWaitTag = 2;  // the wait state of rk_wait mode 1 and of a change wait

std::string ids(uint32_t v) { return std::to_string(v); }

class MailboxWakeTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    TagRtdbTest::SetUp();
    create({type_entry("MBX", 3, 4, 22), type_entry("SHMBX", 3, 4, 22, 0)}, 2, 8);
    make_live(kMe, static_cast<uint32_t>(getpid()));
  }

  MsgQueue& queue(uint32_t a, TagRef ref) const {
    const Addr values = at<TagArrayPair>(app(a)->pairs)[ref.type].value_array;
    return *at<MsgQueue>(values + (sizeof(MsgQueue) + sizeof(ValueCellHeader)) * ref.index + sizeof(ValueCellHeader));
  }
  // The queue's check, under the lock: a lock grant maps the segments that
  // other processes added for kernel memory meanwhile.
  std::string checked(uint32_t a, TagRef ref) const {
    if (rk_lock(kMe) != 0) return "no lock";
    std::string fault = msg_queue_check(kgd_, &queue(a, ref));
    if (fault.empty()) fault = pool_check(kgd_);
    rk_unlock(kMe);
    return fault;
  }
  // True when the client has still not answered; asked only after whatever
  // could have woken it has returned, so the short bound decides nothing.
  static bool still_asleep(Client& c) { return !c.reply_ready(100); }
};

// A sleeper with its wait bit on a mailbox, in rk_wait mode 1 or 3, is
// released by a message for that mailbox in its application, written there
// or from another application, or into a shared mailbox from anywhere; not
// by a message for another application's queue, nor by a refused one. A
// client waiting in mode 2 alone is not released by a write (a write wakes
// as a tag change), only by a wake-up.
TEST_F(MailboxWakeTest, AWriteWakesTheWaitersOfItsMailboxAndNobodyElse) {
  Client& writer = start(0x0101);
  Client& local_writer = start(0x0001);
  const struct {
    const char* what;
    uint16_t type;
    int mode;
    Client* by;
    std::string write;   // wakes the sleeper, which waits in application 0
  } cases[] = {
      {"rk_write_mbx in its application", kMbx, 1, &local_writer, "mbxput 1 1 0 2 hello"},
      {"rk_write_app_mbx from another application", kMbx, 3, &writer, "mbxput 257 0 0 2 hello"},
      {"a shared mailbox written in another application", kShared, 1, &writer, "mbxput 257 257 1 2 hello"},
  };
  uint16_t slot = 5;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const TagRef tag{c.type, 2};
    const uint16_t sleeper_id = slot++, mailbox_id = slot++;
    Client& sleeper = start(sleeper_id);
    Client& mailbox_sleeper = start(mailbox_id);
    ASSERT_EQ(sleeper.call("mbxwaiton " + ids(sleeper_id) + " " + ids(c.type) + " 2"), "ok");
    ASSERT_EQ(mailbox_sleeper.call("mbxwaiton " + ids(mailbox_id) + " " + ids(c.type) + " 2"), "ok");
    uint16_t one_kib = 1;
    ASSERT_EQ(rk_limit_mbx(kMe, 1, &tag, 1, &one_kib), 0);
    ASSERT_TRUE(fall_asleep(sleeper, sleeper_id, c.mode));
    ASSERT_TRUE(fall_asleep(mailbox_sleeper, mailbox_id, 2));

    const struct {
      const char* what;
      std::string command, reply;
    } quiet[] = {
        {"another application's queue", "mbxput 257 257 0 2 elsewhere", "ok"},
        {"another mailbox", "mbxput 1 1 " + ids(c.type) + " 3 beside", "ok"},
        {"a refused message", "mbxput 1 1 " + ids(c.type) + " 2 " + std::string(995, 'z'), "err 46"},
    };
    for (const auto& q : quiet) {
      SCOPED_TRACE(q.what);
      Client& by = q.command.rfind("mbxput 257", 0) == 0 ? writer : local_writer;
      ASSERT_EQ(by.call(q.command), q.reply);
      EXPECT_TRUE(still_asleep(sleeper));
      EXPECT_EQ(val(entry(sleeper_id).wait_state), c.mode + 1);
    }

    ASSERT_EQ(c.by->call(c.write), "ok");
    ASSERT_EQ(sleeper.reply(), "ok") << "woken, holding the lock";
    EXPECT_EQ(sleeper.call("mbxtake " + ids(sleeper_id) + " " + ids(c.type) + " 2"), "ok hello");
    EXPECT_EQ(sleeper.call("dbunlock " + ids(sleeper_id)), "ok");
    EXPECT_TRUE(still_asleep(mailbox_sleeper)) << "a write wakes as a tag change";
    EXPECT_EQ(val(entry(mailbox_id).wait_state), 3);
    const uint32_t mask = 1u << mailbox_id;
    ASSERT_EQ(rk_wakeup(kMe, &mask, 2), 0);
    EXPECT_EQ(mailbox_sleeper.reply(), "ok");
    EXPECT_EQ(mailbox_sleeper.call("dbunlock " + ids(mailbox_id)), "ok");
    EXPECT_EQ(val(app(0)->pending_wake), 0u);
    EXPECT_EQ(val(app(1)->pending_wake), 0u);
    for (uint32_t a = 0; a < 2; ++a)
      for (uint16_t i : {2, 3}) EXPECT_EQ(checked(a, {c.type, i}), "");
  }
}

// A change wait on a mailbox sleeps until a message arrives in its own
// application, and finds it there, still queued.
TEST_F(MailboxWakeTest, AChangeWaitOnAMailboxEndsWithAMessageForIt) {
  Client& waiter = start(0x0003);
  Client& writer = start(0x0101);
  waiter.send("mbxchgwait 3 0 1");
  ASSERT_TRUE(reaches_state(entry(0x0003), kWaitTag));
  ASSERT_EQ(writer.call("mbxput 257 257 0 1 elsewhere"), "ok");
  EXPECT_TRUE(still_asleep(waiter));
  ASSERT_EQ(writer.call("mbxput 257 0 0 1 sixbyt"), "ok");
  EXPECT_EQ(waiter.reply(), "ok 6");
  EXPECT_EQ(val(change(0, {kMbx, 1}).wait_word), 0u);
  EXPECT_EQ(waiter.call("mbxtake 3 0 1"), "ok sixbyt");
  EXPECT_EQ(val(change(0, {kMbx, 1}).change_word), 0u);
}

// Two writer processes, one in the reader's application and one in
// another, append hundreds of numbered messages of lengths 0 to 300 while
// the reader, a third process that owns the mailbox, takes them as they
// come, sleeping whenever it is empty: every message arrives once, in its
// writer's order, intact.
TEST_F(MailboxWakeTest, MessagesFromTwoWritersReachAReaderAllOnceInOrder) {
  constexpr uint32_t kEach = 400;
  const TagRef tag{kMbx, 1};
  Client& reader = start(0x0003);
  Client& near = start(0x0001);
  Client& far = start(0x0101);
  ASSERT_EQ(reader.call("mbxown 3 0 1 1"), "ok");
  reader.send("mbxdrain 3 0 1 " + ids(2 * kEach));
  near.send("mbxsend 1 1 0 1 0 " + ids(kEach));
  far.send("mbxsend 257 0 0 1 1 " + ids(kEach));
  EXPECT_EQ(near.reply(), "ok " + ids(kEach));
  EXPECT_EQ(far.reply(), "ok " + ids(kEach));
  EXPECT_EQ(reader.reply(), "ok " + ids(2 * kEach) + " " + ids(kEach) + " " + ids(kEach) + " 0");

  const MsgQueue& q = queue(0, tag);
  EXPECT_EQ(val(q.count), 0);
  EXPECT_EQ(val(q.queued_bytes), 0u);
  EXPECT_EQ(checked(0, tag), "");
  EXPECT_EQ(val(change(0, tag).change_word), 0u);
  EXPECT_EQ(val(change(0, tag).wait_word), 0u);
  EXPECT_NE(val(entry(0x0003).sig_pending) & 1u << 3, 0u) << "the owner was signalled";
}

}  // namespace
}  // namespace rk::test
