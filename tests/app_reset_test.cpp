// Application memory reset: what goes back to zero and what stays, in the
// application reset and in the others; what a caller without a live client
// may touch; arrays that were never placed; a queue whose chain is broken;
// and a reset from another process that has not mapped the grown RTDB.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/client_ids.h"
#include "rk.h"
#include "services/rtdb_check.h"
#include "storage/kernel_memory.h"
#include "storage/msg_queue_check.h"
#include "support/plant_run.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kPlain = 0;       // per application
constexpr uint16_t kDigital = 1;
constexpr uint16_t kString = 2;
constexpr uint16_t kMbx = 3;
constexpr uint16_t kShDigital = 4;   // one value array for all applications
constexpr uint16_t kShPlain = 5;
constexpr uint16_t kTypes = 6;
constexpr uint16_t kMax = 3;

constexpr uint16_t kMe = 0x0000;
constexpr uint16_t kThere = 0x0100;     // a client of application 1
constexpr uint16_t kRemote = 0x0002;    // a client process of application 0
constexpr uint16_t kNobody = 0x0005;    // a slot of application 0 without a client

constexpr uint32_t kAttr = 0x4;
constexpr uint32_t kWaiter = 0x10;

std::vector<rk_type_entry> layout(uint16_t plain_max = kMax) {
  return {type_entry("PLAIN", 0, plain_max, 4),      type_entry("DIGITAL", 1, kMax, 2),
          type_entry("STRING", 2, kMax, 8),          type_entry("MBX", 3, kMax, 22),
          type_entry("SHDIGITAL", 1, kMax, 2, 0),    type_entry("SHPLAIN", 0, kMax, 4, 0)};
}

class AppResetTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    TagRtdbTest::SetUp();
    const std::vector<rk_type_entry> t = layout();
    create({t[0], t[1], t[2], t[3], t[4], t[5]}, 2, 4);
    for (uint16_t id : {kMe, kThere}) make_live(id, static_cast<uint32_t>(getpid()));
  }
  void TearDown() override {
    // Nothing a reset leaves is inconsistent, also where it passed over
    // damage.
    for (const std::string& fault : rtdb_check(kgd_)) ADD_FAILURE() << fault;
    TagRtdbTest::TearDown();
  }

  const TypeEntry& type(uint16_t t) const { return at<TypeEntry>(kgd_->type_table)[t]; }
  TagArrayPair& pair(uint32_t a, uint16_t t) const { return at<TagArrayPair>(app(a)->pairs)[t]; }
  ValueCellHeader* cell(uint32_t a, TagRef ref) const {
    return at<ValueCellHeader>(pair(a, ref.type).value_array + (type(ref.type).ksiz + 4u) * ref.index);
  }
  template <typename T>
  T& value(uint32_t a, TagRef ref) const {
    return *reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(cell(a, ref)) + sizeof(ValueCellHeader));
  }
  uint32_t plain(uint32_t a, TagRef ref) const { return load_u32(&value<uint8_t>(a, ref)); }
  MsgQueue& queue(uint32_t a, uint16_t i) const { return value<MsgQueue>(a, {kMbx, i}); }
  uint32_t nused() const { return val(mem_pool(kgd_, 0)->nused); }

  void write(uint16_t id, TagRef ref, const void* v) { ASSERT_EQ(rk_write(id, &ref, 1, v), 0) << rk_errno(id); }
  void put(uint16_t id, uint16_t i, const std::string& text) {
    rk_message_record r{};
    r.data = const_cast<char*>(text.data());
    r.length = static_cast<uint16_t>(text.size());
    ASSERT_EQ(rk_write_mbx(id, {kMbx, i}, &r), 0) << rk_errno(id);
  }

  // Values, attribute words, change bits and wait marks in every tag of
  // application a; three messages in its mailbox 0, an owner and a limit.
  void fill(uint32_t a, uint16_t id) {
    static const char* const texts[kMax] = {"alpha", "beta", "gamma"};
    for (uint16_t i = 0; i < kMax; ++i) {
      const uint32_t plain = 0x1000 + i;
      const uint16_t one = 1;
      const rk_string_desc s{const_cast<char*>(texts[i]), 16, static_cast<uint16_t>(strlen(texts[i]))};
      write(id, {kPlain, i}, &plain);
      write(id, {kDigital, i}, &one);
      write(id, {kString, i}, &s);
      write(id, {kShDigital, i}, &one);
      write(id, {kShPlain, i}, &plain);
    }
    for (const char* m : {"one", "two", "three"}) put(id, 0, m);
    const rk_tag_ref box{kMbx, 0};
    uint16_t limit = 4;
    ASSERT_EQ(rk_set_owner_mbx(id, box, 1), 0);
    ASSERT_EQ(rk_limit_mbx(id, 1, &box, 1, &limit), 0);
    for (uint16_t t = 0; t < kTypes; ++t)
      for (uint16_t i = 0; i < kMax; ++i) {
        cell(a, {t, i})->attr_word = kAttr;
        change(a, {t, i}).wait_word = kWaiter;
      }
  }

  // Every byte of application a's tags: change and value arrays, and the
  // text in each string buffer.
  std::string snapshot(uint32_t a) const {
    std::string s;
    for (uint16_t t = 0; t < kTypes; ++t) {
      s.append(at<const char>(pair(a, t).change_array), kMax * sizeof(ChangeEntry));
      s.append(at<const char>(pair(a, t).value_array), kMax * (type(t).ksiz + 4u));
    }
    for (uint16_t i = 0; i < kMax; ++i) {
      const StringDesc d = value<StringDesc>(a, {kString, i});
      if (d.buffer != 0) s.append(at<const char>(d.buffer), d.size);
    }
    return s;
  }

  // No tag of application a shows a change or a waiter.
  void expect_no_changes(uint32_t a) const {
    for (uint16_t t = 0; t < kTypes; ++t)
      for (uint16_t i = 0; i < kMax; ++i) {
        EXPECT_EQ(val(change(a, {t, i}).change_word) & kChangeBits, 0u) << "type " << t << " tag " << i;
        EXPECT_EQ(val(change(a, {t, i}).wait_word), 0u) << "type " << t << " tag " << i;
      }
  }

  // Application a's own values are all back to zero.
  void expect_own_values_zero(uint32_t a) const {
    for (uint16_t i = 0; i < kMax; ++i) {
      for (uint16_t t : {kPlain, kDigital, kString, kMbx}) EXPECT_EQ(val(cell(a, {t, i})->attr_word), 0u);
      EXPECT_EQ(plain(a, {kPlain, i}), 0u);
      EXPECT_EQ(val(change(a, {kDigital, i}).change_word), 0u) << "a digital tag of its own reads 0";
      const StringDesc d = value<StringDesc>(a, {kString, i});
      EXPECT_EQ(val(d.length), 0);
      EXPECT_EQ(val(d.size), 16) << "the buffer stays, with its size";
      ASSERT_NE(val(d.buffer), 0u);
      EXPECT_EQ(std::string(at<const char>(d.buffer), 16), std::string(16, '\0'));
      EXPECT_EQ(memcmp(&queue(a, i), "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", sizeof(MsgQueue)), 0)
          << "empty, no owner, no limit";
    }
  }
};

TEST_F(AppResetTest, ZeroesOwnValuesClearsChangesAndLeavesTheRest) {
  fill(1, kThere);
  fill(0, kMe);
  const std::string there = snapshot(1);
  const uint32_t used = nused();
  ASSERT_EQ(val(queue(0, 0).count), 3);

  ASSERT_EQ(rk_reset_app_mem(kMe), 0);
  expect_no_changes(0);
  expect_own_values_zero(0);
  EXPECT_EQ(nused(), used - 3) << "the three messages' blocks are given back";
  EXPECT_EQ(msg_queue_check(kgd_, &queue(0, 0)), "");

  for (uint16_t i = 0; i < kMax; ++i) {
    EXPECT_EQ(val(change(0, {kShDigital, i}).change_word), kDigitalBit) << "a shared digital tag keeps its 1";
    EXPECT_EQ(plain(0, {kShPlain, i}), 0x1000u + i) << "shared values stay";
    EXPECT_EQ(val(cell(0, {kShPlain, i})->attr_word), kAttr);
  }
  EXPECT_EQ(snapshot(1), there) << "another application is not touched";
  uint16_t one = 0;
  const rk_tag_ref shared{kShDigital, 0};
  ASSERT_EQ(rk_read(kMe, &shared, 1, &one), 0);
  EXPECT_EQ(one, 1);
}

