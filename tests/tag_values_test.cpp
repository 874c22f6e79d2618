// Reading and writing batches of tags in one process: the rules of each
// value kind, the errors a batch records and how it goes on after them,
// statistics, strings and their buffers, and the attribute handlers that
// see a client's accesses.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_handlers.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/low_arena.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"
#include "tags/string_value.h"

namespace rk::test {
namespace {

constexpr uint16_t kPlain = 0;     // 4 bytes, 8 tags
constexpr uint16_t kDouble = 1;    // 8 bytes, 4 tags
constexpr uint16_t kDigital = 2;   // 8 tags
constexpr uint16_t kText = 3;      // string descriptors, 4 tags
constexpr uint16_t kShared = 4;    // 4 bytes shared by all applications, 4 tags
constexpr uint16_t kNoTags = 5;    // a type with max 0
constexpr uint16_t kMailbox = 6;   // 2 mailboxes per application
constexpr uint16_t kSharedMailbox = 7;
constexpr uint16_t kUndefined = 8;

constexpr uint16_t kMe = 0x0000;
constexpr uint16_t kOther = 0x0003;   // another client of application 0

// A batch: the references and the packed values, each in its type's usiz.
struct Batch {
  std::vector<TagRef> refs;
  std::vector<uint8_t> bytes;
  template <typename T>
  Batch& add(TagRef ref, const T& v) {
    refs.push_back(ref);
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    bytes.insert(bytes.end(), p, p + sizeof v);
    return *this;
  }
  uint32_t count() const { return static_cast<uint32_t>(refs.size()); }
};

rk_string_desc text(const char* s, uint16_t size = 0) {
  const auto n = static_cast<uint16_t>(strlen(s));
  return rk_string_desc{const_cast<char*>(s), size != 0 ? size : n, n};
}

class TagValuesTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    create({type_entry("PLAIN", 0, 8, 4), type_entry("DOUBLE", 0, 4, 8), type_entry("DIGITAL", 1, 8, 2),
            type_entry("TEXT", 2, 4, 8), type_entry("SHARED", 0, 4, 4, 0), type_entry("NOTAGS", 0, 0, 2),
            type_entry("MAILBOX", 3, 2, 22), type_entry("SHAREDMBX", 3, 2, 22, 0)},
           2, 4);
    make_live(kMe, getpid());
    make_live(kOther, getpid());
  }
  ChangeEntry& change(TagRef ref, uint32_t a = 0) const { return TagRtdbTest::change(a, ref); }
  // The tag's value cell: attribute word, then its kernel value.
  uint8_t* cell(TagRef ref, uint32_t a = 0) const { return TagRtdbTest::cell(a, ref); }
  uint32_t attr(TagRef ref) const { return load_u32(cell(ref)); }
  template <typename T>
  T value(TagRef ref, uint32_t a = 0) const {
    T v;
    memcpy(&v, cell(ref, a) + 4, sizeof v);
    return v;
  }
  // The kernel's own descriptor of a string tag.
  StringDesc stored_text(TagRef ref) const { return value<StringDesc>(ref); }
  std::string stored_string(TagRef ref) const {
    const StringDesc d = stored_text(ref);
    return std::string(at<char>(d.buffer), d.length);
  }
  uint32_t stat(uint16_t id, CptStat s) const { return val(entry(id).stats[s]); }
  int write(const Batch& b, uint16_t id = kMe) { return rk_write(id, b.refs.data(), b.count(), b.bytes.data()); }
};

