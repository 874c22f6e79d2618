// Consistency check of a mailbox's message queue, for tests and for
// diagnosing a damaged queue. Reads only, and reads a message block only
// once kernel memory has vouched for its handle and its size.
#pragma once

#include <string>

#include "core/records.h"

namespace rk {

// "" when the queue is sound: an empty queue has head, tail and queued bytes
// 0; otherwise count links from the head reach as many distinct allocated
// blocks, each of exactly the size a message of its length is given and
// with a sound header (the stored record has no data address or size), the
// last of them is the tail and links nowhere, and their lengths plus their
// headers add up to the queued bytes. An unowned queue has owner 0.
// Otherwise the first fault found. Database lock held.
std::string msg_queue_check(const Kgd* kgd, const MsgQueue* queue);

}  // namespace rk
