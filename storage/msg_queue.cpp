#include "storage/msg_queue.h"

#include <algorithm>
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/crash_point.h"
#include "core/errors.h"
#include "core/intent_record.h"
#include "services/signal_post.h"
#include "storage/kernel_memory.h"

namespace rk {

namespace {

// The most messages a queue can count.
constexpr uint32_t kMaxMessages = 0xFFFF;

// One queued message, reached through its handle.
struct Message {
  uint32_t handle = 0;
  MessageBlock* block = nullptr;
};

uint8_t* data_of(MessageBlock* block) { return reinterpret_cast<uint8_t*>(block) + kMsgBlockHeader; }

// Reaches the message block a handle names. The queue's links live in shared
// memory, so a handle is trusted only when it names an allocated block that
// holds a message header and the data its length claims. 0, or kErrRange.
int reach(const Kgd* kgd, uint32_t handle, Message* m) {
  Addr payload = 0;
  uint32_t capacity = 0;
  if (mem_access(kgd, handle, &payload, &capacity) != 0 || capacity < kMsgBlockHeader) return kErrRange;
  MessageBlock* block = at<MessageBlock>(payload);
  if (block->record.length > capacity - kMsgBlockHeader) return kErrRange;
  *m = Message{handle, block};
  return 0;
}

// Reaches message `index` (below the count) from the head, and the message
// before it in `before` when index is above 0. Only index links are
// followed, so a damaged chain cannot make the walk loop.
int seek(const Kgd* kgd, const MsgQueue* queue, uint32_t index, Message* target, Message* before) {
  int error = reach(kgd, queue->head, target);
  for (uint32_t i = 0; error == 0 && i < index; ++i) {
    *before = *target;
    error = reach(kgd, target->block->next, target);
  }
  return error;
}

// The message's record as a reader gets it: the writer's caller fields with
// the reader's data address and size and the length given.
rk_message_record reader_record(const MessageBlock* block, void* data, uint16_t size, uint16_t length) {
  const MessageRecord kept = block->record;
  rk_message_record r;
  r.data = data;
  r.size = size;
  r.length = length;
  std::memcpy(r.caller_fields, kept.caller_fields, sizeof r.caller_fields);
  return r;
}

// The tag's change entry in one application; null when the application has
// no change array for the type.
ChangeEntry* change_entry_in(const AppBlock* app, const TagRef& ref) {
  if (app->pairs == 0) return nullptr;
  const Addr changes = at<TagArrayPair>(app->pairs)[ref.type].change_array;
  return changes == 0 ? nullptr : at<ChangeEntry>(changes) + ref.index;
}

}  // namespace

int msg_queue_count(const MsgQueue* queue, uint32_t* count) {
  *count = queue->count;
  return 0;
}

int msg_queue_peek(uint16_t, rk_message_record* records, const MsgQueue* queue, uint32_t start, uint32_t n,
                   uint32_t* n_out) {
  const uint32_t count = queue->count;
  if (start >= count) return kErrNoMessage;
  n = std::min(n, count - start);
  if (n == 0) {
    *n_out = 0;
    return 0;
  }
  const Kgd* kgd = attachment().kgd;
  Message m, before;
  int error = seek(kgd, queue, start, &m, &before);
  for (uint32_t i = 0; error == 0; ++i) {
    // Size reads 0 and length is the whole message: a peek delivers no data.
    records[i] = reader_record(m.block, records[i].data, 0, m.block->record.length);
    if (i + 1 == n) break;
    error = reach(kgd, m.block->next, &m);
  }
  if (error != 0) return error;
  *n_out = n;
  return 0;
}

int msg_queue_take(uint16_t id, ChangeEntry* change, rk_message_record* record, MsgQueue* queue, uint32_t index) {
  if ((queue->flags & kMbxOwned) != 0 && static_cast<int16_t>(queue->owner) != static_cast<int16_t>(id))
    return kErrOtherOwner;
  const uint32_t count = queue->count;
  if (index >= count) return kErrNoMessage;
  Kgd* kgd = attachment().kgd;
  Message m, before;
  if (const int error = seek(kgd, queue, index, &m, &before); error != 0) return error;

  const rk_message_record mine = *record;
  const uint16_t length = m.block->record.length;
  const uint16_t delivered = mine.data == nullptr ? 0 : std::min(mine.size, length);
  if (delivered != 0) memcpy(mine.data, data_of(m.block), delivered);
  *record = reader_record(m.block, mine.data, mine.size, delivered);

  // The message leaves the chain, then its block is freed, as one update.
  const uint32_t next = m.block->next;
  RK_LOGGED(queue, queued_bytes, queue->queued_bytes - (length + kMsgBlockHeader));
  RK_CRASH_POINT("queue.take.bytes");
  RK_LOGGED(queue, count, count - 1);
  RK_CRASH_POINT("queue.take.count");
  if (index == 0) {
    RK_LOGGED(queue, head, next);
    if (count == 1) {
      RK_LOGGED(queue, head, 0);
      RK_LOGGED(queue, tail, 0);
      RK_LOGGED(change, change_word, change->change_word & kDigitalBit);
    }
  } else if (index == count - 1) {
    RK_LOGGED(queue, tail, before.handle);
    RK_LOGGED(before.block, next, 0);
  } else {
    RK_LOGGED(before.block, next, next);
  }
  RK_CRASH_POINT("queue.take.unlinked");
  return mem_free(kgd, m.handle);
}

int msg_queue_put(uint16_t id, ChangeEntry* change, MsgQueue* queue, const rk_message_record* record) {
  const rk_message_record mine = *record;
  const uint16_t length = mine.data != nullptr ? mine.length : 0;
  const uint32_t bytes = length + kMsgBlockHeader;
  Kgd* kgd = attachment().kgd;
  const uint32_t limit_kib = queue->limit_kib != 0 ? queue->limit_kib : kgd->mbx_limit;
  const uint64_t after = uint64_t{queue->queued_bytes} + bytes;
  if ((limit_kib != 0 && uint64_t{limit_kib} * kMbxLimitUnit < after) || queue->count >= kMaxMessages)
    return kErrMbxLimit;

  // A tail that cannot be reached refuses the put before anything is
  // allocated. The allocation may move blocks of its pool, never a handle,
  // so both blocks are reached again after it.
  Message last, m;
  if (queue->count != 0) {
    if (const int error = reach(kgd, queue->tail, &last); error != 0) return error;
  }
  uint32_t handle = 0;
  if (const int error = mem_alloc(kgd, bytes, &handle); error != 0) return error;
  if (queue->count != 0) reach(kgd, queue->tail, &last);
  reach(kgd, handle, &m);   // a new block is zeroed: length 0 fits
  m.block->next = 0;
  m.block->writer = id;
  m.block->zero = 0;
  // The stored record is the writer's with no address or size of its own.
  MessageRecord stored{};
  stored.length = length;
  std::memcpy(stored.caller_fields, mine.caller_fields, sizeof stored.caller_fields);
  m.block->record = stored;
  if (length != 0) memcpy(data_of(m.block), mine.data, length);

  RK_CRASH_POINT("queue.put.filled");

  if (queue->count == 0) {
    RK_LOGGED(queue, head, handle);
  } else {
    RK_LOGGED(last.block, next, handle);
  }
  RK_CRASH_POINT("queue.put.linked");
  RK_LOGGED(queue, tail, handle);
  RK_LOGGED(queue, queued_bytes, after);
  RK_CRASH_POINT("queue.put.bytes");
  RK_LOGGED(queue, count, queue->count + 1);
  RK_LOGGED(change, change_word, change->change_word | kChangeBits);

  // The owner is told by its client id, in its own application; whether the
  // post succeeds has no bearing on the put.
  if ((queue->flags & kMbxOwned) != 0) post_signal_to_id(id, queue->owner, kOwnerSignal);
  return 0;
}

uint32_t msg_queue_discard(Kgd* kgd, MsgQueue* queue) {
  uint32_t freed = 0;
  Message m;
  // Each message leaves as one update of its own: a discard cut off leaves
  // the queue shorter, never broken.
  while (queue->count != 0 && reach(kgd, queue->head, &m) == 0) {
    Update update(kgd, kDataIntent);
    RK_LOGGED(queue, head, m.block->next);
    RK_LOGGED(queue, queued_bytes, queue->queued_bytes - (m.block->record.length + kMsgBlockHeader));
    RK_LOGGED(queue, count, queue->count - 1);
    RK_CRASH_POINT("queue.discard.unlinked");
    mem_free(kgd, m.handle);
    ++freed;
  }
  Update update(kgd, kDataIntent);
  for (uint32_t i = 0; i < sizeof *queue / 4; ++i) logged_store(reinterpret_cast<uint32_t*>(queue) + i, 0u);
  return freed;
}

uint32_t msg_queue_emptied(Kgd* kgd, const TagRef& ref, const MsgQueue* queue) {
  if (queue->count != 0 || kgd->type_table == 0 || ref.type >= kgd->ntypes || ref.type >= kTypeSlots) return 0;
  const TypeEntry& type = at<TypeEntry>(kgd->type_table)[ref.type];
  if (type.stat != kKindMessage || type.per_app != 0 || ref.index >= type.max) return 0;
  uint32_t cleared = 0;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    ChangeEntry* change = change_entry_in(app_block(kgd, a), ref);
    if (change == nullptr) continue;
    change->change_word = change->change_word & kDigitalBit;
    ++cleared;
  }
  return cleared;
}

}  // namespace rk
