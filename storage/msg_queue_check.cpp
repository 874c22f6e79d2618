#include "storage/msg_queue_check.h"

#include <algorithm>
#include <vector>

#include "core/check_text.h"
#include "storage/kernel_memory.h"
#include "storage/memory_pool.h"

namespace rk {

namespace {

// The fault of message n at handle h, or "" with its block.
std::string check_message(const Kgd* kgd, uint32_t n, uint32_t h, const MessageBlock** block) {
  const Addr b = mem_block(kgd, h);
  if (b == 0) return check_text("message %u: handle 0x%x names no block", n, h);
  const uint32_t capacity = block_capacity(b);
  if (capacity < kMsgBlockHeader) return check_text("message %u: block of %u bytes", n, capacity);
  const MessageBlock* m = at<MessageBlock>(block_payload(b));
  const uint32_t length = m->record.length;
  if (pool_block(b)->size_units != mem_units(length + kMsgBlockHeader))
    return check_text("message %u: %u bytes in a block of %u", n, length, capacity);
  if (m->zero != 0 || m->record.data != 0 || m->record.size != 0)
    return check_text("message %u: header words %u, 0x%x, %u", n, m->zero, m->record.data, m->record.size);
  *block = m;
  return "";
}

}  // namespace

std::string msg_queue_check(const Kgd* kgd, const MsgQueue* queue) {
  if ((queue->flags & kMbxOwned) == 0 && queue->owner != 0) return check_text("unowned, owner 0x%x", queue->owner);
  const uint32_t count = queue->count;
  if (count == 0) {
    if (queue->head != 0 || queue->tail != 0 || queue->queued_bytes != 0)
      return check_text("empty, head 0x%x, tail 0x%x, %u bytes", queue->head, queue->tail, queue->queued_bytes);
    return "";
  }
  std::vector<uint32_t> seen;
  seen.reserve(count);
  uint32_t bytes = 0;
  uint32_t h = queue->head;
  const MessageBlock* m = nullptr;
  for (uint32_t n = 0; n < count; ++n) {
    if (n != 0) h = m->next;
    if (std::string fault = check_message(kgd, n, h, &m); !fault.empty()) return fault;
    seen.push_back(h);
    bytes += m->record.length + kMsgBlockHeader;
  }
  if (h != queue->tail) return check_text("tail 0x%x, last message 0x%x", queue->tail, h);
  if (m->next != 0) return check_text("last message links to 0x%x", m->next);
  if (bytes != queue->queued_bytes) return check_text("%u bytes queued, messages take %u", queue->queued_bytes, bytes);
  std::sort(seen.begin(), seen.end());
  if (const auto twice = std::adjacent_find(seen.begin(), seen.end()); twice != seen.end())
    return check_text("message 0x%x is linked twice", *twice);
  return "";
}

}  // namespace rk
