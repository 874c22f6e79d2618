// Tag lists: installed by one client for another, read back by their
// owner, scanned for changes with or without a sleep; in one process and
// across processes. Slots here are made live by hand; the slot set-up of
// registration and application start is tested in tag_list_slots_test.
#include <unistd.h>

#include <string>
#include <vector>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "services/tag_list_check.h"
#include "storage/kernel_memory.h"
#include "storage/pool_check.h"
#include "support/kernel_test.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/unaligned.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kMe = 0x0000;     // this process
constexpr uint16_t kLocal = 0;       // 4-byte values per application
constexpr uint32_t kLargest = 15872; // references in the largest kernel memory block

class TagListTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    TagRtdbTest::SetUp();
    create({type_entry("LOCAL", 0, 8, 4, 1)}, 1, 4);
    make_live(kMe, getpid());
  }
  static TagRef local(uint16_t index) { return TagRef{kLocal, index}; }
  // Allocated kernel memory blocks over every pool.
  uint32_t blocks() const {
    uint32_t n = 0;
    for (uint32_t p = 0; p < kgd_->nmems; ++p) n += val(mem_pool(kgd_, p)->nused);
    return n;
  }
  static int set(const char* name, const std::vector<TagRef>& refs) {
    return rk_set_tag_list(kMe, name, refs.data(), static_cast<uint32_t>(refs.size()));
  }
  // This process's own list, as rk_get_tag_list gives it.
  static std::vector<TagRef> own_list() {
    std::vector<TagRef> refs(kLargest);
    uint32_t n = 0;
    if (rk_get_tag_list(kMe, refs.data(), kLargest, &n) != 0) return {};
    refs.resize(n);
    return refs;
  }
  static bool same(const std::vector<TagRef>& a, const std::vector<TagRef>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (val(a[i].type) != val(b[i].type) || val(a[i].index) != val(b[i].index)) return false;
    }
    return true;
  }
  void write(uint16_t index, uint32_t v) {
    const TagRef tag = local(index);
    ASSERT_EQ(rk_write(kMe, &tag, 1, &v), 0);
  }
  void clear_own_changes() {
    std::vector<TagRef> all;
    for (uint16_t i = 0; i < 8; ++i) all.push_back(local(i));
    ASSERT_EQ(rk_clear_chng(kMe, all.data(), 8), 0);
  }
};

TEST_F(TagListTest, AListTakesAtMostOneKernelMemoryBlockAndAFailedSetKeepsTheOldList) {
  const std::vector<TagRef> old = {local(2), local(1), local(2)};
  ASSERT_EQ(set("#0:0", old), 0);
  ASSERT_EQ(blocks(), 1u);
  std::vector<TagRef> many(16384);
  for (uint32_t i = 0; i < many.size(); ++i) many[i] = local(static_cast<uint16_t>(i % 8));

  const struct {
    const char* what;
    const char* name;
    const TagRef* tags;
    uint32_t count;
    int err;
  } refused[] = {
      {"one reference more than the largest block", "#0:0", many.data(), kLargest + 1, kErrRange},
      {"references of 64 KiB", "#0:0", many.data(), 16384, kErrNoMemory},
      {"a count whose bytes wrap round 32 bits", "#0:0", many.data(), 0x40000000u, kErrNoMemory},
      {"null references", "#0:0", nullptr, 3, kErrNullArg},
      {"a null name", nullptr, many.data(), 3, kErrNullArg},
      {"no slot of that name", "NOBODY", many.data(), 3, kErrNoClient},
      {"a slot of another application", "#1:0", many.data(), 3, kErrNoClient},
      {"a slot without a live client", "#0:9", many.data(), 3, kErrNotRegistered},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(rk_set_tag_list(kMe, r.name, r.tags, r.count), -1);
    EXPECT_EQ(rk_errno(kMe), r.err);
    EXPECT_TRUE(same(own_list(), old)) << "the old list stays";
    EXPECT_EQ(val(entry(0x0009).list_count), 0) << "nothing is stored in a slot nobody lives in";
    EXPECT_EQ(blocks(), 1u) << "a refused list leaves no block behind";
    EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
    EXPECT_EQ(val(entry(kMe).lock), 0) << "the lock is given back";
  }

  ASSERT_EQ(rk_set_tag_list(kMe, "#0:0", many.data(), kLargest), 0);
  many.resize(kLargest);
  EXPECT_TRUE(same(own_list(), many)) << "the largest list, whole and in order";
  EXPECT_EQ(val(entry(kMe).list_count), kLargest);
  EXPECT_EQ(blocks(), 1u) << "the old list's block was freed";
  EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
}

