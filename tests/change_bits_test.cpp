// Change bits in one process: change scans and their position, the read of
// every changed tag, tests of another client's bits, the marks set and
// cleared by hand, mailboxes that stay changed while they hold messages,
// and the change wait when it finds a tag without sleeping.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_handlers.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kPlain = 0;     // 4 bytes, 8 tags
constexpr uint16_t kDigital = 1;   // 8 tags
constexpr uint16_t kMailbox = 2;   // 2 mailboxes
constexpr uint16_t kUndefined = 3;

constexpr uint16_t kMe = 0x0000;
constexpr uint16_t kOther = 0x0003;   // another client of application 0
constexpr uint32_t kMyBit = 1u << 0;
constexpr uint32_t kOtherBit = 1u << 3;

constexpr int kDirectionRead = 1;

constexpr TagRef plain(uint16_t index) { return TagRef{kPlain, index}; }

class ChangeBitsTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    rk_type_entry types[] = {type_entry("PLAIN", 0, 8, 4), type_entry("DIGITAL", 1, 8, 2),
                             type_entry("MAILBOX", 3, 2, 22)};
    rk_kusr ops = kusr("OPS", 2);
    ASSERT_GE(rk_create_rtdb("", "", "PLANT", &ops, 1, types, 3, 5, 4, 0), 0);
    kgd_ = attachment().kgd;
    app_block(kgd_, 0)->active = 1;
    make_live(kMe, getpid());
    make_live(kOther, getpid());
    // Every plain tag holds 0x10 + its index.
    for (uint16_t i = 0; i < 8; ++i) store_u32(cell(plain(i)) + 4, 0x10u + i);
  }
  void TearDown() override {
    rk_unmap_kgd();
    KernelTest::TearDown();
  }
  CptEntry& entry(uint16_t id) const { return *slot_entry(kgd_, id); }
  ChangeEntry& change(TagRef ref, uint32_t a = 0) const {
    return at<ChangeEntry>(at<TagArrayPair>(app_block(kgd_, a)->pairs)[ref.type].change_array)[ref.index];
  }
  uint8_t* cell(TagRef ref, uint32_t a = 0) const {
    const TypeEntry& t = at<TypeEntry>(kgd_->type_table)[ref.type];
    return at<uint8_t>(at<TagArrayPair>(app_block(kgd_, a)->pairs)[ref.type].value_array + (t.ksiz + 4) * ref.index);
  }
  uint32_t stat(uint16_t id, CptStat s) const { return val(entry(id).stats[s]); }
  void clear_all_words() {
    for (uint16_t i = 0; i < 8; ++i) {
      change(plain(i)).change_word = 0;
      change(TagRef{kDigital, i}).change_word = 0;
    }
  }

  Kgd* kgd_ = nullptr;
};

