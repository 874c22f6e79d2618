// Attribute changes across processes: a change of a tag's attribute word
// wakes the clients that wait on the tag and whose change mask meets the
// changed bits, and no other, whether it comes from rk_modify_attr or from
// a write with attribute arrays.
#include <unistd.h>

#include <functional>
#include <string>

#include "core/client_ids.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "support/unaligned.h"
#include "support/waiting_clients.h"
#include "support/wake_rtdb.h"

namespace rk::test {
namespace {

constexpr uint16_t kMe = 0x0000;   // this process, application 0

class AttrWakeTest : public WakeRtdbTest {
 protected:
  void SetUp() override {
    WakeRtdbTest::SetUp();
    make_live(kMe, getpid());
  }
  // Sends a change wait on the tag and returns once the client sleeps in it.
  bool wait_asleep(Client& c, uint16_t id, TagRef tag) {
    c.send("chgwait " + std::to_string(id) + " 0 " + std::to_string(tag.type) + ":" + std::to_string(tag.index));
    return reaches_state(*slot_entry(kgd_, id), kWaitTag);
  }
  // True when the client has still not answered; asked only after the call
  // that could have woken it has returned, so a short bound does not decide.
  static bool still_asleep(Client& c) { return !c.reply_ready(100); }

  static int modify(TagRef tag, uint32_t value, int op) { return rk_modify_attr(kMe, &tag, 1, &value, op); }
};

TEST_F(AttrWakeTest, OnlyTheWaitersThatWantTheChangedBitsWake) {
  const struct {
    const char* name;
    uint16_t type;
    uint16_t app;   // of the waiters
  } cases[] = {
      {"per-application tag, waiters in the writer's application", kLocal, 0},
      {"shared tag, waiters in another application", kShared, 1},
  };
  uint16_t slot = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TagRef tag{c.type, 3};
    const uint16_t wants_id = static_cast<uint16_t>(c.app << 8 | slot++);
    const uint16_t other_id = static_cast<uint16_t>(c.app << 8 | slot++);
    Client& wants = start(wants_id);
    Client& other = start(other_id);
    ASSERT_EQ(wants.call("chgmask " + std::to_string(wants_id) + " 10"), "ok");
    ASSERT_EQ(other.call("chgmask " + std::to_string(other_id) + " 60"), "ok");
    ASSERT_TRUE(wait_asleep(other, other_id, tag));

    const uint32_t attr_value = 0x10, attr_mask = 0x10, v = 0;
    const struct {
      const char* name;
      std::function<int()> change;
      bool wakes;
    } changes[] = {
        {"a bit nobody wants", [&] { return modify(tag, 0x01, 0); }, false},
        {"toggling a wanted bit", [&] { return modify(tag, 0x10, 2); }, true},
        {"toggling it back", [&] { return modify(tag, 0x10, 2); }, true},
        {"clearing it while clear", [&] { return modify(tag, 0x10, 1); }, false},
        {"a write that sets it",
         [&] { return rk_write_attr(kMe, kMe, &tag, 1, &v, &attr_value, &attr_mask); }, true},
        {"setting it while set", [&] { return modify(tag, 0x10, 0); }, false},
    };
    for (const auto& ch : changes) {
      SCOPED_TRACE(ch.name);
      ASSERT_TRUE(wait_asleep(wants, wants_id, tag));
      ASSERT_EQ(ch.change(), 0);
      EXPECT_TRUE(still_asleep(other)) << "its change mask does not meet 0x10";
      if (ch.wakes) {
        EXPECT_EQ(wants.reply(), "err 11") << "woken, and nothing changed for its change bits";
      } else {
        EXPECT_TRUE(still_asleep(wants));
        EXPECT_EQ(val(slot_entry(kgd_, wants_id)->wait_state), kWaitTag);
        // Ended for real by a change it wants, for the next step.
        ASSERT_EQ(modify(tag, 0x10, 2), 0);
        EXPECT_EQ(wants.reply(), "err 11");
        ASSERT_EQ(modify(tag, 0x10, 2), 0) << "the word as it was, with nobody waiting";
      }
    }
    EXPECT_EQ(val(change(c.app, tag).change_word), 0u) << "no change bits from attribute changes";
    // Now a change of a bit it wants.
    ASSERT_EQ(modify(tag, 0x40, 0), 0);
    EXPECT_EQ(other.reply(), "err 11");
  }
}

}  // namespace
}  // namespace rk::test