TEST_F(TagValuesTest, EachKindIsWrittenAndReadBackInOneMixedBatch) {
  static const char hello[] = "hello";
  const double pi = 3.25;
  struct Case {
    TagRef ref;
    std::vector<uint8_t> written;    // in the writer's layout
    uint32_t word;                   // the change word after the write
  };
  auto bytes = [](const auto& v) {
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    return std::vector<uint8_t>(p, p + sizeof v);
  };
  const Case cases[] = {
      {{kPlain, 2}, bytes(uint32_t{0x11223344}), 0x7FFFFFFF},
      {{kDouble, 1}, bytes(pi), 0x7FFFFFFF},
      {{kDigital, 3}, bytes(uint16_t{1}), 0xFFFFFFFF},
      {{kText, 0}, bytes(text(hello, 16)), 0x7FFFFFFF},
      {{kShared, 1}, bytes(uint32_t{77}), 0x7FFFFFFF},
      {{kPlain, 7}, bytes(uint32_t{0xCAFE}), 0x7FFFFFFF},
  };
  Batch b;
  for (const Case& c : cases) {
    b.refs.push_back(c.ref);
    b.bytes.insert(b.bytes.end(), c.written.begin(), c.written.end());
  }
  change({kDigital, 3}).change_word = 0;
  ASSERT_EQ(write(b), 0);
  for (const Case& c : cases) EXPECT_EQ(val(change(c.ref).change_word), c.word) << c.ref.type;
  EXPECT_EQ(val(change({kShared, 1}, 1).change_word), kChangeBits) << "every application's word of a shared tag";
  EXPECT_EQ(value<uint32_t>({kShared, 1}, 1), 77u) << "one value for all applications";
  EXPECT_EQ(val(change({kPlain, 2}, 1).change_word), 0u) << "a per-application tag of another application";
  EXPECT_EQ(val(stored_text({kText, 0}).size), 16) << "the buffer takes the size the writer gave";

  // Read back into a fresh buffer; the string goes into a buffer of the reader's.
  char reader_text[32];
  memset(reader_text, 'x', sizeof reader_text);
  std::vector<uint8_t> got(b.bytes.size(), 0xEE);
  const rk_string_desc into{reader_text, sizeof reader_text, 0};
  memcpy(got.data() + 4 + 8 + 2, &into, sizeof into);
  std::vector<uint32_t> attrs(b.count(), 0xDEAD);
  store_u32(cell({kPlain, 7}), 0x30);
  ASSERT_EQ(rk_read_attr(kMe, b.refs.data(), b.count(), got.data(), attrs.data()), 0);

  size_t at_byte = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    if (c.ref.type == kText) {
      rk_string_desc d;
      memcpy(&d, got.data() + at_byte, sizeof d);
      EXPECT_EQ(val(d.buffer), reader_text);
      EXPECT_EQ(val(d.length), 5);
      EXPECT_EQ(std::string(reader_text, 6), std::string("hello\0", 6)) << "terminated: room was left";
    } else {
      EXPECT_EQ(std::vector<uint8_t>(got.begin() + at_byte, got.begin() + at_byte + c.written.size()), c.written);
    }
    at_byte += c.written.size();
    EXPECT_EQ(val(change(c.ref).change_word), c.word & ~1u) << "the reader's own bit is cleared, and only it";
    EXPECT_EQ(attrs[i], i == 5 ? 0x30u : 0u);
  }
  EXPECT_EQ(stat(kMe, kStatWriteCalls), 1u);
  EXPECT_EQ(stat(kMe, kStatWriteTags), 6u);
  EXPECT_EQ(stat(kMe, kStatReadCalls), 1u);
  EXPECT_EQ(stat(kMe, kStatReadTags), 6u);
}

TEST_F(TagValuesTest, TheSameValueIsNoChangeUnlessForced) {
  static const char same[] = "same";
  const double d = -2.5;
  struct Case {
    const char* name;
    Batch batch;
    uint32_t forced_word;
  } cases[] = {
      {"plain", Batch().add(TagRef{kPlain, 1}, uint32_t{5}), kChangeBits},
      {"double", Batch().add(TagRef{kDouble, 0}, d), kChangeBits},
      {"digital 1", Batch().add(TagRef{kDigital, 0}, uint16_t{1}), kChangeBits | kDigitalBit},
      {"digital 0", Batch().add(TagRef{kDigital, 1}, uint16_t{0}), kChangeBits},
      {"string", Batch().add(TagRef{kText, 1}, text(same, 8)), kChangeBits},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TagRef ref = c.batch.refs[0];
    ASSERT_EQ(write(c.batch), 0);
    const uint32_t kept = val(change(ref).change_word) & kDigitalBit;
    change(ref).change_word = kept;   // everybody has seen it

    ASSERT_EQ(write(c.batch), 0);
    EXPECT_EQ(val(change(ref).change_word), kept) << "the same value again is no change";
    ASSERT_EQ(rk_forced_write(kMe, c.batch.refs.data(), 1, c.batch.bytes.data()), 0);
    EXPECT_EQ(val(change(ref).change_word), c.forced_word) << "forced: a change all the same";
  }
  EXPECT_EQ(stat(kMe, kStatWriteTags), 15u) << "an element that changed nothing is counted too";
}

TEST_F(TagValuesTest, AChangeSetsEveryClientsBitAndAReadClearsOnlyTheReaders) {
  const TagRef tag{kPlain, 4};
  ASSERT_EQ(write(Batch().add(tag, uint32_t{9})), 0);
  EXPECT_EQ(val(change(tag).change_word), kChangeBits) << "the writer's own bit too";
  uint32_t v = 0;
  ASSERT_EQ(rk_read(kOther, &tag, 1, &v), 0);
  EXPECT_EQ(v, 9u);
  EXPECT_EQ(val(change(tag).change_word), kChangeBits & ~(1u << 3));
  ASSERT_EQ(rk_read(kMe, &tag, 1, &v), 0);
  EXPECT_EQ(val(change(tag).change_word), kChangeBits & ~(1u << 3) & ~1u);
}

