// The non-overwriting write and the non-clearing read: protection of a value
// the writer has not seen, the writer's own bit left clear, mailboxes, the
// errors and statistics of both calls, and a sleeper in another process
// woken by a non-overwriting write.
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"
#include "support/wake_rtdb.h"

namespace rk::test {
namespace {

constexpr uint16_t kPlain = 0;      // 4 bytes, 8 tags
constexpr uint16_t kDouble = 1;     // 8 bytes
constexpr uint16_t kDigital = 2;
constexpr uint16_t kText = 3;
constexpr uint16_t kShared = 4;     // 4 bytes, one value for both applications
constexpr uint16_t kMailbox = 5;
constexpr uint16_t kNoChanges = 6;  // 4 bytes; no change array placed in application 0
constexpr uint16_t kNoValues = 7;   // 4 bytes; no value array placed in application 0
constexpr uint16_t kUndefined = 8;

constexpr uint16_t kMe = 0x0000;     // the writer
constexpr uint16_t kOther = 0x0003;  // another client of application 0
constexpr uint32_t kMyBit = 1;

// A value as a caller's element, and as the tag shows it once stored.
struct Value {
  std::vector<uint8_t> element;
  std::string shown;
};

template <typename T>
Value value(const T& v, std::string shown) {
  const auto* p = reinterpret_cast<const uint8_t*>(&v);
  return Value{std::vector<uint8_t>(p, p + sizeof v), std::move(shown)};
}

Value text(const char* s) {
  return value(rk_string_desc{const_cast<char*>(s), 16, static_cast<uint16_t>(strlen(s))}, s);
}

rk_message_record message(const char* data) {
  return rk_message_record{const_cast<char*>(data), 0, static_cast<uint16_t>(strlen(data)), {}};
}

class NoOverwriteTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    create({type_entry("PLAIN", 0, 8, 4), type_entry("DOUBLE", 0, 4, 8), type_entry("DIGITAL", 1, 4, 2),
            type_entry("TEXT", 2, 4, 8), type_entry("SHARED", 0, 4, 4, 0), type_entry("MAILBOX", 3, 2, 22),
            type_entry("NOCHANGES", 0, 4, 4), type_entry("NOVALUES", 0, 4, 4)},
           2, 4);
    make_live(kMe, getpid());
    make_live(kOther, getpid());
    // Types whose count is set but whose arrays were never laid out.
    at<TagArrayPair>(app(0)->pairs)[kNoChanges].change_array = 0;
    at<TagArrayPair>(app(0)->pairs)[kNoValues].value_array = 0;
  }
  uint32_t word(TagRef ref, uint32_t a = 0) const { return val(change(a, ref).change_word); }
  std::string shown(TagRef ref, uint32_t a = 0) const {
    const uint8_t* v = cell(a, ref) + 4;
    switch (ref.type) {
      case kDigital: return (word(ref, a) & kDigitalBit) != 0 ? "1" : "0";
      case kDouble: {
        double d;
        memcpy(&d, v, sizeof d);
        return std::to_string(d);
      }
      case kText: {
        StringDesc d;   // the kernel's own descriptor
        memcpy(&d, v, sizeof d);
        return d.buffer == 0 ? "" : std::string(at<char>(d.buffer), d.length);
      }
      default: return std::to_string(load_u32(v));
    }
  }
  uint32_t stat(CptStat s) const { return val(entry(kMe).stats[s]); }
};

