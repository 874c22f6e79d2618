// Client events: opening a client's row, a client's own event, and posting
// to another process's event.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/client_events.h"
#include "core/client_ids.h"
#include "core/rtdb_names.h"
#include "platform/handles.h"
#include "platform/named_object.h"
#include "platform/named_event.h"
#include "support/test_rtdb.h"

namespace rk::test {
namespace {

using ClientEventsTest = RtdbTest;

TEST_F(ClientEventsTest, OpenFillsTheRowWhereEventsExistAndCloseClearsIt) {
  TestRtdb db = attach_test_rtdb(2);
  ASSERT_NE(db.kgd, nullptr);
  Unaligned<uint32_t>* creator = event_row(db.kgd, 0);
  // Event 0:05 is gone: its name was removed before anybody opened it.
  char name[kObjectNameBytes];
  client_event_name(name, db.kgd, 0, 5);
  ASSERT_TRUE(os::object_remove(name));
  CptEntry& entry = db.live(0x0101, getpid());
  open_events(&entry);

  const Unaligned<uint32_t>* row = event_row(db.kgd, 0x0101);
  for (uint32_t c = 0; c < 2 * kSlots; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(load_u32(row + c) != 0, c != 5);
    if (c != 5) {
      EXPECT_NE(load_u32(row + c), load_u32(creator + c)) << "not a handle of its own";
    }
  }
  EXPECT_EQ(load_u32(event_row(db.kgd, 0x0100)), 0u) << "a neighbouring row was written";
  // The opened handle and the creator's lead to the same event.
  ASSERT_EQ(os::event_set(load_u32(row + kSlots + 7)), 0);
  EXPECT_EQ(os::event_wait(load_u32(creator + kSlots + 7)), 0);

  EXPECT_EQ(close_events(&entry), 0);
  for (uint32_t c = 0; c < 2 * kSlots; ++c) EXPECT_EQ(load_u32(row + c), 0u) << c;
  EXPECT_EQ(close_events(nullptr), -1);
}

// Whether the event file says the event is signalled.
bool signalled(const std::string& file) {
  uint32_t word = 0;
  int fd = open(file.c_str(), O_RDONLY);
  if (fd >= 0) {
    EXPECT_EQ(pread(fd, &word, sizeof word, 0), static_cast<ssize_t>(sizeof word));
    close(fd);
  }
  return word != 0;
}

TEST_F(ClientEventsTest, OwnEventIsKeptUntilTheWaitAndOffClearsIt) {
  TestRtdb db = attach_test_rtdb(1);
  ASSERT_NE(db.kgd, nullptr);
  db.live(0x0000, getpid());
  EXPECT_EQ(set_own_event(0x0000, true), 0);
  EXPECT_EQ(wait_own_event(0x0000), 0);
  EXPECT_FALSE(signalled(shm_file("PLANT_00_00_00"))) << "the wait did not consume the set";
  EXPECT_EQ(set_own_event(0x0000, true), 0);
  EXPECT_EQ(set_own_event(0x0000, false), 0);
  EXPECT_FALSE(signalled(shm_file("PLANT_00_00_00")));

  // Ids that name no slot, for either end.
  EXPECT_EQ(set_own_event(0x0100, true), -1);
  EXPECT_EQ(set_own_event(0x001F, false), -1);
  EXPECT_EQ(wait_own_event(0x8000), -1);
  struct {
    int32_t from;
    uint16_t to;
  } bad_posts[] = {{0x0000, 0x0100}, {0x001F, 0x0000}, {kSelfStrict, 0x0000}, {0x10000, 0x0000},
                   {kSelfByName, 0x001F}, {kSelf, 0x0100}};
  for (const auto& p : bad_posts) {
    SCOPED_TRACE(p.from);
    EXPECT_EQ(post_event(p.from, p.to), -1);
  }
}

TEST_F(ClientEventsTest, PostWakesTheTargetProcess) {
  TestRtdb db = attach_test_rtdb(2);
  ASSERT_NE(db.kgd, nullptr);
  db.live(0x0000, getpid());   // row 0 holds this process's handles
  Client target, stranger;
  const std::string open = "rtdbopen " + std::to_string(db.kgd->index);
  target.ok(open);
  stranger.ok(open);
  db.live(0x0101, target.pid());
  target.ok("openev 257");

  for (int32_t from : {kSelf, kSelfByName, 0x0000}) {
    SCOPED_TRACE(from);
    target.send("waitev 257");
    EXPECT_EQ(post_event(from, 0x0101), 0);
    EXPECT_EQ(target.reply(), "ok 0");
  }
  // And back, through the target's own row.
  for (const char* post : {"post 257 0", "post -1 0", "post -3 0"}) {
    SCOPED_TRACE(post);
    EXPECT_EQ(target.call(post), "ok 0");
    EXPECT_EQ(wait_own_event(0x0000), 0);
  }
  EXPECT_EQ(stranger.call("post -1 0"), "ok -1") << "a process without an entry posted";

  EXPECT_EQ(target.call("closeev 257"), "ok 0");
  target.send("exit 0");
  stranger.send("exit 0");
  EXPECT_EQ(target.wait_exit(), 0);
  EXPECT_EQ(stranger.wait_exit(), 0);
}

TEST_F(ClientEventsTest, PostFromARowNotOursGoesByNameAndSetsNoOtherEvent) {
  TestRtdb db = attach_test_rtdb(2);
  ASSERT_NE(db.kgd, nullptr);
  db.live(0x0000, getpid());
  Client other, target;
  const std::string open = "rtdbopen " + std::to_string(db.kgd->index);
  other.ok(open);
  target.ok(open);
  db.live(0x0101, other.pid());
  db.live(0x0102, target.pid());
  other.ok("openev 257");
  target.ok("openev 258");
  db.apps[1].cpt[5].stat = kStatConfigured;   // a slot whose client has gone

  // Another process's row holds handle numbers of that process; a slot
  // without a client has no row.
  for (int32_t from : {0x0101, 0x0105}) {
    SCOPED_TRACE(from);
    target.send("waitev 258");
    EXPECT_EQ(post_event(from, 0x0102), 0);
    EXPECT_EQ(target.reply(), "ok 0");
    for (uint32_t a = 0; a < 2; ++a) {
      for (uint32_t slot = 0; slot < kSlots; ++slot) {
        char name[32];
        snprintf(name, sizeof name, "PLANT_00_%02u_%02u", a, slot);
        EXPECT_FALSE(signalled(shm_file(name))) << name;
      }
    }
  }
  target.send("exit 0");
  other.send("exit 0");
  EXPECT_EQ(target.wait_exit(), 0);
  EXPECT_EQ(other.wait_exit(), 0);
}

}  // namespace
}  // namespace rk::test