TEST_F(TagValuesTest, ADigitalTagTakesAnyNonzeroAsOneAndReadsAsZeroOrOne) {
  const TagRef tag{kDigital, 5};
  ASSERT_EQ(write(Batch().add(tag, uint16_t{1})), 0);
  change(tag).change_word = kDigitalBit;
  ASSERT_EQ(write(Batch().add(tag, uint16_t{5})), 0);
  EXPECT_EQ(val(change(tag).change_word), kDigitalBit) << "5 on 1 is no change";
  uint16_t v = 0xEEEE;
  ASSERT_EQ(rk_read(kMe, &tag, 1, &v), 0);
  EXPECT_EQ(v, 1);
  ASSERT_EQ(write(Batch().add(tag, uint16_t{0})), 0);
  EXPECT_EQ(val(change(tag).change_word), kChangeBits) << "0 clears bit 31 with the change";
  ASSERT_EQ(rk_read(kMe, &tag, 1, &v), 0);
  EXPECT_EQ(v, 0);
}

TEST_F(TagValuesTest, ACountOfZeroCountsOneCallAndTouchesNothing) {
  const TagRef tag{kPlain, 0};
  uint32_t v = 0;
  EXPECT_EQ(rk_write(kMe, &tag, 0, &v), 0);
  EXPECT_EQ(rk_read(kMe, &tag, 0, &v), 0);
  EXPECT_EQ(val(change(tag).change_word), 0u);
  EXPECT_EQ(stat(kMe, kStatWriteCalls), 1u);
  EXPECT_EQ(stat(kMe, kStatWriteTags), 0u);
  EXPECT_EQ(stat(kMe, kStatReadCalls), 1u);
  EXPECT_EQ(stat(kMe, kStatReadTags), 0u);
  EXPECT_EQ(val(kgd_->lock_holder), 0u);
}

// Calls that fail before their walk: nothing is done, nothing counted.
TEST_F(TagValuesTest, CallsRefusedBeforeTheWalkDoNothing) {
  const TagRef tag{kPlain, 0};
  uint32_t v = 1;
  const uint32_t masks = ~0u;
  app(1)->active = 0;
  struct {
    const char* name;
    int (*call)(const TagRef*, uint32_t*, const uint32_t*);
    int16_t err;   // 0: the id does not resolve and nothing is stored
  } cases[] = {
      {"unknown application", [](const TagRef* r, uint32_t* p, const uint32_t*) { return rk_write(0x0700, r, 1, p); }, 0},
      {"free slot", [](const TagRef* r, uint32_t* p, const uint32_t*) { return rk_read(0x0009, r, 1, p); }, 0},
      {"slot 31", [](const TagRef* r, uint32_t* p, const uint32_t*) { return rk_write(0x001F, r, 1, p); }, 0},
      {"null refs", [](const TagRef*, uint32_t* p, const uint32_t*) { return rk_write(kMe, nullptr, 1, p); }, kErrNullArg},
      {"null values", [](const TagRef* r, uint32_t*, const uint32_t*) { return rk_write(kMe, r, 1, nullptr); }, kErrNullArg},
      {"null buffer", [](const TagRef* r, uint32_t*, const uint32_t*) { return rk_read(kMe, r, 1, nullptr); }, kErrNullArg},
      {"null refs, forced", [](const TagRef*, uint32_t* p, const uint32_t*) { return rk_forced_write(kMe, nullptr, 1, p); }, kErrNullArg},
      {"attribute values without masks",
       [](const TagRef* r, uint32_t* p, const uint32_t* m) { return rk_write_attr(kMe, kMe, r, 1, p, m, nullptr); },
       kErrNullArg},
      {"inactive target", [](const TagRef* r, uint32_t* p, const uint32_t*) { return rk_write_app(kMe, 0x0100, r, 1, p); }, kErrAppInactive},
      {"target beyond the applications",
       [](const TagRef* r, uint32_t* p, const uint32_t*) { return rk_write_app(kMe, 0x0500, r, 1, p); }, kErrAppInactive},
      {"inactive target before null refs",
       [](const TagRef*, uint32_t* p, const uint32_t*) { return rk_write_app(kMe, 0x0100, nullptr, 1, p); }, kErrAppInactive},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    entry(kMe).errnum = 99;
    EXPECT_EQ(c.call(&tag, &v, &masks), -1);
    EXPECT_EQ(rk_errno(kMe), c.err != 0 ? c.err : 99);
    EXPECT_EQ(val(change(tag).change_word), 0u);
    EXPECT_EQ(value<uint32_t>(tag), 0u);
    EXPECT_EQ(val(kgd_->lock_holder), 0u) << "the lock is given back";
    for (CptStat s : {kStatReadCalls, kStatReadTags, kStatWriteCalls, kStatWriteTags}) EXPECT_EQ(stat(kMe, s), 0u);
  }
}