TEST_F(NoOverwriteTest, AProtectedElementKeepsAValueTheWriterHasNotSeen) {
  struct Case {
    const char* name;
    TagRef ref;
    Value a, b;
  } cases[] = {
      {"plain", {kPlain, 1}, value(uint32_t{11}, "11"), value(uint32_t{22}, "22")},
      {"double", {kDouble, 2}, value(1.5, std::to_string(1.5)), value(-2.5, std::to_string(-2.5))},
      {"digital", {kDigital, 3}, value(uint16_t{7}, "1"), value(uint16_t{0}, "0")},
      {"string", {kText, 0}, text("alpha"), text("beta")},
      {"shared", {kShared, 2}, value(uint32_t{33}, "33"), value(uint32_t{44}, "44")},
  };
  const uint8_t on = 1, off = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TagRef ref = c.ref;
    // The result of a protected (or not) write of v, and whether it kept the tag's value.
    auto write = [&](const Value& v, const uint8_t* flag) {
      uint8_t kept = 9;
      EXPECT_EQ(rk_write_no_overwrite_kept(kMe, &ref, 1, v.element.data(), flag, &kept), 0);
      return kept;
    };
    auto mine = [&] { return (word(ref) & kMyBit) != 0; };

    EXPECT_EQ(write(c.a, &on), 0) << "nobody changed it since: stored";
    EXPECT_EQ(shown(ref), c.a.shown);
    EXPECT_EQ(word(ref) & kChangeBits, kChangeBits & ~kMyBit) << "every client's bit but the writer's";

    ASSERT_EQ(rk_write(kOther, &ref, 1, c.b.element.data()), 0);
    EXPECT_EQ(write(c.b, &on), 0) << "the value it holds is not kept back";
    EXPECT_EQ(write(c.a, &on), 1) << "changed by another since the writer looked: kept";
    EXPECT_EQ(shown(ref), c.b.shown);
    EXPECT_TRUE(mine()) << "a kept element changes no bit";

    // Room for any element; a string goes nowhere: its descriptor has no buffer.
    uint8_t scratch[sizeof(rk_string_desc) > sizeof(double) ? sizeof(rk_string_desc) : sizeof(double)] = {};
    ASSERT_EQ(rk_read(kMe, &ref, 1, scratch), 0);
    EXPECT_EQ(write(c.a, &on), 0) << "once read: stored";
    EXPECT_EQ(shown(ref), c.a.shown);

    ASSERT_EQ(rk_write(kMe, &ref, 1, c.b.element.data()), 0);
    EXPECT_EQ(write(c.a, &on), 1) << "the writer's own rk_write set its bit too";
    EXPECT_EQ(shown(ref), c.b.shown);

    EXPECT_EQ(write(c.a, &off), 0) << "unprotected: written as by rk_write";
    EXPECT_EQ(shown(ref), c.a.shown);
    EXPECT_FALSE(mine());
    ASSERT_EQ(rk_write(kMe, &ref, 1, c.b.element.data()), 0);
    ASSERT_EQ(rk_write_no_overwrite(kMe, &ref, 1, c.a.element.data(), nullptr), 0) << "no flags: nothing protected";
    EXPECT_EQ(shown(ref), c.a.shown);
    EXPECT_EQ(word(ref) & kChangeBits, kChangeBits & ~kMyBit);
    EXPECT_EQ(word(ref, 1), ref.type == kShared ? word(ref) : 0u) << "a shared tag changes in every application";
  }
  EXPECT_EQ(val(app(0)->pending_wake), 0u);
}

TEST_F(NoOverwriteTest, AnInfiniteOrNaNDoubleIsRefusedUnlessTheElementIsKept) {
  const TagRef ref{kDouble, 0};
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    const char* name;
    double v;
    bool stale;   // the writer's bit set on the tag
    int16_t err;
    uint8_t kept;
  } cases[] = {
      {"NaN", std::nan(""), false, kErrNaN, 0},
      {"+infinity", inf, false, kErrPlusInf, 0},
      {"-infinity", -inf, false, kErrMinusInf, 0},
      {"NaN, kept", std::nan(""), true, 0, 1},
  };
  const uint8_t on = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    change(0, ref).change_word = c.stale ? kMyBit : 0;
    uint8_t kept = 9;
    EXPECT_EQ(rk_write_no_overwrite_kept(kMe, &ref, 1, &c.v, &on, &kept), c.err == 0 ? 0 : -1);
    if (c.err != 0) { EXPECT_EQ(rk_errno(kMe), c.err); }
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(shown(ref), std::to_string(0.0));
    EXPECT_EQ(word(ref), c.stale ? kMyBit : 0u);
  }
}

TEST_F(NoOverwriteTest, ADescriptorWithoutABufferReservesNoneForTheTag) {
  const TagRef ref{kText, 3};
  const rk_string_desc room{0, 100, 0};   // what makes rk_write reserve a buffer
  ASSERT_EQ(rk_write_no_overwrite(kMe, &ref, 1, &room, nullptr), 0);
  EXPECT_EQ(load_u32(cell(0, ref) + 4), 0u) << "no buffer";
  EXPECT_EQ(word(ref), 0u) << "no change";
}

TEST_F(NoOverwriteTest, AMailboxTakesTheMessageWhateverTheProtection) {
  const TagRef box{kMailbox, 1};
  static const char one[] = "one", two[] = "two";
  const rk_message_record first = message(one), second = message(two);
  ASSERT_EQ(rk_write(kOther, &box, 1, &first), 0);   // a message the writer has not seen
  const uint8_t on = 1;
  uint8_t kept = 9;
  ASSERT_EQ(rk_write_no_overwrite_kept(kMe, &box, 1, &second, &on, &kept), 0);
  EXPECT_EQ(kept, 0);
  EXPECT_EQ(val(reinterpret_cast<const MsgQueue*>(cell(0, box) + 4)->count), 2);
  EXPECT_EQ(word(box), kChangeBits & ~kMyBit);
}

