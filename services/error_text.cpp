// The kernel's error numbers in words, for clients that report a failure to
// a person. The names in rk.h and the kernel's own table are one table:
// the checks below keep them so.
#include "core/errors.h"
#include "rk.h"

using namespace rk;

namespace {

#define RK_SAME(name, kernel) static_assert(name == kernel, #name " is not the kernel's number")
RK_SAME(RK_ENOBLOCK, kErrNoBlock);
RK_SAME(RK_ENOMEM, kErrNoMemory);
RK_SAME(RK_ENORTDB, kErrNoRtdb);
RK_SAME(RK_ENOTREG, kErrNotRegistered);
RK_SAME(RK_ERANGE, kErrRange);
RK_SAME(RK_EBADTAG, kErrBadTag);
RK_SAME(RK_ENULL, kErrNullArg);
RK_SAME(RK_ENOCHANGE, kErrNoChange);
RK_SAME(RK_ENOSLOT, kErrNoSlot);
RK_SAME(RK_ENOCLIENT, kErrNoClient);
RK_SAME(RK_ENOAPP, kErrNoApp);
RK_SAME(RK_EINUSE, kErrInUse);
RK_SAME(RK_ENOTLOCKED, kErrNotLocked);
RK_SAME(RK_ELOCKQUEUED, kErrLockQueued);
RK_SAME(RK_ELOCKREVOKED, kErrLockRevoked);
RK_SAME(RK_EWAITQUEUED, kErrWaitQueued);
RK_SAME(RK_ETERM, kErrTerminate);
RK_SAME(RK_ENOLIST, kErrNoTagList);
RK_SAME(RK_ENOBODY, kErrNobodyWoken);
RK_SAME(RK_ENOSIG, kErrNoSignal);
RK_SAME(RK_ESIGNAL, kErrSignal);
RK_SAME(RK_ENOTMBX, kErrNotMailbox);
RK_SAME(RK_ENOMSG, kErrNoMessage);
RK_SAME(RK_EOWNER, kErrOtherOwner);
RK_SAME(RK_EATTRFULL, kErrAttrFull);
RK_SAME(RK_EATTRBIT0, kErrAttrBit0);
RK_SAME(RK_ENOATTR, kErrNoAttr);
RK_SAME(RK_EEXIST, kErrNameExists);
RK_SAME(RK_ENOMORE, kErrNoMoreRtdb);
RK_SAME(RK_EMUTEX, kErrKernelMutex);
RK_SAME(RK_EMBXLIMIT, kErrMbxLimit);
RK_SAME(RK_ETYPETABLE, kErrIncompatible);
RK_SAME(RK_ENOOP, kErrNothingToDo);
RK_SAME(RK_ENAN, kErrNaN);
RK_SAME(RK_EPLUSINF, kErrPlusInf);
RK_SAME(RK_EMINUSINF, kErrMinusInf);
RK_SAME(RK_ESAMETAG, kErrSameTag);
RK_SAME(RK_EAPPTOSHARED, kErrAppToShared);
RK_SAME(RK_EBOTHRAW, kErrBothClass5);
RK_SAME(RK_EAPPDOWN, kErrAppInactive);
RK_SAME(RK_EREFUSED, kErrHandlerRefused);
#undef RK_SAME

}  // namespace

extern "C" {

RK_API const char* rk_strerror(int error) {
  // Negated numbers are what the calls before registration return. The
  // widest int has no positive counterpart: it is no number of ours.
  const long long n = error < 0 ? -static_cast<long long>(error) : error;
  switch (n) {
    case 0: return "no error";
    case kErrNoBlock: return "no free block of that size in a kernel memory pool";
    case kErrNoMemory: return "no memory for the request";
    case kErrNoRtdb: return "no RTDB of that name, or it is not valid";
    case kErrNotRegistered: return "no live client there, or no slot or application of that name";
    case kErrRange: return "a number out of range";
    case kErrBadTag: return "bad tag reference or type";
    case kErrNullArg: return "a required argument is null, missing or holds a blank";
    case kErrNoChange: return "no changed tag found";
    case kErrNoSlot: return "no free slot in the application, or no free application block";
    case kErrNoClient: return "no client of that name, or an empty task name";
    case kErrNoApp: return "no application of that domain and instance, or an empty instance name";
    case kErrInUse: return "in use: a live client holds the slot, the instance runs or the process is attached";
    case kErrNotLocked: return "unlock without holding the database lock";
    case kErrLockQueued: return "lock requested while queued";
    case kErrLockRevoked: return "the database lock had been revoked";
    case kErrWaitQueued: return "wait requested while queued";
    case kErrTerminate: return "ended by the termination flag";
    case kErrNoTagList: return "the caller has no tag list";
    case kErrNobodyWoken: return "nobody was woken";
    case kErrNoSignal: return "no signal is both pending and accepted";
    case kErrSignal: return "the wait ended: an accepted signal is pending";
    case kErrNotMailbox: return "not a mailbox type";
    case kErrNoMessage: return "no message at that position";
    case kErrOtherOwner: return "the mailbox has another owner";
    case kErrAttrFull: return "the attribute table is full";
    case kErrAttrBit0: return "attribute bit 0 given";
    case kErrNoAttr: return "no attribute record matches";
    case kErrNameExists: return "an RTDB of this name runs already";
    case kErrNoMoreRtdb: return "no (further) RTDB";
    case kErrKernelMutex: return "the kernel mutex could not be taken";
    case kErrMbxLimit: return "the message would take the mailbox over its limit";
    case kErrIncompatible: return "the new type table does not fit the current one";
    case kErrNothingToDo: return "the new type table changes nothing";
    case kErrNaN: return "not a finite number: NaN";
    case kErrPlusInf: return "not a finite number: +infinity";
    case kErrMinusInf: return "not a finite number: -infinity";
    case kErrSameTag: return "source and destination of a move are the same tag";
    case kErrAppToShared: return "a per-application source moved to a shared destination";
    case kErrBothClass5: return "both tags of a move have type class 5";
    case kErrAppInactive: return "the application named is not active";
    case kErrHandlerRefused: return "an attribute handler refused the value";
    default: return "unknown error number";
  }
}

}  // extern "C"