// Failures inside the walk: a bad type ends it, a bad index or a refused
// value skips one element; the first failure kept, except that 9 and the
// floating-value errors replace an earlier one.
TEST_F(TagValuesTest, ABatchGoesOnOrStopsByTheFailureOfItsElement) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double ok = 1.0;
  struct Case {
    const char* name;
    Batch batch;
    int16_t err;
    std::vector<bool> written;   // per element, whether its value was stored
    uint32_t counted;
  } cases[] = {
      {"bad index goes on",
       Batch().add(TagRef{kPlain, 0}, 1u).add(TagRef{kPlain, 1}, 2u).add(TagRef{kPlain, 8}, 3u).add(TagRef{kPlain, 3}, 4u),
       kErrBadTag, {true, true, false, true}, 3},
      {"no tags of the type", Batch().add(TagRef{kNoTags, 0}, uint16_t{1}).add(TagRef{kPlain, 3}, 4u), kErrBadTag,
       {false, true}, 1},
      {"undefined type stops",
       Batch().add(TagRef{kPlain, 0}, 1u).add(TagRef{kPlain, 1}, 2u).add(TagRef{kUndefined, 0}, 3u).add(TagRef{kPlain, 3}, 4u),
       kErrBadTag, {true, true, false, false}, 2},
      {"type beyond the table", Batch().add(TagRef{kPlain, 0}, 1u).add(TagRef{0xFFFF, 0}, 3u).add(TagRef{kPlain, 3}, 4u),
       kErrBadTag, {true, false, false}, 1},
      {"NaN", Batch().add(TagRef{kDouble, 0}, nan).add(TagRef{kPlain, 3}, 4u), kErrNaN, {false, true}, 2},
      {"+infinity", Batch().add(TagRef{kPlain, 0}, 1u).add(TagRef{kDouble, 1}, inf), kErrPlusInf, {true, false}, 2},
      {"-infinity", Batch().add(TagRef{kDouble, 2}, -inf).add(TagRef{kDouble, 3}, ok), kErrMinusInf, {false, true}, 2},
      {"a later bad index replaces NaN",
       Batch().add(TagRef{kDouble, 0}, nan).add(TagRef{kPlain, 9}, 1u).add(TagRef{kPlain, 3}, 4u), kErrBadTag,
       {false, false, true}, 2},
      {"a later infinity replaces a bad index",
       Batch().add(TagRef{kPlain, 9}, 1u).add(TagRef{kDouble, 0}, inf), kErrPlusInf, {false, false}, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (TagRef t : c.batch.refs) {
      if (t.type < kNoTags && t.index < 4) {
        memset(cell(t) + 4, 0, 4);
        if (t.type == kDouble) memset(cell(t) + 4, 0, 8);
        change(t).change_word = 0;
      }
    }
    entry(kMe).stats[kStatWriteTags] = 0;
    EXPECT_EQ(write(c.batch), -1);
    EXPECT_EQ(rk_errno(kMe), c.err);
    EXPECT_EQ(stat(kMe, kStatWriteTags), c.counted);
    size_t off = 0;
    for (size_t i = 0; i < c.batch.refs.size(); ++i) {
      const TagRef t = c.batch.refs[i];
      const size_t n = t.type == kDouble ? 8 : t.type == kNoTags ? 2 : 4;
      if (t.type < kNoTags && t.index < 4) {
        const bool stored = memcmp(cell(t) + 4, c.batch.bytes.data() + off, n) == 0;
        EXPECT_EQ(stored, c.written[i]) << "element " << i;
        EXPECT_EQ(val(change(t).change_word), c.written[i] ? kChangeBits : 0u) << "element " << i;
      }
      off += n;
    }
  }
}

