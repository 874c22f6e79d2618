// The kernel's error numbers, one table for every operation. A failed
// operation stores one in the caller's Client Process Table entry, where
// rk_errno reads it; calls made before the caller has an entry return it
// negated.
#pragma once

#include <cstdint>

namespace rk {

enum Error : int16_t {
  kErrNoBlock = 1,          // no free block of that size in a memory pool
  kErrNoMemory = 2,         // no memory, arrays cannot be placed, objects not created
  kErrNoRtdb = 4,           // no RTDB of that name, or it is not valid
  kErrNotRegistered = 5,    // no live client there, no slot or application of that name
  kErrRange = 7,            // a number out of range
  kErrBadTag = 9,           // bad tag reference or bad type entry
  kErrNullArg = 10,         // a required pointer is null, or a bad registration value
  kErrNoChange = 11,        // no changed tag found
  kErrNoSlot = 12,          // no free slot or no free application block
  kErrNoClient = 13,        // no client of that name, or an empty task name
  kErrNoApp = 14,           // no application of those names, or an empty instance name
  kErrInUse = 22,           // slot live, instance running, or process already attached
  kErrNotLocked = 23,       // unlock without holding the database lock
  kErrLockQueued = 24,      // lock requested while queued
  kErrLockRevoked = 25,     // the lock-revoked mark was found at the last unlock
  kErrWaitQueued = 26,      // wait requested while queued
  kErrTerminate = 27,       // wait ended: the termination signal is pending
  kErrNoTagList = 30,       // the caller has no tag list
  kErrNobodyWoken = 32,     // nobody was woken
  kErrNoSignal = 33,        // no signal both pending and accepted
  kErrSignal = 34,          // wait ended: another accepted signal is pending
  kErrNotMailbox = 35,      // the type is not a mailbox type
  kErrNoMessage = 36,       // no message at that position
  kErrOtherOwner = 37,      // the mailbox has another owner
  kErrAttrFull = 38,        // the Attribute Table is full
  kErrAttrBit0 = 39,        // attribute bit 0 given
  kErrNoAttr = 40,          // no attribute record matches
  kErrNameExists = 41,      // an RTDB of that name exists
  kErrNoMoreRtdb = 42,      // no (further) RTDB
  kErrKernelMutex = 45,     // the kernel mutex could not be taken
  kErrMbxLimit = 46,        // the message would exceed the mailbox limit
  kErrIncompatible = 47,    // the new type table does not fit the current one
  kErrNothingToDo = 48,     // the new type table changes nothing
  kErrNaN = 50,             // 8-byte value is NaN
  kErrPlusInf = 51,         // 8-byte value is +infinity
  kErrMinusInf = 52,        // 8-byte value is -infinity
  kErrSameTag = 53,         // move source and destination are the same tag
  kErrAppToShared = 54,     // per-application source moved to a shared destination
  kErrBothClass5 = 55,      // both tags of a move have type class 5
  kErrAppInactive = 57,     // the application named by a second client id is not active
  kErrHandlerRefused = 60,  // an attribute handler stopped a batch without an error number of its own
};

}  // namespace rk