TEST_F(NoOverwriteTest, AReadThatClearsNothingLeavesTheTagsToTheNextChangeScan) {
  static const char hello[] = "hello";
  const TagRef plain{kPlain, 4}, digital{kDigital, 1}, str{kText, 2};
  const uint32_t v = 42;
  const uint16_t five = 5;
  const rk_string_desc hello_text{const_cast<char*>(hello), 16, 5};
  ASSERT_EQ(rk_write(kOther, &plain, 1, &v), 0);
  ASSERT_EQ(rk_write(kOther, &digital, 1, &five), 0);
  ASSERT_EQ(rk_write(kOther, &str, 1, &hello_text), 0);

  const TagRef refs[] = {plain, digital, str, str};
  char into[16] = {};
  struct __attribute__((packed)) {
    uint32_t plain;
    uint16_t digital;
    rk_string_desc text;
    rk_string_desc no_buffer;
  } got{0, 9, {into, sizeof into, 0}, {nullptr, 0, 0}};
  ASSERT_EQ(rk_read_no_clear(kMe, refs, 4, &got), 0);
  EXPECT_EQ(val(got.plain), 42u);
  EXPECT_EQ(val(got.digital), 1) << "a digital value reads as 0 or 1";
  EXPECT_EQ(std::string(into, val(got.text.length)), "hello");
  EXPECT_EQ(val(got.no_buffer.buffer), nullptr) << "no buffer is reserved for the reader";
  for (TagRef t : {plain, digital, str}) EXPECT_EQ(word(t) & kChangeBits, kChangeBits) << t.type;

  uint32_t position = 0;
  uint8_t scanned[8] = {};
  ASSERT_EQ(rk_change_read(kMe, refs, 3, &position, scanned), 0);
  EXPECT_EQ(position, 0u) << "the first tag is still changed for the reader";
  EXPECT_EQ(load_u32(scanned), 42u);
  EXPECT_EQ(stat(kStatReadTags), 4u + 1) << "the read's four tags and the scan's one";
}

TEST_F(NoOverwriteTest, AReadThatClearsNothingStillTakesAMailboxsMessage) {
  const TagRef box{kMailbox, 0};
  static const char one[] = "one", two[] = "two";
  const rk_message_record first = message(one), second = message(two);
  ASSERT_EQ(rk_write(kOther, &box, 1, &first), 0);
  ASSERT_EQ(rk_write(kOther, &box, 1, &second), 0);
  char data[8] = {};
  rk_message_record into{data, sizeof data, 0, {}};
  ASSERT_EQ(rk_read_no_clear(kMe, &box, 1, &into), 0);
  EXPECT_EQ(std::string(data, val(into.length)), "one");
  EXPECT_EQ(val(reinterpret_cast<const MsgQueue*>(cell(0, box) + 4)->count), 1) << "the message is taken";
  EXPECT_EQ(word(box), kChangeBits);
  ASSERT_EQ(rk_read_no_clear(kMe, &box, 1, &into), 0);
  EXPECT_EQ(std::string(data, val(into.length)), "two");
  EXPECT_EQ(word(box), 0u) << "the queue ran empty: every change bit goes, as for rk_read";
  EXPECT_EQ(rk_read_no_clear(kMe, &box, 1, &into), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNoMessage);
}