TEST_F(AppResetTest, AnApplicationThatDoesNotRunIsNotTouched) {
  fill(1, kThere);
  app(1)->active = 0;
  const std::string before = snapshot(1);
  EXPECT_EQ(rk_reset_app_mem(kThere), -1);
  EXPECT_EQ(rk_reset_app_mem(0x0700), -1) << "no such application";
  EXPECT_EQ(snapshot(1), before);
  app(1)->active = 1;
}

// Without a live client the database lock cannot be had: only the values
// that need no lock are zeroed.
TEST_F(AppResetTest, WithoutALiveClientMailboxesAndChangesStay) {
  fill(0, kMe);
  const uint32_t used = nused();
  ASSERT_EQ(rk_reset_app_mem(kNobody), 0);
  EXPECT_EQ(plain(0, {kPlain, 1}), 0u);
  EXPECT_EQ(val(queue(0, 0).count), 3);
  EXPECT_EQ(val(queue(0, 0).flags), kMbxOwned);
  EXPECT_EQ(nused(), used);
  EXPECT_EQ(val(change(0, {kPlain, 1}).wait_word), kWaiter);
  EXPECT_NE(val(change(0, {kPlain, 1}).change_word) & kChangeBits, 0u);
}

// A type whose arrays this application never got is passed over, never
// followed through a null address; the other types are reset.
TEST_F(AppResetTest, ArraysNeverPlacedArePassedOver) {
  fill(0, kMe);
  const TagArrayPair plain_pair = pair(0, kPlain);
  const TagArrayPair mbx_pair = pair(0, kMbx);
  pair(0, kPlain).change_array = 0;
  pair(0, kMbx).value_array = 0;
  EXPECT_EQ(rk_reset_app_mem(kMe), 0);
  pair(0, kPlain) = plain_pair;
  pair(0, kMbx) = mbx_pair;
  EXPECT_EQ(plain(0, {kPlain, 2}), 0x1002u);
  EXPECT_EQ(val(queue(0, 0).count), 3);
  EXPECT_EQ(val(value<StringDesc>(0, {kString, 0}).length), 0);
  EXPECT_EQ(val(change(0, {kDigital, 0}).change_word), 0u);
}

// A link that names no message ends the walk: what came before it is
// freed, what lies beyond stays allocated, and the queue is empty.
TEST_F(AppResetTest, ABrokenChainStopsTheWalk) {
  const struct {
    const char* what;
    bool back_to_head;
  } cases[] = {{"a handle that names no block", false}, {"a link back to a freed message", true}};
  for (const auto& c : cases) {
    for (const char* m : {"one", "two", "three"}) put(kMe, 1, m);
    MsgQueue& q = queue(0, 1);
    Addr first = 0, second = 0;
    ASSERT_EQ(mem_access(kgd_, q.head, &first, nullptr), 0);
    const uint32_t second_handle = at<MessageBlock>(first)->next;
    ASSERT_EQ(mem_access(kgd_, second_handle, &second, nullptr), 0);
    at<MessageBlock>(second)->next = c.back_to_head ? val(q.head) : 0x7FFF0003u;
    const uint32_t used = nused();

    ASSERT_EQ(rk_reset_app_mem(kMe), 0) << c.what;
    EXPECT_EQ(nused(), used - 2) << c.what;
    EXPECT_EQ(val(q.count), 0) << c.what;
    EXPECT_EQ(msg_queue_check(kgd_, &q), "") << c.what;
  }
}

// A client process that attached before the RTDB grew, and never held the
// database lock, has none of the tag arrays mapped: the reset maps them
// before it writes there.
TEST_F(AppResetTest, AnotherProcessResetsAfterTheRtdbGrew) {
  Client& remote = start(kRemote);
  const uint32_t segments = kgd_->nsegs;
  std::vector<rk_type_entry> grown = layout(1000);
  ASSERT_EQ(rk_dbrt_adjust(kMe, grown.data(), kTypes), 0) << rk_errno(kMe);
  ASSERT_GT(val(kgd_->nsegs), segments);
  fill(0, kMe);
  const uint32_t last = 0xABCD;
  write(kMe, {kPlain, 999}, &last);
  const uint32_t used = nused();

  ASSERT_EQ(bounded_call(remote, "appreset " + std::to_string(kRemote)), "ok 0");
  EXPECT_EQ(plain(0, {kPlain, 999}), 0u);
  EXPECT_EQ(nused(), used - 3);
  expect_own_values_zero(0);
  EXPECT_EQ(val(change(0, {kPlain, 999}).change_word), 0u);
}

}  // namespace
}  // namespace rk::test