// A client without a write mask has its runs of plain tags written in one
// tight loop; with a mask that meets no attribute word, the same batch goes
// element by element through the general walk. Both must leave the same
// values, change words, statistics and result.
TEST_F(TagValuesTest, RunsOfPlainTagsEndAsTheGeneralWalkLeavesThem) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    Batch batch;
    int rc;
    int16_t err;
    uint32_t counted;
  } cases[] = {
      {"a bad index inside a run goes on",
       Batch().add(TagRef{kPlain, 0}, 5u).add(TagRef{kPlain, 1}, 6u).add(TagRef{kPlain, 9}, 7u).add(TagRef{kPlain, 2}, 8u),
       -1, kErrBadTag, 3},
      {"NaN and infinities inside a run of doubles",
       Batch().add(TagRef{kDouble, 0}, nan).add(TagRef{kDouble, 1}, 2.5).add(TagRef{kDouble, 2}, -inf)
           .add(TagRef{kDouble, 3}, 4.5),
       -1, kErrMinusInf, 4},
      {"values already there are no change",
       Batch().add(TagRef{kPlain, 0}, 100u).add(TagRef{kPlain, 1}, 6u).add(TagRef{kPlain, 2}, 102u), 0, 0, 3},
      {"runs of several types back to back",
       Batch().add(TagRef{kPlain, 0}, 5u).add(TagRef{kDouble, 1}, 1.5).add(TagRef{kPlain, 3}, 9u)
           .add(TagRef{kShared, 0}, 11u).add(TagRef{kShared, 1}, 12u).add(TagRef{kDigital, 2}, uint16_t{1})
           .add(TagRef{kPlain, 4}, 13u),
       0, 0, 7},
      {"a shared run changes every application",
       Batch().add(TagRef{kShared, 0}, 100u).add(TagRef{kShared, 1}, 21u).add(TagRef{kShared, 3}, 23u), 0, 0, 3},
      {"an undefined type ends the batch after a run",
       Batch().add(TagRef{kPlain, 0}, 5u).add(TagRef{kPlain, 1}, 6u).add(TagRef{kUndefined, 0}, 7u)
           .add(TagRef{kPlain, 2}, 8u),
       -1, kErrBadTag, 2},
      {"a run that ends the batch with a bad index",
       Batch().add(TagRef{kDouble, 3}, 1.0).add(TagRef{kDouble, 4}, 2.0), -1, kErrBadTag, 1},
  };
  const uint16_t types[] = {kPlain, kDouble, kShared, kDigital};
  // Every value the index plus 100 (as bytes of its size), every change word 0.
  auto reset = [&] {
    for (uint16_t t : types) {
      for (uint16_t i = 0; i < 4; ++i) {
        for (uint32_t a = 0; a < 2; ++a) {
          const TagRef ref{t, i};
          memset(cell(ref, a) + 4, 0, t == kDouble ? 8 : 4);
          const uint32_t v = 100u + i;
          if (t == kPlain || t == kShared) memcpy(cell(ref, a) + 4, &v, 4);
          change(ref, a).change_word = 0;
        }
      }
    }
    entry(kMe).stats[kStatWriteTags] = 0;
    entry(kMe).errnum = 0;
  };
  // Values and change words of both applications, and the counted tags.
  auto state = [&] {
    std::vector<uint32_t> words;
    for (uint16_t t : types) {
      for (uint16_t i = 0; i < 4; ++i) {
        for (uint32_t a = 0; a < 2; ++a) {
          const TagRef ref{t, i};
          words.push_back(load_u32(cell(ref, a) + 4));
          if (t == kDouble) words.push_back(load_u32(cell(ref, a) + 8));
          words.push_back(val(change(ref, a).change_word));
        }
      }
    }
    words.push_back(stat(kMe, kStatWriteTags));
    return words;
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    entry(kMe).write_mask = 0;
    reset();
    EXPECT_EQ(write(c.batch), c.rc);
    if (c.rc != 0) {
      EXPECT_EQ(rk_errno(kMe), c.err);
    }
    EXPECT_EQ(stat(kMe, kStatWriteTags), c.counted);
    const std::vector<uint32_t> tight = state();

    entry(kMe).write_mask = 0x80000000u;   // a bit no tag has
    reset();
    EXPECT_EQ(write(c.batch), c.rc);
    if (c.rc != 0) {
      EXPECT_EQ(rk_errno(kMe), c.err);
    }
    EXPECT_EQ(state(), tight);
  }
  entry(kMe).write_mask = 0;
  // A shared change reaches both applications' change words.
  reset();
  ASSERT_EQ(write(Batch().add(TagRef{kShared, 2}, 1u).add(TagRef{kShared, 3}, 2u)), 0);
  for (uint32_t a = 0; a < 2; ++a) EXPECT_EQ(val(change(TagRef{kShared, 3}, a).change_word), kChangeBits);
  EXPECT_EQ(val(change(TagRef{kShared, 1}, 1).change_word), 0u);
}

rk_message_record message(const char* data, uint8_t mark) {
  rk_message_record r{};
  r.data = const_cast<char*>(data);
  r.length = static_cast<uint16_t>(strlen(data));
  memset(r.caller_fields, mark, sizeof r.caller_fields);
  return r;
}

