// Message queues of mailbox tags: limits, delivery into the reader's buffer,
// unlinking anywhere in the queue, peeking, the owner's refusal and signal,
// damaged chains refused rather than followed, and the empty take of a
// shared mailbox type. The queue check runs after every operation.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/client_ids.h"
#include "core/errors.h"
#include "storage/kernel_memory.h"
#include "storage/msg_queue.h"
#include "storage/msg_queue_check.h"
#include "storage/pool_check.h"
#include "support/low_arena.h"
#include "support/test_rtdb.h"

namespace rk::test {
namespace {

constexpr uint16_t kWriter = 0x0000;
constexpr uint16_t kOwner = 0x0103;       // slot 3 of application 1
constexpr uint16_t kNamesake = 0x0003;    // slot 3 of application 0, named like the owner
constexpr uint32_t kPools = 3;
constexpr uint32_t kLargest = kMaxMemBytes - kMsgBlockHeader;   // 63,458 data bytes
constexpr uint8_t kCanary = 0xEE;

// Message k of a test: its length and its bytes, different for every k.
std::string message(uint32_t k, uint32_t length) {
  std::string text(length, '\0');
  for (uint32_t i = 0; i < length; ++i) text[i] = static_cast<char>(k * 31 + i);
  return text;
}

rk_message_record writer_record(const std::string& text, uint8_t mark) {
  rk_message_record r{};
  r.data = const_cast<char*>(text.data());
  r.length = static_cast<uint16_t>(text.size());
  memset(r.caller_fields, mark, sizeof r.caller_fields);
  return r;
}

bool fields_are(const rk_message_record& r, uint8_t mark) {
  uint8_t expected[sizeof r.caller_fields];
  memset(expected, mark, sizeof expected);
  return memcmp(r.caller_fields, expected, sizeof expected) == 0;
}

class MsgQueueTest : public RtdbTest {
 protected:
  void SetUp() override {
    RtdbTest::SetUp();
    rtdb_ = attach_test_rtdb(2, 0, kPools);
    ASSERT_NE(rtdb_.kgd, nullptr);
    for (uint16_t id : {kWriter, kNamesake, kOwner}) {
      CptEntry& e = rtdb_.live(id, static_cast<uint32_t>(getpid()));
      strcpy(e.name, id == kWriter ? "WRITER" : "OWNER");
      e.sig_accepted = kAcceptedAtStart | 1u << kOwnerSignal;
    }
  }
  void TearDown() override {
    if (rtdb_.kgd != nullptr) {
      EXPECT_EQ(msg_queue_check(rtdb_.kgd, &queue_), "");
      EXPECT_EQ(pool_check(rtdb_.kgd), "");
    }
    RtdbTest::TearDown();
  }

  // Each operation is followed by the checks of the queue and the pools.
  int checked(int rc) {
    EXPECT_EQ(msg_queue_check(rtdb_.kgd, &queue_), "");
    EXPECT_EQ(pool_check(rtdb_.kgd), "");
    return rc;
  }
  int put(const rk_message_record& r, uint16_t id = kWriter) {
    return checked(msg_queue_put(id, &change_, &queue_, &r));
  }
  int take(rk_message_record* r, uint32_t index, uint16_t id = kWriter) {
    return checked(msg_queue_take(id, &change_, r, &queue_, index));
  }

  // Queues messages 0..n-1 of the given lengths, caller fields marked k.
  void fill(const std::vector<uint32_t>& lengths) {
    texts_.clear();
    for (uint32_t k = 0; k < lengths.size(); ++k) texts_.push_back(message(k, lengths[k]));
    for (uint32_t k = 0; k < lengths.size(); ++k) ASSERT_EQ(put(writer_record(texts_[k], static_cast<uint8_t>(k))), 0);
  }

  // The lengths of the queued messages in queue order, through a peek.
  std::vector<uint32_t> lengths() {
    std::vector<rk_message_record> records(val(queue_.count) + 1);
    uint32_t n = 0;
    if (val(queue_.count) == 0 || msg_queue_peek(kWriter, records.data(), &queue_, 0, 1000, &n) != 0) return {};
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < n; ++i) out.push_back(records[i].length);
    return out;
  }

  uint32_t blocks_in_use() const {
    uint32_t used = 0;
    for (uint32_t i = 0; i < rtdb_.kgd->nmems; ++i) used += mem_pool(rtdb_.kgd, i)->nused;
    return used;
  }