TEST_F(ChangeBitsTest, AChangeScanReadsTheFirstChangedTagFromItsPosition) {
  const TagRef bad_index{kPlain, 99}, bad_type{kUndefined, 0};
  struct Case {
    const char* name;
    std::vector<TagRef> list;
    std::vector<uint16_t> changed;   // plain tags changed for the caller
    uint32_t position;
    int rc;
    int16_t err;
    uint32_t position_after;
    uint32_t value;                  // read into the buffer; 0 for none
  } cases[] = {
      {"the first changed tag", {plain(0), plain(1), plain(2)}, {1, 2}, 0, 0, 0, 1, 0x11},
      {"from the position on", {plain(0), plain(1), plain(2)}, {0, 2}, 1, 0, 0, 2, 0x12},
      {"nothing changed from the position on", {plain(0), plain(1), plain(2)}, {0}, 1, -1, kErrNoChange, 3, 0},
      {"a position equal to the count", {plain(0), plain(1), plain(2)}, {0}, 3, -1, kErrRange, 3, 0},
      {"a position beyond it", {plain(0)}, {0}, 9, -1, kErrRange, 9, 0},
      {"a bad index passed over, the tag after it read", {plain(0), bad_index, plain(2)}, {2}, 0, -1, kErrBadTag, 2,
       0x12},
      {"a bad index and nothing changed", {bad_index, plain(1)}, {}, 0, -1, kErrBadTag, 2, 0},
      {"a bad type ends the scan", {plain(0), bad_type, plain(2)}, {2}, 0, -1, kErrBadTag, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_all_words();
    for (uint16_t i : c.changed) change(plain(i)).change_word = kMyBit | kOtherBit;
    entry(kMe).stats[kStatReadCalls] = 0;
    entry(kMe).stats[kStatReadTags] = 0;
    uint32_t position = c.position, got = 0, attribute = 0xdead;
    store_u32(cell(plain(2)), 0x40);
    EXPECT_EQ(rk_change_read_attr(kMe, c.list.data(), static_cast<uint32_t>(c.list.size()), &position, &got,
                                  &attribute),
              c.rc);
    if (c.rc != 0) {
      EXPECT_EQ(rk_errno(kMe), c.err);
    }
    EXPECT_EQ(position, c.position_after);
    EXPECT_EQ(got, c.value);
    if (c.value != 0) {
      const uint16_t read = static_cast<uint16_t>(c.value - 0x10);
      EXPECT_EQ(val(change(plain(read)).change_word), kOtherBit) << "only the caller's bit is cleared";
      EXPECT_EQ(attribute, read == 2 ? 0x40u : 0u);
    } else {
      EXPECT_EQ(attribute, 0xdeadu) << "nothing read, no attribute stored";
    }
    EXPECT_EQ(stat(kMe, kStatReadCalls), c.rc == 0 ? 1u : 0u);
    EXPECT_EQ(stat(kMe, kStatReadTags), c.rc == 0 ? 1u : 0u);
  }
  // A count of 0 leaves no position to start from.
  const TagRef one = plain(0);
  uint32_t position = 0, got = 0;
  EXPECT_EQ(rk_change_read(kMe, &one, 0, &position, &got), -1);
  EXPECT_EQ(rk_errno(kMe), kErrRange);
}

TEST_F(ChangeBitsTest, RepeatedScansWithOnePositionWalkTheChangedTagsInOrder) {
  const TagRef list[] = {plain(4), plain(5), plain(6)};
  ASSERT_EQ(rk_set_chng(kMe, list, 3), 0);
  EXPECT_EQ(val(app_block(kgd_, 0)->pending_wake), 0u) << "a change bit set by hand wakes nobody";
  uint32_t position = 0, got = 0;
  for (uint32_t expected = 0; expected < 3; ++expected) {
    ASSERT_EQ(rk_change_read(kMe, list, 3, &position, &got), 0);
    EXPECT_EQ(position, expected);
    EXPECT_EQ(got, 0x14 + expected);
  }
  EXPECT_EQ(rk_change_read(kMe, list, 3, &position, &got), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNoChange);
  EXPECT_EQ(position, 3u);

  uint16_t flags[3] = {9, 9, 9};
  ASSERT_EQ(rk_set_chng(kMe, list, 1), 0);
  ASSERT_EQ(rk_test_chng(kOther, list, 3, flags), 0);
  EXPECT_EQ(flags[0], 0) << "nobody else sees a change set by hand";
  ASSERT_EQ(rk_test_chng(kMe, list, 3, flags), 0);
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(flags[1], 0);
}

TEST_F(ChangeBitsTest, NullPointersAreRefusedBeforeAnyTag) {
  const TagRef ref = plain(0);
  uint32_t position = 0, got = 0;
  uint16_t flags[1] = {};
  change(ref).change_word = kMyBit;
  EXPECT_EQ(rk_change_read(kMe, nullptr, 1, &position, &got), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNullArg);
  EXPECT_EQ(rk_change_read(kMe, &ref, 1, nullptr, &got), -1);
  EXPECT_EQ(rk_change_wait(kMe, &ref, 1, &position, nullptr), -1);
  EXPECT_EQ(rk_change_read_all(kMe, &ref, 1, nullptr, &got), -1);
  EXPECT_EQ(rk_change_read_all(kMe, &ref, 1, flags, nullptr), -1);
  EXPECT_EQ(rk_test_chng(kMe, &ref, 1, nullptr), -1);
  EXPECT_EQ(rk_set_chng(kMe, nullptr, 1), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNullArg);
  EXPECT_EQ(val(change(ref).change_word), kMyBit);
  EXPECT_EQ(stat(kMe, kStatReadCalls), 0u);
  // An id that does not resolve stores nothing.
  EXPECT_EQ(rk_change_read(0x0009, &ref, 1, &position, &got), -1);
  EXPECT_EQ(rk_set_wait(0x0500, &ref, 1), -1);
  EXPECT_EQ(rk_set_sync(), 0);
  EXPECT_EQ(rk_clear_sync(), 0);
}

TEST_F(ChangeBitsTest, ReadAllFlagsAndReadsEveryChangedTag) {
  const TagRef digital{kDigital, 0};
  const TagRef list[] = {plain(0), plain(1), TagRef{kPlain, 99}, digital, plain(3)};
  uint16_t flags[5] = {7, 7, 7, 7, 7};
  uint8_t buffer[4 + 4 + 4 + 2 + 4] = {};
  change(plain(0)).change_word = kMyBit | kOtherBit;
  change(plain(1)).change_word = kOtherBit;
  change(digital).change_word = kDigitalBit | kMyBit;
  change(plain(3)).change_word = kMyBit;
  EXPECT_EQ(rk_change_read_all(kMe, list, 5, flags, buffer), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);
  const uint16_t expected_flags[] = {1, 0, 7, 1, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(flags[i], expected_flags[i]) << "element " << i;
  EXPECT_EQ(load_u32(buffer), 0x10u);
  EXPECT_EQ(load_u32(buffer + 4), 0u) << "an unchanged tag is not read";
  uint16_t digital_value = 0;
  memcpy(&digital_value, buffer + 12, 2);
  EXPECT_EQ(digital_value, 1);
  EXPECT_EQ(load_u32(buffer + 14), 0x13u);
  EXPECT_EQ(val(change(plain(0)).change_word), kOtherBit);
  EXPECT_EQ(val(change(digital).change_word), kDigitalBit);
  EXPECT_EQ(stat(kMe, kStatReadCalls), 0u) << "a call with an error counts nothing";

  // Nothing changed is a success, every flag 0.
  const TagRef good[] = {plain(0), plain(1), plain(3)};
  uint16_t none[3] = {7, 7, 7};
  EXPECT_EQ(rk_change_read_all(kMe, good, 3, none, buffer), 0);
  for (uint16_t f : none) EXPECT_EQ(f, 0);
  EXPECT_EQ(stat(kMe, kStatReadCalls), 1u);
  EXPECT_EQ(stat(kMe, kStatReadTags), 1u);
}

TEST_F(ChangeBitsTest, MarksSetAndClearOnlyTheirBits) {
  const TagRef digital{kDigital, 2};
  using Call = int (*)(rk_client_id, const rk_tag_ref*, uint32_t);
  struct Case {
    const char* name;
    Call call;
    uint16_t id;
    uint32_t change_word, wait_word;   // after the call
  } cases[] = {
      {"set change", rk_set_chng, kMe, kDigitalBit | kOtherBit | kMyBit, kOtherBit},
      {"clear change", rk_clear_chng, kOther, kDigitalBit, kOtherBit},
      {"clear all changes keeps the digital value", rk_clear_all_chng, kMe, kDigitalBit, kOtherBit},
      {"set wait", rk_set_wait, kMe, kDigitalBit | kOtherBit, kOtherBit | kMyBit},
      {"clear wait", rk_clear_wait, kOther, kDigitalBit | kOtherBit, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A bad index in the middle is passed over, a bad type at the end stops.
    const TagRef list[] = {digital, TagRef{kDigital, 8}, plain(1), TagRef{kUndefined, 0}};
    for (TagRef t : {digital, plain(1)}) {
      change(t).change_word = (t.type == kDigital ? kDigitalBit : 0) | kOtherBit;
      change(t).wait_word = kOtherBit;
    }
    EXPECT_EQ(c.call(c.id, list, 4), -1);
    EXPECT_EQ(rk_errno(c.id), kErrBadTag);
    EXPECT_EQ(val(change(digital).change_word), c.change_word);
    EXPECT_EQ(val(change(digital).wait_word), c.wait_word);
    EXPECT_EQ(val(change(plain(1)).change_word), c.change_word & ~kDigitalBit) << "the walk went on";
    EXPECT_EQ(val(change(plain(1)).wait_word), c.wait_word);
    ASSERT_EQ(c.call(c.id, list, 1), 0);
  }
  uint16_t v = 0;
  ASSERT_EQ(rk_read(kMe, &digital, 1, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(val(app_block(kgd_, 0)->pending_wake), 0u);
}

TEST_F(ChangeBitsTest, TestOfAnotherApplicationsClientNeedsOneThatLives) {
  const TagRef list[] = {plain(0), TagRef{kPlain, 99}, plain(2)};
  app_block(kgd_, 1)->active = 1;
  make_live(0x0102, getpid());
  change(plain(0), 1).change_word = 1u << 2;
  change(plain(2), 1).change_word = kMyBit;       // another slot's bit there
  change(plain(0), 0).change_word = kChangeBits;  // the caller's application is not looked at
  struct Case {
    const char* name;
    uint16_t other;
    uint16_t* flags;
    int16_t err;
  };
  uint16_t flags[3] = {7, 7, 7};
  const Case cases[] = {
      {"a slot without a client", 0x0105, flags, kErrNotRegistered},
      {"an application that does not run", 0x0200, flags, kErrAppInactive},
      {"an application beyond the last", 0x7f00, flags, kErrAppInactive},
      {"null flags", 0x0102, nullptr, kErrNullArg},
      {"a bad index among the tags", 0x0102, flags, kErrBadTag},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rk_test_app_chng(kMe, c.other, list, 3, c.flags), -1);
    EXPECT_EQ(rk_errno(kMe), c.err);
  }
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(flags[1], 0) << "a bad index leaves its flag 0";
  EXPECT_EQ(flags[2], 0);
  EXPECT_EQ(val(change(plain(0), 1).change_word), 1u << 2) << "a test clears nothing";
}

int g_answer = 0;
int16_t g_error_to_store = 0;
int g_direction = -1;
int screen(CptEntry* e, ChangeEntry*, void*, void*, void*, int direction) {
  g_direction = direction;
  if (g_error_to_store != 0) e->errnum = g_error_to_store;
  return g_answer;
}

TEST_F(ChangeBitsTest, ReadHandlersSeeTheChangedTagBeforeAScanReadsIt) {
  CptEntry& me = entry(kMe);
  ASSERT_TRUE(set_client_handler(kMe, 2, reinterpret_cast<rk_attr_handler>(&screen)));
  me.handlers[2] = 1;
  me.read_mask = 0x04;
  store_u32(cell(plain(1)), 0x04);   // screened; plain(2) is not
  const TagRef list[] = {plain(0), plain(1), plain(2)};
  struct Case {
    const char* name;
    int answer;
    int16_t error_to_store;
    int rc;
    int16_t err;
    uint32_t position, value;
    bool screened_stays_changed;
  } cases[] = {
      {"let through", 0, 0, 0, 0, 1, 0x11, false},
      {"skipped: passed over, still changed", 1, 0, 0, 0, 2, 0x12, true},
      {"refused with an error", -1, kErrNoMessage, -1, kErrNoMessage, 1, 0, true},
      {"refused without one", -1, 0, -1, kErrHandlerRefused, 1, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_all_words();
    change(plain(1)).change_word = kMyBit;
    change(plain(2)).change_word = kMyBit;
    g_answer = c.answer;
    g_error_to_store = c.error_to_store;
    g_direction = -1;
    uint32_t position = 0, got = 0;
    EXPECT_EQ(rk_change_read(kMe, list, 3, &position, &got), c.rc);
    if (c.rc != 0) {
      EXPECT_EQ(rk_errno(kMe), c.err);
    }
    EXPECT_EQ(g_direction, kDirectionRead);
    EXPECT_EQ(position, c.position);
    EXPECT_EQ(got, c.value);
    EXPECT_EQ(val(change(plain(1)).change_word), c.screened_stays_changed ? kMyBit : 0u);

    // The read of all changed tags screens the same way; a skipped tag keeps its flag.
    if (c.answer != 1) continue;
    uint16_t flags[3] = {};
    uint32_t all[3] = {};
    change(plain(2)).change_word = kMyBit;
    EXPECT_EQ(rk_change_read_all(kMe, list, 3, flags, all), 0);
    EXPECT_EQ(flags[1], 1);
    EXPECT_EQ(all[1], 0u);
    EXPECT_EQ(all[2], 0x12u);
    EXPECT_EQ(val(change(plain(1)).change_word), kMyBit);
  }
}

rk_message_record message(const char* data) {
  rk_message_record r{};
  r.data = const_cast<char*>(data);
  r.length = static_cast<uint16_t>(strlen(data));
  return r;
}

TEST_F(ChangeBitsTest, AMailboxStaysChangedUntilItsLastMessageIsTaken) {
  static const char first[] = "first", second[] = "second!";
  const TagRef box{kMailbox, 1};
  const TagRef list[] = {plain(0), box};
  for (const char* text : {first, second}) {
    const rk_message_record m = message(text);
    ASSERT_EQ(rk_write(kMe, &box, 1, &m), 0);
  }
  for (int scan = 0; scan < 3; ++scan) {
    SCOPED_TRACE(scan);
    uint32_t position = 0;
    char data[16] = {};
    rk_message_record peeked{data, sizeof data, 0, {}};
    ASSERT_EQ(rk_change_read(kMe, list, 2, &position, &peeked), 0);
    EXPECT_EQ(position, 1u);
    EXPECT_EQ(val(peeked.length), 5) << "the first message's record";
    EXPECT_EQ(val(peeked.data), static_cast<void*>(data)) << "the caller's data address is kept";
    EXPECT_EQ(data[0], 0) << "a peek copies no data";
    uint16_t flags[2] = {};
    rk_message_record all[2] = {};
    ASSERT_EQ(rk_change_read_all(kMe, list, 2, flags, all), 0);
    EXPECT_EQ(flags[1], 1);
    EXPECT_EQ(val(change(box).change_word), kChangeBits);
  }
  char data[16] = {};
  rk_message_record into{data, sizeof data, 0, {}};
  ASSERT_EQ(rk_read(kMe, &box, 1, &into), 0);
  uint32_t position = 0;
  rk_message_record peeked{};
  ASSERT_EQ(rk_change_read(kMe, list, 2, &position, &peeked), 0) << "one message left";
  EXPECT_EQ(val(peeked.length), 7);
  ASSERT_EQ(rk_read(kMe, &box, 1, &into), 0);
  EXPECT_EQ(rk_change_read(kMe, list, 2, &position, &peeked), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNoChange);
}

TEST_F(ChangeBitsTest, AChangeWaitThatFindsATagDoesNotSleep) {
  const TagRef list[] = {plain(0), plain(1), plain(2)};
  struct Case {
    const char* name;
    std::vector<uint16_t> changed;
    uint32_t position;
    int rc;
    int16_t err;   // after the call: the caller's own number on success
    uint32_t position_after, value;
  } cases[] = {
      {"the tag at the position", {2}, 2, 0, kErrNoMessage, 2, 0x12},
      {"round to the start of the list", {0}, 2, 0, kErrNoMessage, 0, 0x10},
      {"a position not below the count", {0}, 3, -1, kErrRange, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_all_words();
    for (uint16_t i : c.changed) change(plain(i)).change_word = kMyBit;
    entry(kMe).errnum = kErrNoMessage;
    uint32_t position = c.position, got = 0;
    EXPECT_EQ(rk_change_wait(kMe, list, 3, &position, &got), c.rc);
    EXPECT_EQ(rk_errno(kMe), c.err);
    EXPECT_EQ(position, c.position_after);
    EXPECT_EQ(got, c.value);
    EXPECT_EQ(val(entry(kMe).wait_state), 0) << "never queued";
  }
  // A bad reference ends the wait before any sleep.
  const TagRef bad[] = {plain(0), TagRef{kPlain, 99}};
  uint32_t position = 1, got = 0;
  EXPECT_EQ(rk_change_wait(kMe, bad, 2, &position, &got), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);
  EXPECT_EQ(val(change(plain(0)).wait_word), 0u);
}

}  // namespace
}  // namespace rk::test