TEST_F(TagValuesTest, AMailboxWriteAppendsAMessageAndAReadTakesTheFirst) {
  static const char first[] = "first", second[] = "second!";
  struct {
    const char* name;
    TagRef tag;
  } cases[] = {{"per application", {kMailbox, 1}}, {"shared", {kSharedMailbox, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool shared = c.tag.type == kSharedMailbox;
    ASSERT_EQ(write(Batch().add(c.tag, message(first, 1))), 0);
    ASSERT_EQ(rk_forced_write(kMe, &c.tag, 1, Batch().add(c.tag, message(second, 2)).bytes.data()), 0);
    EXPECT_EQ(val(value<MsgQueue>(c.tag).count), 2);
    EXPECT_EQ(val(change(c.tag).change_word), kChangeBits);
    EXPECT_EQ(val(change(c.tag, 1).change_word), shared ? kChangeBits : 0u);

    char got[16] = {};
    rk_message_record into{got, sizeof got, 0, {}};
    ASSERT_EQ(rk_read(kMe, &c.tag, 1, &into), 0);
    EXPECT_EQ(std::string(got, into.length), "first");
    EXPECT_EQ(val(into.caller_fields[13]), 1);
    EXPECT_EQ(val(change(c.tag).change_word), kChangeBits) << "a read of a mailbox that still holds messages clears nothing";
    ASSERT_EQ(rk_read(kMe, &c.tag, 1, &into), 0);
    EXPECT_EQ(std::string(got, into.length), "second!");
    EXPECT_EQ(val(change(c.tag).change_word), 0u) << "the last take clears every change bit";
    EXPECT_EQ(val(change(c.tag, 1).change_word), 0u) << "in every application that shares it";

    EXPECT_EQ(rk_read(kMe, &c.tag, 1, &into), -1);
    EXPECT_EQ(rk_errno(kMe), kErrNoMessage);
  }
  // Into another application's mailbox.
  const TagRef tag{kMailbox, 0};
  ASSERT_EQ(rk_write_app(kMe, 0x0100, &tag, 1, Batch().add(tag, message(first, 3)).bytes.data()), 0);
  EXPECT_EQ(val(value<MsgQueue>(tag, 1).count), 1);
  EXPECT_EQ(val(value<MsgQueue>(tag, 0).count), 0);
  EXPECT_EQ(val(change(tag, 1).change_word), kChangeBits);
  EXPECT_EQ(val(change(tag, 0).change_word), 0u);
}

TEST_F(TagValuesTest, ARefusedMessageIsKeptAsTheBatchsErrorUnlessAReferenceFailsLater) {
  const TagRef box{kMailbox, 0};
  MsgQueue q = value<MsgQueue>(box);
  q.limit_kib = 1;
  memcpy(cell(box) + 4, &q, sizeof q);
  std::vector<char> huge(1500, 'x');
  const rk_message_record over{huge.data(), 0, 1500, {}};

  Batch b = Batch().add(TagRef{kPlain, 0}, 1u).add(box, over).add(TagRef{kPlain, 1}, 2u);
  EXPECT_EQ(write(b), -1);
  EXPECT_EQ(rk_errno(kMe), kErrMbxLimit);
  EXPECT_EQ(value<uint32_t>({kPlain, 1}), 2u) << "the batch goes on";
  EXPECT_EQ(val(change(box).change_word), 0u);
  EXPECT_EQ(val(value<MsgQueue>(box).count), 0);

  b = Batch().add(box, over).add(TagRef{kPlain, 8}, 2u);
  EXPECT_EQ(write(b), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag) << "a bad reference replaces a helper's error";
}

// A text at the very end of a page whose next page cannot be read: a
// reader that goes one byte too far is stopped there.
class GuardedText {
 public:
  explicit GuardedText(const char* s) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    base_ = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + page, page, PROT_NONE);
    text_ = base_ + page - strlen(s);
    memcpy(text_, s, strlen(s));
    bytes_ = 2 * page;
  }
  ~GuardedText() { munmap(base_, bytes_); }
  char* text() const { return text_; }

 private:
  char* base_;
  char* text_;
  size_t bytes_;
};