  TestRtdb rtdb_;
  MsgQueue queue_{};
  ChangeEntry change_{};
  std::vector<std::string> texts_;
};

// Data address 0 queues length 0 whatever the length field says, yet the
// message takes its 30 bytes of the limit; the queue's own limit wins over
// the default; a limit is checked before the size of a memory block.
TEST_F(MsgQueueTest, PutsAreRefusedOnlyPastTheLimit) {
  struct {
    const char* what;
    uint16_t limit_kib, default_kib;
    std::vector<uint32_t> queued;
    uint32_t length;
    bool no_data;
    int error;
  } cases[] = {
      {"exactly fills 1 KiB", 1, 0, {}, 994, false, 0},
      {"one byte more", 1, 0, {}, 995, false, kErrMbxLimit},
      {"the default applies", 0, 1, {}, 995, false, kErrMbxLimit},
      {"the queue's own limit wins", 2, 1, {}, 995, false, 0},
      {"no data fits in what is left", 1, 0, {964}, 5000, true, 0},
      {"no data still takes 30 bytes", 1, 0, {965}, 0, true, kErrMbxLimit},
      {"the largest message", 0, 0, {}, kLargest, false, 0},
      {"too large for a block", 0, 0, {}, kLargest + 1, false, kErrRange},
      {"the limit is found first", 0, 1, {}, kLargest + 1, false, kErrMbxLimit},
      {"no limit at all", 0, 0, {10, 20}, 40, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    queue_.limit_kib = 0;   // while filling
    rtdb_.kgd->mbx_limit = 0;
    fill(c.queued);
    queue_.limit_kib = c.limit_kib;
    rtdb_.kgd->mbx_limit = c.default_kib;
    change_.change_word = kDigitalBit;
    const std::string text = message(9, c.length);
    rk_message_record w = writer_record(text, 9);
    if (c.no_data) w.data = nullptr;
    const MsgQueue before = queue_;
    const uint32_t blocks = blocks_in_use();

    ASSERT_EQ(put(w), c.error);
    if (c.error != 0) {
      EXPECT_EQ(memcmp(&before, &queue_, sizeof before), 0) << "a refused put changes nothing";
      EXPECT_EQ(blocks_in_use(), blocks);
      EXPECT_EQ(val(change_.change_word), kDigitalBit);
    } else {
      const uint32_t length = c.no_data ? 0 : c.length;
      EXPECT_EQ(val(queue_.queued_bytes), val(before.queued_bytes) + length + 30);
      EXPECT_EQ(val(change_.change_word), 0xFFFFFFFFu) << "every slot sees it; bit 31 kept";
      std::string got(length, '\0');
      rk_message_record r{};
      r.data = got.data();
      r.size = static_cast<uint16_t>(length);
      ASSERT_EQ(take(&r, val(queue_.count) - 1), 0);
      EXPECT_EQ(val(r.length), length);
      EXPECT_TRUE(got == text.substr(0, length)) << "read back whole";
    }
    rk_message_record drain{};
    while (val(queue_.count) != 0) ASSERT_EQ(take(&drain, 0), 0);
  }

  // A count that cannot grow refuses the put like a full mailbox.
  MsgQueue full{};
  full.count = 0xFFFF;
  const std::string text = "x";
  const rk_message_record w = writer_record(text, 1);
  EXPECT_EQ(msg_queue_put(kWriter, &change_, &full, &w), kErrMbxLimit);
  EXPECT_EQ(blocks_in_use(), 0u);
}

// A take delivers at most the reader's size, never writes past it, and
// keeps the rest of the queue linked, whichever message it takes.
TEST_F(MsgQueueTest, TakesDeliverIntoTheReadersBufferAndUnlink) {
  struct {
    const char* what;
    uint32_t index;
    uint16_t size;
    bool no_data;
    int error;
    uint16_t delivered;
    std::vector<uint32_t> left;
  } cases[] = {
      {"the first", 0, 100, false, 0, 10, {20, 30}},
      {"the middle", 1, 100, false, 0, 20, {10, 30}},
      {"the last: the tail moves back", 2, 100, false, 0, 30, {10, 20}},
      {"none there", 3, 100, false, kErrNoMessage, 0, {10, 20, 30}},
      {"a short buffer loses the rest", 2, 4, false, 0, 4, {10, 20}},
      {"no data address: fields only", 1, 100, true, 0, 0, {10, 30}},
      {"an exact fit", 1, 20, false, 0, 20, {10, 30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fill({10, 20, 30});
    change_.change_word = kChangeBits;
    std::vector<uint8_t> buffer(c.size + 8, kCanary);
    rk_message_record r{};
    r.data = c.no_data ? nullptr : buffer.data();
    r.size = c.size;
    const uint32_t bytes = val(queue_.queued_bytes);

    ASSERT_EQ(take(&r, c.index), c.error);
    EXPECT_EQ(lengths(), c.left);
    EXPECT_EQ(val(change_.change_word), kChangeBits) << "messages remain: the tag stays changed";
    if (c.error == 0) {
      EXPECT_EQ(val(r.data), c.no_data ? nullptr : static_cast<void*>(buffer.data()));
      EXPECT_EQ(val(r.size), c.size);
      EXPECT_EQ(val(r.length), c.delivered);
      EXPECT_TRUE(fields_are(r, static_cast<uint8_t>(c.index)));
      EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + c.delivered), texts_[c.index].substr(0, c.delivered));
      EXPECT_EQ(buffer[c.delivered], kCanary) << "nothing past what was delivered";
      EXPECT_EQ(buffer[c.size], kCanary) << "nothing past the reader's size";
      EXPECT_EQ(val(queue_.queued_bytes), bytes - texts_[c.index].size() - 30);
    }
    while (val(queue_.count) != 0) ASSERT_EQ(take(&r, 0), 0);
  }
}

TEST_F(MsgQueueTest, TakingTheOnlyMessageClearsTheChangeBitsAndEmptiesTheQueue) {
  fill({kLargest});
  std::string got(0xFFFF, '\0');
  rk_message_record r{};
  r.data = got.data();
  r.size = 0xFFFF;
  change_.change_word = 0xFFFFFFFF;
  ASSERT_EQ(take(&r, 0), 0);
  EXPECT_EQ(val(r.length), kLargest);
  EXPECT_TRUE(got.substr(0, kLargest) == texts_[0]);
  EXPECT_EQ(val(change_.change_word), kDigitalBit) << "bit 31 is the digital value, kept";
  EXPECT_EQ(val(queue_.count), 0);
  EXPECT_EQ(val(queue_.queued_bytes), 0u);
  EXPECT_EQ(blocks_in_use(), 0u);
  EXPECT_EQ(take(&r, 0), kErrNoMessage);
}

TEST_F(MsgQueueTest, PeeksCopyRecordsWithoutData) {
  fill({10, 20, 30});
  struct {
    uint32_t start, n;
    int error;
    std::vector<uint32_t> lengths;
  } cases[] = {
      {0, 3, 0, {10, 20, 30}}, {1, 5, 0, {20, 30}}, {2, 1, 0, {30}},
      {1, 0, 0, {}},           {3, 1, kErrNoMessage, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << c.start << ", n " << c.n);
    // The peek keeps each record's data address and never reaches it.
    char never[4];
    std::vector<rk_message_record> records(4);
    for (uint32_t i = 0; i < records.size(); ++i) {
      records[i] = rk_message_record{never + i, 999, 5, {}};
    }
    uint32_t n = 1234;
    ASSERT_EQ(checked(msg_queue_peek(kWriter, records.data(), &queue_, c.start, c.n, &n)), c.error);
    EXPECT_EQ(n, c.error == 0 ? c.lengths.size() : 1234u);
    for (uint32_t i = 0; i < records.size(); ++i) {
      const rk_message_record& r = records[i];
      if (i >= c.lengths.size()) {
        EXPECT_EQ(val(r.size), 999) << "record " << i << " is not the peek's";
        continue;
      }
      EXPECT_EQ(val(r.data), static_cast<void*>(never + i));
      EXPECT_EQ(val(r.size), 0);
      EXPECT_EQ(val(r.length), c.lengths[i]);
      EXPECT_TRUE(fields_are(r, static_cast<uint8_t>(c.start + i)));
    }
  }
  uint32_t count = 0;
  EXPECT_EQ(msg_queue_count(&queue_, &count), 0);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(lengths(), (std::vector<uint32_t>{10, 20, 30}));
}

// Only the owner takes from an owned mailbox, even an empty one; anybody
// may write to it, and each message posts the owner signal to the owner
// itself, by its id, in its own application.
TEST_F(MsgQueueTest, TheOwnerAloneTakesAndIsSignalledWhereverItRuns) {
  queue_.flags = kMbxOwned;
  queue_.owner = kOwner;
  rk_message_record r{};
  EXPECT_EQ(take(&r, 0, kWriter), kErrOtherOwner) << "even when empty";
  EXPECT_EQ(take(&r, 0, kOwner), kErrNoMessage);

  struct {
    const char* what;
    uint16_t owner;
    uint16_t signalled;   // 0xFFFF: nobody
  } cases[] = {
      {"in another application", kOwner, kOwner},
      {"the writer itself", kWriter, kWriter},
      {"a slot without a client", 0x0104, 0xFFFF},
      {"no such application", 0x0703, 0xFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    queue_.owner = c.owner;
    for (uint16_t id : {kWriter, kNamesake, kOwner}) slot_entry(rtdb_.kgd, id)->sig_pending = 0;
    slot_entry(rtdb_.kgd, kWriter)->errnum = 0;

    const std::string hello = "hello";
    ASSERT_EQ(put(writer_record(hello, 1)), 0);
    for (uint16_t id : {kWriter, kNamesake, kOwner}) {
      EXPECT_EQ(val(slot_entry(rtdb_.kgd, id)->sig_pending), id == c.signalled ? 1u << kOwnerSignal : 0u)
          << "client 0x" << std::hex << id;
    }
    EXPECT_EQ(val(slot_entry(rtdb_.kgd, kWriter)->errnum), 0) << "a failed post is no failure of the put";
    EXPECT_EQ(take(&r, 0, kWriter), c.owner == kWriter ? 0 : kErrOtherOwner);
    if (val(queue_.count) != 0) {
      ASSERT_EQ(take(&r, 0, c.owner), 0);
    }
  }
}

// Links and lengths live in shared memory: a chain that kernel memory does
// not vouch for is refused with 7, the check names the fault, and the
// operations change nothing.
TEST_F(MsgQueueTest, ADamagedChainIsRefusedNotFollowed) {
  fill({10, 20, 30});
  uint32_t freed = 0;
  ASSERT_EQ(mem_alloc(rtdb_.kgd, 8, &freed), 0);
  ASSERT_EQ(mem_free(rtdb_.kgd, freed), 0);
  MessageBlock* first = nullptr;
  Addr payload = 0;
  ASSERT_EQ(mem_access(rtdb_.kgd, queue_.head, &payload, nullptr), 0);
  first = at<MessageBlock>(payload);
  const uint32_t second = first->next;
  const uint32_t blocks = blocks_in_use();

  struct {
    const char* what;
    void (*damage)(MsgQueue*, MessageBlock*, uint32_t freed);
    int peek_error, take_error, put_error;
  } cases[] = {
      {"head freed", [](MsgQueue* q, MessageBlock*, uint32_t f) { q->head = f; }, kErrRange, kErrRange, 0},
      {"tail freed", [](MsgQueue* q, MessageBlock*, uint32_t f) { q->tail = f; }, 0, 0, kErrRange},
      {"a link to a freed block", [](MsgQueue*, MessageBlock* b, uint32_t f) { b->next = f; }, kErrRange, kErrRange, 0},
      {"a length past its block", [](MsgQueue*, MessageBlock* b, uint32_t) { b->record.length = 1000; },
       kErrRange, kErrRange, 0},
      {"a loop back to the head", [](MsgQueue* q, MessageBlock* b, uint32_t) { b->next = q->head; }, 0, 0, 0},
      {"bytes miscounted", [](MsgQueue* q, MessageBlock*, uint32_t) { q->queued_bytes = 7; }, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MsgQueue q = queue_;
    c.damage(&q, first, freed);
    EXPECT_NE(msg_queue_check(rtdb_.kgd, &q), "");
    rk_message_record records[3] = {};
    uint32_t n = 0;
    EXPECT_EQ(msg_queue_peek(kWriter, records, &q, 0, 3, &n), c.peek_error);
    const MsgQueue before = q;
    // Taking from the middle reaches past the first message.
    if (c.take_error != 0) {
      rk_message_record r{};
      EXPECT_EQ(msg_queue_take(kWriter, &change_, &r, &q, 2), c.take_error);
      EXPECT_EQ(memcmp(&before, &q, sizeof q), 0);
    }
    if (c.put_error != 0) {
      const std::string more = "more";
      const rk_message_record w = writer_record(more, 1);
      EXPECT_EQ(msg_queue_put(kWriter, &change_, &q, &w), c.put_error);
      EXPECT_EQ(memcmp(&before, &q, sizeof q), 0);
    }
    EXPECT_EQ(blocks_in_use(), blocks) << "no block taken or lost";
    first->next = second;
    first->record.length = 10;
  }
}

// Each application keeps its own change entry of a shared mailbox: the
// take that empties the queue clears only the taker's, and
// msg_queue_emptied clears the others'.
TEST_F(MsgQueueTest, EmptyingASharedMailboxClearsEveryApplicationsChangeBits) {
  constexpr uint16_t kShared = 1, kPerApp = 2, kMax = 2;
  // Tables the kernel follows by 32-bit address: below 4 GiB.
  LowVector<TypeEntry> types(3);
  types[kShared].stat = types[kPerApp].stat = kKindMessage;
  types[kShared].max = types[kPerApp].max = kMax;
  types[kPerApp].per_app = 1;
  rtdb_.kgd->type_table = addr_of(types.data());
  rtdb_.kgd->ntypes = 3;
  LowVector<TagArrayPair> pairs[2];
  LowVector<ChangeEntry> changes[2][3];
  for (uint32_t a = 0; a < 2; ++a) {
    pairs[a].resize(kTypeSlots);
    for (uint16_t t : {kShared, kPerApp}) {
      changes[a][t].assign(kMax, ChangeEntry{kChangeBits | kDigitalBit, 1u << 4});
      pairs[a][t].change_array = addr_of(changes[a][t].data());
    }
    rtdb_.apps[a].pairs = addr_of(pairs[a].data());
  }
  const TagRef tag{kShared, 1};
  ChangeEntry& mine = changes[0][kShared][1];

  fill({10, 20});
  rk_message_record r{};
  ASSERT_EQ(msg_queue_take(kWriter, &mine, &r, &queue_, 0), 0);
  EXPECT_EQ(msg_queue_emptied(rtdb_.kgd, tag, &queue_), 0u) << "a message remains";
  EXPECT_EQ(val(changes[1][kShared][1].change_word), kChangeBits | kDigitalBit);

  ASSERT_EQ(msg_queue_take(kWriter, &mine, &r, &queue_, 0), 0);
  EXPECT_EQ(val(mine.change_word), kDigitalBit) << "the take cleared the taker's entry";
  EXPECT_EQ(val(changes[1][kShared][1].change_word), kChangeBits | kDigitalBit) << "only that one";
  EXPECT_EQ(msg_queue_emptied(rtdb_.kgd, TagRef{kPerApp, 1}, &queue_), 0u) << "per application: nothing more";
  EXPECT_EQ(msg_queue_emptied(rtdb_.kgd, TagRef{kShared, kMax}, &queue_), 0u) << "no such tag";
  EXPECT_EQ(msg_queue_emptied(rtdb_.kgd, TagRef{7, 0}, &queue_), 0u) << "no such type";
  EXPECT_EQ(val(changes[1][kShared][1].change_word), kChangeBits | kDigitalBit);

  rtdb_.apps[1].pairs = 0;   // an application whose arrays are not placed is passed over
  EXPECT_EQ(msg_queue_emptied(rtdb_.kgd, tag, &queue_), 1u);
  rtdb_.apps[1].pairs = addr_of(pairs[1].data());
  EXPECT_EQ(msg_queue_emptied(rtdb_.kgd, tag, &queue_), 2u);
  for (uint32_t a = 0; a < 2; ++a) {
    SCOPED_TRACE(a);
    EXPECT_EQ(val(changes[a][kShared][1].change_word), kDigitalBit);
    EXPECT_EQ(val(changes[a][kShared][1].wait_word), 1u << 4) << "emptying wakes nobody";
    EXPECT_EQ(val(changes[a][kShared][0].change_word), kChangeBits | kDigitalBit) << "another tag";
    EXPECT_EQ(val(changes[a][kPerApp][1].change_word), kChangeBits | kDigitalBit) << "another type";
  }
  rtdb_.kgd->type_table = 0;
  rtdb_.kgd->ntypes = 0;
  for (uint32_t a = 0; a < 2; ++a) rtdb_.apps[a].pairs = 0;
}

}  // namespace
}  // namespace rk::test
