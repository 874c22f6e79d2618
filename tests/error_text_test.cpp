// Error numbers in words: every number of the kernel's table has its name in
// rk.h and a text of its own, the same for the number and its negation;
// numbers the kernel never stores read as unknown.
#include <climits>
#include <cstring>
#include <set>
#include <string>

#include "core/errors.h"
#include "rk.h"
#include "support/kernel_test.h"

namespace rk::test {
namespace {

struct Numbered {
  int name;       // the constant of rk.h
  int kernel;     // the kernel's own number
  const char* words;   // part of the text
};

const Numbered kTable[] = {
    {RK_ENOBLOCK, kErrNoBlock, "no free block"},
    {RK_ENOMEM, kErrNoMemory, "no memory"},
    {RK_ENORTDB, kErrNoRtdb, "no RTDB of that name"},
    {RK_ENOTREG, kErrNotRegistered, "no live client"},
    {RK_ERANGE, kErrRange, "out of range"},
    {RK_EBADTAG, kErrBadTag, "bad tag"},
    {RK_ENULL, kErrNullArg, "null"},
    {RK_ENOCHANGE, kErrNoChange, "no changed tag"},
    {RK_ENOSLOT, kErrNoSlot, "no free slot"},
    {RK_ENOCLIENT, kErrNoClient, "no client of that name"},
    {RK_ENOAPP, kErrNoApp, "no application"},
    {RK_EINUSE, kErrInUse, "live client holds the slot"},
    {RK_ENOTLOCKED, kErrNotLocked, "without holding the database lock"},
    {RK_ELOCKQUEUED, kErrLockQueued, "lock requested while queued"},
    {RK_ELOCKREVOKED, kErrLockRevoked, "revoked"},
    {RK_EWAITQUEUED, kErrWaitQueued, "wait requested while queued"},
    {RK_ETERM, kErrTerminate, "termination flag"},
    {RK_ENOLIST, kErrNoTagList, "no tag list"},
    {RK_ENOBODY, kErrNobodyWoken, "nobody was woken"},
    {RK_ENOSIG, kErrNoSignal, "no signal"},
    {RK_ESIGNAL, kErrSignal, "accepted signal"},
    {RK_ENOTMBX, kErrNotMailbox, "not a mailbox"},
    {RK_ENOMSG, kErrNoMessage, "no message"},
    {RK_EOWNER, kErrOtherOwner, "another owner"},
    {RK_EATTRFULL, kErrAttrFull, "attribute table is full"},
    {RK_EATTRBIT0, kErrAttrBit0, "bit 0"},
    {RK_ENOATTR, kErrNoAttr, "no attribute record"},
    {RK_EEXIST, kErrNameExists, "runs already"},
    {RK_ENOMORE, kErrNoMoreRtdb, "no (further) RTDB"},
    {RK_EMUTEX, kErrKernelMutex, "kernel mutex"},
    {RK_EMBXLIMIT, kErrMbxLimit, "limit"},
    {RK_ETYPETABLE, kErrIncompatible, "does not fit"},
    {RK_ENOOP, kErrNothingToDo, "changes nothing"},
    {RK_ENAN, kErrNaN, "NaN"},
    {RK_EPLUSINF, kErrPlusInf, "+infinity"},
    {RK_EMINUSINF, kErrMinusInf, "-infinity"},
    {RK_ESAMETAG, kErrSameTag, "same tag"},
    {RK_EAPPTOSHARED, kErrAppToShared, "shared destination"},
    {RK_EBOTHRAW, kErrBothClass5, "class 5"},
    {RK_EAPPDOWN, kErrAppInactive, "not active"},
    {RK_EREFUSED, kErrHandlerRefused, "handler refused"},
};

TEST(ErrorText, EveryNumberHasItsNameAndAText) {
  const std::string unknown = rk_strerror(9999);
  std::set<std::string> texts;
  for (const Numbered& e : kTable) {
    SCOPED_TRACE(e.kernel);
    EXPECT_EQ(e.name, e.kernel);
    const char* text = rk_strerror(e.name);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::string(text).find(e.words), std::string::npos) << text;
    EXPECT_NE(text, unknown);
    // A registration's negated result reads the same.
    EXPECT_STREQ(rk_strerror(-e.name), text);
    EXPECT_TRUE(texts.insert(text).second) << "two numbers share " << text;
  }
}

TEST(ErrorText, NumbersTheKernelNeverStoresAreUnknown) {
  EXPECT_STREQ(rk_strerror(0), "no error");
  for (int n : {3, 6, 8, 15, 21, 28, 29, 31, 43, 44, 49, 56, 58, 59, 61, 32767, INT_MAX, INT_MIN, -1000}) {
    EXPECT_STREQ(rk_strerror(n), "unknown error number") << n;
  }
}

}  // namespace
}  // namespace rk::test