TEST_F(TagValuesTest, StringBuffersAreReservedOnceAndTextsAreCutToThem) {
  const TagRef tag{kText, 2};
  // A null buffer with a size only makes room.
  ASSERT_EQ(write(Batch().add(tag, rk_string_desc{nullptr, 100, 0})), 0);
  StringDesc d = stored_text(tag);
  EXPECT_NE(d.buffer, 0u);
  EXPECT_EQ(val(d.size), 100);
  EXPECT_EQ(val(d.length), 0);
  EXPECT_EQ(val(change(tag).change_word), 0u) << "making room changes nothing";
  const Addr reserved = d.buffer;

  // A text longer than the buffer is cut to it without an error, and not terminated.
  const TagRef small{kText, 3};
  ASSERT_EQ(write(Batch().add(small, rk_string_desc{nullptr, 4, 0})), 0);
  static const char ten[] = "abcdefghij";
  ASSERT_EQ(write(Batch().add(small, text(ten))), 0);
  EXPECT_EQ(stored_string(small), "abcd");
  EXPECT_EQ(val(change(small).change_word), kChangeBits);
  EXPECT_EQ(val(stored_text(small).size), 4) << "the buffer is kept, never grown";

  // A descriptor whose length runs past its size: only size bytes are taken.
  GuardedText guarded("12345");
  ASSERT_EQ(write(Batch().add(tag, rk_string_desc{guarded.text(), 5, 60})), 0);
  EXPECT_EQ(stored_string(tag), "12345");
  EXPECT_EQ(at<char>(reserved)[5], 0) << "terminated: the buffer has room";
  EXPECT_EQ(val(stored_text(tag).buffer), reserved);
  change(tag).change_word = 0;
  ASSERT_EQ(write(Batch().add(tag, rk_string_desc{guarded.text(), 5, 60})), 0);
  EXPECT_EQ(val(change(tag).change_word), 0u) << "compared over the same bytes: the same text";

  // Reads: cut to the reader's size without a 0; no buffer, nothing; a
  // reader's length past its size is not trusted either.
  char three[4] = {'x', 'x', 'x', 'x'};
  rk_string_desc into{three, 3, 0};
  ASSERT_EQ(rk_read(kMe, &tag, 1, &into), 0);
  EXPECT_EQ(std::string(three, 4), "123x");
  EXPECT_EQ(val(into.length), 3);
  rk_string_desc none{nullptr, 50, 7};
  ASSERT_EQ(rk_read(kMe, &tag, 1, &none), 0);
  EXPECT_EQ(val(none.buffer), nullptr);
  EXPECT_EQ(val(none.size), 50);
  EXPECT_EQ(val(none.length), 7);
  GuardedText reader("12345");
  rk_string_desc overlong{reader.text(), 5, 200};
  ASSERT_EQ(rk_read(kMe, &tag, 1, &overlong), 0);
  EXPECT_EQ(val(overlong.length), 200) << "already the same text: left as it was";

  // An empty text empties the tag and keeps its buffer.
  ASSERT_EQ(write(Batch().add(tag, rk_string_desc{nullptr, 0, 0})), 0);
  d = stored_text(tag);
  EXPECT_EQ(val(d.length), 0);
  EXPECT_EQ(val(d.buffer), reserved);
  EXPECT_EQ(at<char>(reserved)[0], 0);
  EXPECT_EQ(val(change(tag).change_word), kChangeBits);
}