TEST_F(TagListTest, GetTagListAlwaysTellsTheLengthOfTheList) {
  std::vector<TagRef> buffer(4);
  uint32_t n = 99;
  EXPECT_EQ(rk_get_tag_list(kMe, buffer.data(), 4, &n), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNoTagList);
  EXPECT_EQ(n, 0u);

  const std::vector<TagRef> list = {local(3), local(0), local(3)};
  ASSERT_EQ(set("#0:0", list), 0);
  const struct {
    const char* what;
    TagRef* buffer;
    uint32_t capacity;
    bool count_out;
    int err;
  } cases[] = {
      {"room for one fewer", buffer.data(), 2, true, kErrNoMemory},
      {"no buffer", nullptr, 4, true, kErrNullArg},
      {"no count out", buffer.data(), 4, false, kErrNullArg},
      {"room for it exactly", buffer.data(), 3, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    n = 99;
    const int rc = rk_get_tag_list(kMe, c.buffer, c.capacity, c.count_out ? &n : nullptr);
    EXPECT_EQ(rc, c.err == 0 ? 0 : -1);
    if (c.err != 0) { EXPECT_EQ(rk_errno(kMe), c.err); }
    EXPECT_EQ(n, c.count_out ? 3u : 99u);
  }
  buffer.resize(3);
  EXPECT_TRUE(same(buffer, list)) << "duplicates kept, in the setter's order";

  // Count 0 removes the list and its block.
  ASSERT_EQ(rk_set_tag_list(kMe, "#0:0", nullptr, 0), 0);
  EXPECT_EQ(blocks(), 0u);
  n = 99;
  EXPECT_EQ(rk_get_tag_list(kMe, buffer.data(), 3, &n), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNoTagList);
  EXPECT_EQ(n, 0u);
  TagRef tag{};
  uint32_t index = 0;
  uint32_t v = 0;
  EXPECT_EQ(rk_change_read_tag_list(kMe, &tag, &index, &v), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNoTagList);
  EXPECT_EQ(rk_change_wait_tag_list(kMe, &tag, &index, &v), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNoTagList);
}

TEST_F(TagListTest, ChangeReadReportsTheFirstChangedTagInListOrderWhateverTheIndexHeld) {
  clear_own_changes();
  ASSERT_EQ(set("#0:0", {local(3), local(1), local(2), local(1)}), 0);
  write(2, 7);
  write(1, 5);
  struct {
    uint32_t index;
    uint16_t tag;
    uint32_t value;
  } expected[] = {{1, 1, 5}, {2, 2, 7}};
  for (const auto& e : expected) {
    TagRef tag{};
    uint32_t index = 99;
    uint32_t v = 0;
    ASSERT_EQ(rk_change_read_tag_list(kMe, &tag, &index, &v), 0);
    EXPECT_EQ(index, e.index);
    EXPECT_EQ(val(tag.index), e.tag);
    EXPECT_EQ(v, e.value);
  }
  TagRef tag{};
  uint32_t index = 0;
  uint32_t v = 0;
  EXPECT_EQ(rk_change_read_tag_list(kMe, &tag, &index, &v), -1) << "the read cleared the duplicate's bit too";
  EXPECT_EQ(rk_errno(kMe), kErrNoChange);
  EXPECT_EQ(index, 4u);

  const struct {
    const char* what;
    TagRef* tag;
    uint32_t* index;
    uint32_t* value;
  } nulls[] = {{"tag", nullptr, &index, &v}, {"index", &tag, nullptr, &v}, {"value", &tag, &index, nullptr}};
  for (const auto& c : nulls) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(rk_change_read_tag_list(kMe, c.tag, c.index, c.value), -1);
    EXPECT_EQ(rk_errno(kMe), kErrNullArg);
    EXPECT_EQ(rk_change_wait_tag_list(kMe, c.tag, c.index, c.value), -1);
    EXPECT_EQ(rk_errno(kMe), kErrNullArg);
  }

  // References are checked only when scanned.
  ASSERT_EQ(set("#0:0", {local(0), local(99)}), 0);
  EXPECT_EQ(rk_change_read_tag_list(kMe, &tag, &index, &v), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);
}

TEST_F(TagListTest, ChangeWaitLooksFromTheCallersPosition) {
  clear_own_changes();
  ASSERT_EQ(set("#0:0", {local(1), local(2), local(3)}), 0);
  TagRef tag{};
  uint32_t v = 0;
  for (uint32_t index : {3u, 0xFFFFFFFFu}) {
    EXPECT_EQ(rk_change_wait_tag_list(kMe, &tag, &index, &v), -1);
    EXPECT_EQ(rk_errno(kMe), kErrRange) << index;
  }

  // A success gives the caller's error number back: here 9, from a read.
  const TagRef bad = local(99);
  ASSERT_EQ(rk_read(kMe, &bad, 1, &v), -1);
  write(3, 0x33);
  uint32_t index = 1;
  ASSERT_EQ(rk_change_wait_tag_list(kMe, &tag, &index, &v), 0);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(val(tag.index), 3);
  EXPECT_EQ(v, 0x33u);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);

  // A tag before the position is not looked at: with the termination signal
  // pending and accepted the sleep ends at once.
  write(1, 0x11);
  ASSERT_EQ(rk_hold_sig(kMe, 1, 0), 1);
  ASSERT_EQ(rk_send_sig(kMe, "#0:0", 1), 0);
  index = 1;
  EXPECT_EQ(rk_change_wait_tag_list(kMe, &tag, &index, &v), -1);
  EXPECT_EQ(rk_errno(kMe), kErrTerminate);
  for (uint16_t i = 1; i <= 3; ++i) EXPECT_EQ(val(change(0, local(i)).wait_word), 0u) << i;
  index = 0;
  ASSERT_EQ(rk_change_read_tag_list(kMe, &tag, &index, &v), 0) << "the tag passed over is still changed";
  EXPECT_EQ(index, 0u);
}