// Refusals before the walk count nothing; in the walk a bad type ends it
// and a bad index passes one element over. The write counts every element
// it walked, the read only those within range.
TEST_F(NoOverwriteTest, BothCallsRefuseAndCountLikeTheOtherBatches) {
  enum Call { kWrite, kRead };
  struct Case {
    const char* name;
    Call call;
    std::vector<TagRef> refs;
    bool null_refs, null_values;
    int16_t err;
    uint32_t tags;       // the tag counter afterwards; kUnchecked where it is not the point
    std::vector<bool> stored;   // for a write: which elements were stored
  };
  constexpr uint32_t kUnchecked = ~0u;
  const TagRef p0{kPlain, 0}, p1{kPlain, 1}, bad_index{kPlain, 8}, undefined{kUndefined, 0};
  const Case cases[] = {
      {"write, null refs", kWrite, {p0}, true, false, kErrNullArg, 0, {false}},
      {"write, null values", kWrite, {p0}, false, true, kErrNullArg, 0, {false}},
      {"read, null refs", kRead, {p0}, true, false, kErrNullArg, 0, {}},
      {"read, null buffer", kRead, {p0}, false, true, kErrNullArg, 0, {}},
      {"write, bad index goes on", kWrite, {p0, bad_index, p1}, false, false, kErrBadTag, 3, {true, false, true}},
      {"write, bad type stops", kWrite, {p0, undefined, p1}, false, false, kErrBadTag, 1, {true, false, false}},
      {"read, bad index goes on", kRead, {p0, bad_index, p1}, false, false, kErrBadTag, 2, {}},
      {"read, bad type stops", kRead, {p0, undefined, p1}, false, false, kErrBadTag, 1, {}},
      {"write, no change array", kWrite, {p0, {kNoChanges, 1}}, false, false, kErrBadTag, kUnchecked, {true, false}},
      {"write, no value array", kWrite, {p0, {kNoValues, 1}}, false, false, kErrBadTag, kUnchecked, {true, false}},
      {"read, no change array", kRead, {p0, {kNoChanges, 1}}, false, false, kErrBadTag, kUnchecked, {}},
      {"read, no value array", kRead, {p0, {kNoValues, 1}}, false, false, kErrBadTag, kUnchecked, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (TagRef t : {p0, p1}) {
      store_u32(cell(0, t) + 4, 0);
      change(0, t).change_word = 0;
    }
    for (CptStat s : {kStatReadCalls, kStatReadTags, kStatWriteCalls, kStatWriteTags}) entry(kMe).stats[s] = 0;
    std::vector<uint32_t> values(c.refs.size(), 7);
    const TagRef* refs = c.null_refs ? nullptr : c.refs.data();
    uint32_t* buffer = c.null_values ? nullptr : values.data();
    const auto n = static_cast<uint32_t>(c.refs.size());
    const uint8_t protect[] = {1, 1, 1};
    const int rc = c.call == kWrite ? rk_write_no_overwrite(kMe, refs, n, buffer, protect)
                                    : rk_read_no_clear(kMe, refs, n, buffer);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(rk_errno(kMe), c.err);
    const bool early = c.err == kErrNullArg;
    EXPECT_EQ(stat(c.call == kWrite ? kStatWriteCalls : kStatReadCalls), early ? 0u : 1u);
    if (c.tags != kUnchecked) { EXPECT_EQ(stat(c.call == kWrite ? kStatWriteTags : kStatReadTags), c.tags); }
    for (size_t i = 0; i < c.stored.size(); ++i) {
      if (c.refs[i].type != kPlain || c.refs[i].index >= 8) continue;
      EXPECT_EQ(shown(c.refs[i]), c.stored[i] ? "7" : "0") << "element " << i;
    }
    EXPECT_EQ(val(kgd_->lock_holder), 0u) << "the lock is given back";
  }
}

// A waiter in another process, asleep until its tag changes: a protected
// element that is kept wakes nobody, one that is stored wakes it, in the
// application of a per-application tag and across applications for a
// shared one.
class NoOverwriteWakeTest : public WakeRtdbTest {};

TEST_F(NoOverwriteWakeTest, AStoredElementWakesAWaiterInAnotherProcessAndAKeptOneDoesNot) {
  struct {
    const char* name;
    uint16_t type;
    uint16_t waiter;
  } cases[] = {
      {"per-application tag, waiter of the writer's application", kLocal, 0x0005},
      {"shared tag, waiter of application 1", kShared, 0x0106},
  };
  make_live(kMe, getpid());
  const uint8_t on = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TagRef tag{c.type, 2};
    const uint32_t a = static_cast<uint32_t>(app_index(c.waiter));
    const std::string id = std::to_string(c.waiter);
    Client& waiter = start(c.waiter);
    change(a, tag).wait_word = 1u << slot_of(c.waiter);
    ASSERT_TRUE(fall_asleep(waiter, c.waiter, 1));

    change(0, tag).change_word = kMyBit;   // a change the writer has not seen
    const uint32_t v = 0x5a5a;
    ASSERT_EQ(rk_write_no_overwrite(kMe, &tag, 1, &v, &on), 0);
    EXPECT_EQ(val(app(a)->cpt[slot_of(c.waiter)].wait_state), kWaitTag) << "kept: nothing changed, nobody woken";
    EXPECT_FALSE(waiter.reply_ready(0));

    change(0, tag).change_word = 0;   // as after the writer's read
    ASSERT_EQ(rk_write_no_overwrite(kMe, &tag, 1, &v, &on), 0);
    ASSERT_EQ(waiter.reply(), "ok") << "woken, holding the lock";
    EXPECT_EQ(waiter.call("tagread " + id + " " + std::to_string(c.type) + " 2"), "ok 5a5a");
    EXPECT_EQ(waiter.call("dbunlock " + id), "ok");
    EXPECT_EQ(val(app(a)->pending_wake), 0u);
  }
}

}  // namespace
}  // namespace rk::test