// The kernel's descriptor of a cell against a caller's, both ways. The
// kernel's text lies where a 32-bit address reaches it; the caller's in the
// caller's own memory.
TEST_F(TagValuesTest, StringHelpersCompareAndCopyByTheRules) {
  LowVector<char> kernel_text(8, '\0');
  char* const k = kernel_text.data();
  strcpy(k, "abc");
  char b[8] = "abc", c[8] = "abd", out[4];
  const StringDesc cell_abc{addr_of(k), 8, 3}, cell_ab{addr_of(k), 8, 2}, cell_empty{0, 0, 0};
  const rk_string_desc abc{b, 8, 3}, abd{c, 8, 3}, ab{b, 8, 2}, empty{nullptr, 0, 0}, no_length{b, 8, 0};
  struct {
    const char* name;
    StringDesc cell;
    rk_string_desc caller;
    int differs;
  } cases[] = {
      {"same text, other buffers", cell_abc, abc, 0}, {"one byte", cell_abc, abd, 1},
      {"lengths", cell_abc, ab, 1},                   {"shorter cell", cell_ab, abc, 1},
      {"both empty", cell_empty, no_length, 0},       {"text onto empty", cell_empty, abc, 1},
      {"empty onto text", cell_abc, empty, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(string_differs(&c.cell, &c.caller), c.differs) << c.name;

  // Into a caller's descriptor: no buffer, nothing.
  rk_string_desc dest{nullptr, 0, 0};
  EXPECT_EQ(string_assign(&dest, &cell_abc), kStringNoBuffer);
  EXPECT_EQ(dest.buffer, nullptr);
  dest = rk_string_desc{out, 3, 0};
  EXPECT_EQ(string_assign(&dest, &cell_abc), kStringChanged);
  EXPECT_EQ(std::string(out, 3), "abc");
  EXPECT_EQ(string_assign(&dest, &cell_abc), kStringSame);
  EXPECT_EQ(string_assign(&dest, &cell_empty), kStringChanged);
  EXPECT_EQ(val(dest.length), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(string_assign(&dest, &cell_empty), kStringSame);

  // Into a cell, without allocating.
  StringDesc cell{0, 0, 0};
  EXPECT_EQ(string_assign(&cell, &abd, false), kStringNoBuffer);
  EXPECT_EQ(val(cell.buffer), 0u);
  cell = cell_abc;
  EXPECT_EQ(string_assign(&cell, &abd, false), kStringChanged);
  EXPECT_EQ(std::string(k, 4), std::string("abd\0", 4));
  EXPECT_EQ(string_assign(&cell, &empty, false), kStringChanged);
  EXPECT_EQ(val(cell.length), 0);
  EXPECT_EQ(k[0], 0);
}

// Handlers installed by hand, as the attribute calls will: each records
// what it saw and answers what the test set.
struct Seen {
  int calls = 0;
  int direction = -1;
  void* element = nullptr;
  void* cell = nullptr;
  void* value = nullptr;
};
Seen g_seen[32];
int g_answer[32];
int16_t g_error_to_store[32];

template <int Bit>
int handler(CptEntry* e, ChangeEntry*, void* cell, void* value, void* element, int direction) {
  Seen& s = g_seen[Bit];
  ++s.calls;
  s.direction = direction;
  s.element = element;
  s.cell = cell;
  s.value = value;
  if (g_error_to_store[Bit] != 0) e->errnum = g_error_to_store[Bit];
  return g_answer[Bit];
}

TEST_F(TagValuesTest, HandlersSkipRefuseOrLetTheElementProceed) {
  CptEntry& me = entry(kMe);
  ASSERT_TRUE(set_client_handler(kMe, 1, reinterpret_cast<rk_attr_handler>(&handler<1>)));
  ASSERT_TRUE(set_client_handler(kMe, 3, reinterpret_cast<rk_attr_handler>(&handler<3>)));
  me.handlers[1] = me.handlers[3] = 1;
  me.write_mask = 0x0E;   // bits 1, 2 (no handler), 3
  me.read_mask = 0x02;
  const TagRef a{kPlain, 0}, b{kPlain, 1}, c{kPlain, 2};
  store_u32(cell(b), 0x0A | 0x10);   // bits 1 and 3, and 4 outside the mask
  struct Case {
    const char* name;
    int answer1, answer3;
    int16_t error1;
    int rc;
    int16_t err;
    bool b_written, c_written;
    int calls3;
    uint32_t counted;
  } cases[] = {
      {"proceed", 0, 0, 0, 0, 0, true, true, 1, 3},
      {"any other answer proceeds", 7, 0, 0, 0, 0, true, true, 0, 3},
      {"skip", 0, 1, 0, 0, 0, false, true, 1, 2},
      {"refuse with an error", -1, 0, kErrNoMessage, -1, kErrNoMessage, false, false, 0, 1},
      {"refuse without one", 0, -1, 0, -1, kErrHandlerRefused, false, false, 1, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    for (Seen& s : g_seen) s = Seen{};
    g_answer[1] = k.answer1;
    g_answer[3] = k.answer3;
    g_error_to_store[1] = k.error1;
    for (TagRef t : {a, b, c}) {
      store_u32(cell(t) + 4, 0);
      change(t).change_word = 0;
    }
    me.stats[kStatWriteTags] = 0;
    me.errnum = 0;
    Batch batch = Batch().add(a, 1u).add(b, 2u).add(c, 3u);
    const uint32_t attr_values[] = {0, 0x40, 0};
    const uint32_t attr_masks[] = {0, 0x40, 0};
    EXPECT_EQ(rk_write_attr(kMe, kMe, batch.refs.data(), 3, batch.bytes.data(), attr_values, attr_masks), k.rc);
    if (k.rc != 0) {
      EXPECT_EQ(rk_errno(kMe), k.err);
    }
    EXPECT_EQ(value<uint32_t>(a), 1u) << "a tag without those bits is not screened";
    EXPECT_EQ(value<uint32_t>(b), k.b_written ? 2u : 0u);
    EXPECT_EQ(val(change(b).change_word), k.b_written ? kChangeBits : 0u);
    EXPECT_EQ((attr(b) & 0x40) != 0, k.b_written) << "a skipped element's attributes are left too";
    EXPECT_EQ(value<uint32_t>(c), k.c_written ? 3u : 0u) << "the cursor went past the skipped element";
    EXPECT_EQ(g_seen[1].calls, 1);
    EXPECT_EQ(g_seen[3].calls, k.calls3);
    EXPECT_EQ(g_seen[1].direction, 0);
    EXPECT_EQ(g_seen[1].element, batch.bytes.data() + 4);
    EXPECT_EQ(g_seen[1].cell, cell(b));
    EXPECT_EQ(g_seen[1].value, cell(b) + 4);
    EXPECT_EQ(stat(kMe, kStatWriteTags), k.counted);
    store_u32(cell(b), 0x0A | 0x10);
  }

  // A read runs the handlers of the read mask, direction 1; a refusal
  // without an error is never a success.
  for (Seen& s : g_seen) s = Seen{};
  g_answer[1] = -1;
  g_error_to_store[1] = 0;
  uint32_t got[3] = {};
  const TagRef abc[] = {a, b, c};
  EXPECT_EQ(rk_read(kMe, abc, 3, got), -1);
  EXPECT_EQ(rk_errno(kMe), kErrHandlerRefused);
  EXPECT_EQ(g_seen[1].direction, 1);
  EXPECT_EQ(g_seen[3].calls, 0) << "bit 3 is not in the read mask";
  me.errnum = 0;
  g_answer[1] = 0;
  EXPECT_EQ(rk_read(kMe, abc, 3, got), 0);
  EXPECT_EQ(rk_errno(kMe), 0) << "the dispatch leaves a succeeding call's error number alone";
}

}  // namespace
}  // namespace rk::test
