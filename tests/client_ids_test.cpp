// Resolving client ids to application blocks and entries, the ownership
// rule, and rk_errno.
#include <unistd.h>

#include "core/client_ids.h"
#include "core/errors.h"
#include "support/test_rtdb.h"

namespace rk::test {
namespace {

using ClientIdsTest = RtdbTest;

TEST_F(ClientIdsTest, OnlyLiveSlotsOfActiveApplicationsResolve) {
  TestRtdb db = attach_test_rtdb(4);
  ASSERT_NE(db.kgd, nullptr);
  const uint32_t me = getpid();
  db.live(0x0000, me);
  db.live(0x0304, me);
  db.live(0x0306, me).stat |= kStatTermSeen | kStatRevoked;
  db.apps[0].cpt[5].stat = kStatConfigured;
  db.live(0x0200, me);
  db.apps[2].active = 0;
  db.apps[1].active = 2;

  struct {
    uint16_t id;
    const CptEntry* entry;
    const char* why;
  } cases[] = {
      {0x0000, &db.apps[0].cpt[0], "live"},
      {0x0304, &db.apps[3].cpt[4], "live"},
      {0x0306, &db.apps[3].cpt[6], "live, with the termination-seen and revoked bits"},
      {0x1F00, nullptr, "application 31 of 4"},
      {0x0400, nullptr, "one past the last application"},
      {0x0005, nullptr, "slot configured, nobody registered"},
      {0x0001, nullptr, "slot free"},
      {0x001F, nullptr, "slot 31"},
      {0x03FF, nullptr, "slot 255"},
      {0x8000, nullptr, "negative application index"},
      {0xFFFF, nullptr, "negative application index"},
      {0x0200, nullptr, "application not running"},
      {0x0100, nullptr, "active word not 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    SCOPED_TRACE(c.id);
    EXPECT_EQ(resolve_entry(resolve_app(c.id), c.id), c.entry);
    EXPECT_EQ(resolve_owned(resolve_app(c.id), c.id), c.entry);
  }

  db.kgd->state = 0;
  EXPECT_EQ(resolve_app(0x0000), nullptr) << "an RTDB that is not valid";
  detach_test_rtdb();
  EXPECT_EQ(resolve_app(0x0000), nullptr) << "no RTDB attached";
}

TEST_F(ClientIdsTest, OwnerCheckAcceptsAnIdOnlyFromItsOwnProcess) {
  TestRtdb db = attach_test_rtdb(1);
  ASSERT_NE(db.kgd, nullptr);
  CptEntry& mine = db.live(0x0001, getpid());
  mine.errnum = kErrRange;
  Client other;
  other.ok("rtdbopen " + std::to_string(db.kgd->index));

  struct {
    uint16_t flags;
    uint32_t other_resolves;
  } cases[] = {
      {0, 1},
      {kFlagEveryone, 1},
      {kFlagOwnerCheck, 0},
      {kFlagOwnerCheck | kFlagEveryone, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    db.kgd->flags = c.flags;
    EXPECT_EQ(other.ok("owned 1"), c.other_resolves);
    EXPECT_EQ(resolve_owned(resolve_app(1), 1), &mine);
    // rk_errno resolves without the rule; the refusal stored nothing.
    EXPECT_EQ(other.ok("errno 1"), static_cast<uint32_t>(kErrRange));
    EXPECT_EQ(mine.errnum, kErrRange);
  }
  other.send("exit 0");
  EXPECT_EQ(other.wait_exit(), 0);
}

TEST_F(ClientIdsTest, ErrnoIsTheEntrysNumberSignExtended) {
  TestRtdb db = attach_test_rtdb(2);
  ASSERT_NE(db.kgd, nullptr);
  db.live(0x0101, getpid()).errnum = kErrKernelMutex;
  db.live(0x0102, getpid()).errnum = -3;
  db.live(0x0103, getpid());
  db.apps[1].cpt[4].errnum = kErrRange;   // not registered
  struct {
    uint16_t id;
    int result;
  } cases[] = {{0x0101, 45}, {0x0102, -3}, {0x0103, 0}, {0x0104, -1}, {0x1F00, -1}, {0x011F, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(rk_errno(c.id), c.result);
  }
}

}  // namespace
}  // namespace rk::test
