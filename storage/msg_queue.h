// Message values: the first-in, first-out queue that is the kernel value of
// a mailbox tag. Every queued message is one kernel memory block, a
// MessageBlock followed by the message data, linked by handle from the
// queue's head to its tail; only the count tells whether the queue is empty,
// since 0 is a valid handle. Callers hand messages in and out through their
// own rk_message_records, which point into their own buffers; a block keeps
// the shared MessageRecord, without an address.
//
// All of these run under the caller's database lock, on the queue in the
// value cell of a tag the caller resolved and, where given, the tag's change
// entry in the caller's application. They work on the attached RTDB's
// kernel memory and return 0 or an error number; none stores a number in the
// caller's entry: the caller stores what they return.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

constexpr int kOwnerSignal = 3;   // posted to a mailbox's owner when a message arrives

// Stores the number of queued messages. 0.
int msg_queue_count(const MsgQueue* queue, uint32_t* count);

// Copies the records of up to n messages from message `start` (0 = first)
// into records, in queue order, leaving the queue as it is. Each record
// gets the message's length and the writer's caller fields, size 0, and
// keeps its own data address; no data is copied. n is cut to the messages
// there are and stored in n_out. 0, or kErrNoMessage when start is not
// below the count, or kErrRange for a message that cannot be reached.
int msg_queue_peek(uint16_t id, rk_message_record* records, const MsgQueue* queue, uint32_t start, uint32_t n,
                   uint32_t* n_out);

// Removes message `index` (0 = first) and delivers it: the record keeps its
// data address and size and gets the writer's caller fields and the length
// delivered, at most its size and 0 without a data address; that many bytes
// go to the data address and the rest of a longer message is lost. When the
// take empties the queue, the change bits of the entry are cleared (bit 31
// stays). 0, or kErrOtherOwner when the mailbox has an owner other than id
// (even when empty), kErrNoMessage when index is not below the count,
// kErrRange when a message cannot be reached; a refused take changes
// nothing.
int msg_queue_take(uint16_t id, ChangeEntry* change, rk_message_record* record, MsgQueue* queue, uint32_t index);

// Appends a copy of the caller's message, written by id: its length bytes
// from its data address, none when that is 0, and its caller fields. Sets
// the change bits of the entry (bit 31 stays) and posts the owner signal to
// the mailbox's owner, if it has one, whether or not that post succeeds.
// 0, or kErrMbxLimit when the queued bytes would pass the mailbox's limit
// (its own, else the kgd's default; a message that exactly fills it is
// taken) or the queue already holds the most messages its count can tell;
// kErrRange (message too large for a memory block), kErrNoMemory or
// kErrNoBlock from kernel memory, or kErrRange when the tail cannot be
// reached. A refused put changes nothing.
int msg_queue_put(uint16_t id, ChangeEntry* change, MsgQueue* queue, const rk_message_record* record);

// Gives every queued message's block back to kernel memory and leaves the
// queue all zero: empty, unowned, with the default limit. Each message
// leaves the chain before its block is freed, as in a take. The walk goes
// no further than the queue counts, and stops at a link that names no
// message block (a broken chain: a stale or foreign handle, or one back to
// a message freed already); what lies beyond it cannot be reached and stays
// allocated, never read from a stale address. Returns the number of blocks
// freed. Database lock held.
uint32_t msg_queue_discard(Kgd* kgd, MsgQueue* queue);

// The other half of a take that empties the queue of a shared mailbox type
// (per-application flag 0): msg_queue_take clears the change bits of the
// one change entry it is given, but each application keeps its own change
// entry of the tag, and every one of them would go on showing a changed
// mailbox that holds nothing. The tag engine calls this after every
// msg_queue_take that returned 0, with the tag's reference and the queue it
// took from. When the queue is now empty and the type is a mailbox type with
// shared values, the tag's change bits are cleared (bit 31 kept) in every
// application block that has a change array for the type, and the number of
// those entries is returned; otherwise nothing changes and it returns 0.
// Wait words are left alone: emptying wakes nobody. Database lock held.
uint32_t msg_queue_emptied(Kgd* kgd, const TagRef& ref, const MsgQueue* queue);

}  // namespace rk