// A client process sleeps in rk_change_wait_tag_list on its list, which
// this process installs; another client process writes.
class TagListWaitTest : public TagListTest {
 protected:
  static constexpr uint16_t kWaiter = 0x0005;
  static constexpr uint32_t kBit = 1u << 5;
  bool wait_asleep(Client& c, uint32_t index) {
    c.send("tlwait 5 " + std::to_string(index));
    return reaches_state(entry(kWaiter), kWaitTag);
  }
  // Asked only after whatever could have woken it has happened.
  static bool still_asleep(Client& c) { return !c.reply_ready(100); }
};

TEST_F(TagListWaitTest, AWriteInAnotherProcessWakesTheOwnerWithTheListedTag) {
  Client& waiter = start(kWaiter);
  Client& writer = start(0x0006);
  ASSERT_EQ(set("#0:5", {local(1), local(2)}), 0);
  ASSERT_EQ(waiter.call("tagread 5 0 99"), "err 9");
  ASSERT_TRUE(wait_asleep(waiter, 0));
  EXPECT_EQ(val(change(0, local(1)).wait_word), kBit);
  EXPECT_EQ(val(change(0, local(2)).wait_word), kBit);
  ASSERT_EQ(writer.call("tagwrite 6 6 0 3 7"), "ok");
  EXPECT_TRUE(still_asleep(waiter)) << "a tag not listed";
  ASSERT_EQ(writer.call("tagwrite 6 6 0 2 4d"), "ok");
  EXPECT_EQ(waiter.reply(), "ok 1 0:2 4d 9") << "the error number as it was before";
  EXPECT_EQ(val(change(0, local(1)).wait_word), 0u);
  EXPECT_EQ(val(change(0, local(2)).wait_word), 0u);
  EXPECT_EQ(val(entry(kWaiter).lock), 0);

  // Woken with nothing changed, it looks once more from where it started.
  ASSERT_TRUE(wait_asleep(waiter, 1));
  const uint32_t mask = kBit;
  ASSERT_EQ(rk_wakeup(kMe, &mask, 1), 0);
  EXPECT_EQ(waiter.reply(), "err 11");
}

TEST_F(TagListWaitTest, ReplacingTheListOfASleepingOwnerPostsSignalTwo) {
  Client& waiter = start(kWaiter);
  Client& writer = start(0x0006);
  ASSERT_EQ(set("#0:5", {local(1), local(2)}), 0);

  // Accepted, the tag-list signal ends the sleep; what was marked is unmarked.
  ASSERT_EQ(waiter.call("holdsig 5 2 0"), "ok 1");
  EXPECT_EQ(waiter.call("recvsig 5"), "ok 2") << "posted by the first install, held until now";
  ASSERT_TRUE(wait_asleep(waiter, 0));
  ASSERT_EQ(set("#0:5", {local(3)}), 0);
  EXPECT_EQ(waiter.reply(), "err 34");
  for (uint16_t i = 1; i <= 3; ++i) EXPECT_EQ(val(change(0, local(i)).wait_word), 0u) << i;
  EXPECT_EQ(waiter.call("recvsig 5"), "ok 2");
  EXPECT_EQ(blocks(), 1u) << "the old list's block was freed";

  // Held, it is not woken by the new list; a write of a tag it sleeps on
  // wakes it, and it looks through the list it has by then.
  ASSERT_EQ(waiter.call("holdsig 5 2 1"), "ok 0");
  ASSERT_TRUE(wait_asleep(waiter, 0));
  ASSERT_EQ(set("#0:5", {local(4), local(3)}), 0);
  EXPECT_TRUE(still_asleep(waiter));
  EXPECT_EQ(val(change(0, local(3)).wait_word), kBit);
  EXPECT_EQ(val(change(0, local(4)).wait_word), 0u);
  ASSERT_EQ(writer.call("tagwrite 6 6 0 3 21"), "ok");
  EXPECT_EQ(waiter.reply(), "ok 1 0:3 21 34") << "its error number, 34, as it was";
  EXPECT_EQ(val(change(0, local(3)).wait_word), 0u);
  EXPECT_EQ(val(change(0, local(4)).wait_word), 0u);
  EXPECT_EQ(blocks(), 1u);
  EXPECT_EQ(pool_check(kgd_) + tag_list_check(kgd_), "");
}

}  // namespace
}  // namespace rk::test
