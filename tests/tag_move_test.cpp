// Moving a value between tags of the five classes: the conversions and the
// values that are not written, the change word taken over between tags of
// one class, the applications a move writes in, and its refusals.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "support/kernel_test.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

// Every type has 4 tags and values per application unless said otherwise.
constexpr uint16_t kDig = 0;         // class 0, digital
constexpr uint16_t kInt16 = 1;       // class 1
constexpr uint16_t kDouble = 2;      // class 2
constexpr uint16_t kText = 3;        // class 3
constexpr uint16_t kInt32 = 4;       // class 4
constexpr uint16_t kSharedInt32 = 5; // class 4, shared
constexpr uint16_t kSharedDouble = 6;// class 2, shared
constexpr uint16_t kClass5 = 7;      // class 5, 4-byte plain
constexpr uint16_t kSharedClass5 = 8;
constexpr uint16_t kClass7 = 9;      // a class the move does not know
constexpr uint16_t kWideInt16 = 10;  // class 1 on a 4-byte plain type
constexpr uint16_t kPlainText = 11;  // class 3 on an 8-byte plain type
constexpr uint16_t kUndefined = 12;

constexpr uint16_t kMe = 0x0000;

// A text terminated as the move hands it over: its length counts the 0 byte.
std::string z(const char* s) { return std::string(s, strlen(s) + 1); }

class TagMoveTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    create({type_entry("DIG", 1, 4, 2, 1, 0), type_entry("INT16", 0, 4, 2, 1, 1), type_entry("DOUBLE", 0, 4, 8, 1, 2),
            type_entry("TEXT", 2, 4, 8, 1, 3), type_entry("INT32", 0, 4, 4, 1, 4),
            type_entry("SINT32", 0, 4, 4, 0, 4), type_entry("SDOUBLE", 0, 4, 8, 0, 2),
            type_entry("C5", 0, 4, 4, 1, 5), type_entry("SC5", 0, 4, 4, 0, 5), type_entry("C7", 0, 4, 4, 1, 7),
            type_entry("WIDE16", 0, 4, 4, 1, 1), type_entry("PLAINTEXT", 0, 4, 8, 1, 3)},
           2);
    make_live(kMe, getpid());
  }
  uint32_t word(TagRef ref, uint32_t a = 0) const { return val(change(a, ref).change_word); }

  // Puts a value into a tag of application a as it is, without the write's
  // rules (so that a double may be an infinity); a text through the write.
  template <typename T>
  void put(TagRef ref, T v, uint32_t a = 0) {
    memcpy(cell(a, ref) + 4, &v, sizeof v);
  }
  void put_digital(TagRef ref, bool on, uint32_t a = 0) {
    change(a, ref).change_word = on ? kDigitalBit : 0;
  }
  void put_text(TagRef ref, const char* s, uint32_t a = 0) {
    const rk_string_desc d{const_cast<char*>(s), 64, static_cast<uint16_t>(strlen(s))};
    ASSERT_EQ(rk_write_app(kMe, static_cast<uint16_t>(a << 8), &ref, 1, &d), 0);
  }

  // The tag's value as text: a text with the bytes its length counts.
  std::string shown(TagRef ref, uint32_t a = 0) const {
    const uint8_t* v = cell(a, ref) + 4;
    char out[40];
    switch (ref.type) {
      case kDig: return (word(ref, a) & kDigitalBit) != 0 ? "1" : "0";
      case kInt16: {
        int16_t n;
        memcpy(&n, v, sizeof n);
        return std::to_string(n);
      }
      case kDouble:
      case kSharedDouble: {
        double d;
        memcpy(&d, v, sizeof d);
        snprintf(out, sizeof out, "%.17g", d);
        return out;
      }
      case kText: {
        StringDesc d;   // the kernel's own descriptor
        memcpy(&d, v, sizeof d);
        return d.buffer == 0 ? "" : std::string(at<char>(d.buffer), d.length);
      }
      default: {
        int32_t n;
        memcpy(&n, v, sizeof n);
        return std::to_string(n);
      }
    }
  }
  uint32_t stat(CptStat s) const { return val(entry(kMe).stats[s]); }
};

TEST_F(TagMoveTest, EachPairOfClassesConvertsOrLeavesTheDestinationAsItWas) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  static const char long_text[] = "111111111111111111111111111111111111111" "0000";   // 39 ones, then more
  struct Source {
    TagRef ref;
    double d = 0;           // for a double
    int32_t n = 0;          // for a digital or integer tag
    const char* s = nullptr;
  };
  auto dbl = [](double d) { return Source{{kDouble, 0}, d, 0, nullptr}; };
  auto i16 = [](int16_t n) { return Source{{kInt16, 0}, 0, n, nullptr}; };
  auto i32 = [](int32_t n) { return Source{{kInt32, 0}, 0, n, nullptr}; };
  auto dig = [](bool on) { return Source{{kDig, 0}, 0, on, nullptr}; };
  auto txt = [](const char* s) { return Source{{kText, 0}, 0, 0, s}; };
  const char* const kKept = nullptr;   // the destination keeps its value
  struct Case {
    Source from;
    uint16_t to;
    const char* expected;
    std::string expected_text = {};   // for a text destination
  } cases[] = {
      {dbl(3.99), kInt16, "3"},
      {dbl(-3.99), kInt16, "-3"},
      {dbl(-32768.0), kInt16, "-32768"},
      {dbl(40000.0), kInt16, kKept},
      {dbl(32767.5), kInt16, kKept},   // 32767 once truncated, but out of range before
      {dbl(-2147483648.0), kInt32, "-2147483648"},
      {dbl(2147483648.0), kInt32, kKept},
      {dbl(-7.9), kInt32, "-7"},
      {dbl(2.0), kText, "", z("2")},
      {dbl(0.1), kText, "", z("0.1")},
      {dbl(-0.0), kText, "", z("0")},
      {dbl(0.0), kText, "", z("0")},
      {dbl(1.0 / 3), kText, "", z("0.33333333333333")},
      {dbl(inf), kDig, "1"},
      {dbl(-inf), kDig, "1"},
      {dbl(0.25), kDig, "1"},
      {dbl(-0.0), kDig, "0"},
      {dbl(nan), kDig, kKept},
      {dbl(nan), kInt32, kKept},
      {dbl(inf), kInt16, kKept},
      {dbl(-inf), kText, kKept},
      {i16(-5), kText, "", z("-5")},
      {i16(-5), kInt32, "-5"},
      {i16(-2), kDouble, "-2"},
      {i16(3), kDig, "1"},
      {i16(0), kDig, "0"},
      {i32(-7), kDouble, "-7"},
      {i32(2147483647), kDouble, "2147483647"},
      {i32(40000), kInt16, kKept},
      {i32(-32768), kInt16, "-32768"},
      {i32(-2147483647 - 1), kText, "", z("-2147483648")},
      {i32(3), kDig, "1"},
      {dig(true), kInt16, "1"},
      {dig(true), kDouble, "1"},
      {dig(true), kText, "", z("1")},
      {dig(false), kInt32, "0"},
      {txt("70000"), kInt16, "4464"},   // 70000 - 65536: its low 16 bits
      {txt("-1"), kInt16, "-1"},
      {txt("12abc"), kInt32, "12"},
      {txt("abc"), kInt32, "0"},
      {txt(""), kInt32, "0"},
      {txt("3.5"), kDouble, "3.5"},
      {txt(long_text), kDouble, "1.1111111111111111e+38"},   // only the first 39 characters
      {txt("0"), kDig, "0"},
      {txt("9"), kDig, "1"},
      // Integers are read in 32 bits on every target: beyond the range, its ends.
      {txt(" \t+42x"), kInt32, "42"},
      {txt("2147483647"), kInt32, "2147483647"},
      {txt("3000000000"), kInt32, "2147483647"},
      {txt("4294967296"), kInt32, "2147483647"},
      {txt("-2147483648"), kInt32, "-2147483648"},
      {txt("-3000000000"), kInt32, "-2147483648"},
      {txt("99999999999999999999999"), kInt32, "2147483647"},
      {txt("3000000000"), kInt16, "-1"},     // 0x7FFFFFFF, its low 16 bits
      {txt("-3000000000"), kInt16, "0"},     // 0x80000000
      {txt("4294967296"), kDig, "1"},
      {txt("-0"), kDig, "0"},
  };
  for (const Case& c : cases) {
    const TagRef to{c.to, 1};
    SCOPED_TRACE(std::to_string(c.from.ref.type) + " to " + std::to_string(c.to) + ", " +
                 (c.from.s != nullptr ? c.from.s : std::to_string(c.from.d) + "/" + std::to_string(c.from.n)));
    switch (c.from.ref.type) {
      case kDouble: put(c.from.ref, c.from.d); break;
      case kInt16: put(c.from.ref, static_cast<int16_t>(c.from.n)); break;
      case kInt32: put(c.from.ref, c.from.n); break;
      case kDig: put_digital(c.from.ref, c.from.n != 0); break;
      default: put_text(c.from.ref, c.from.s); break;
    }
    // A value the move would not write.
    const bool kept = c.expected == kKept;
    switch (c.to) {
      case kDig: put_digital(to, kept || std::string(c.expected) == "0"); break;
      case kText: put_text(to, "old"); break;
      case kDouble: put(to, 77.0); break;
      case kInt16: put(to, int16_t{77}); break;
      default: put(to, int32_t{77}); break;
    }
    const std::string before = shown(to);
    const uint32_t bit31 = word(to) & kDigitalBit;
    change(0, to).change_word = bit31;

    ASSERT_EQ(rk_move(kMe, &c.from.ref, &to), 0);
    if (kept) {
      EXPECT_EQ(shown(to), before);
      EXPECT_EQ(word(to), bit31) << "nothing written: no change";
    } else {
      EXPECT_EQ(shown(to), c.to == kText ? c.expected_text : std::string(c.expected));
      EXPECT_EQ(word(to) & kChangeBits, kChangeBits) << "written as by rk_write_app";
    }
  }
}

TEST_F(TagMoveTest, BetweenTagsOfOneClassTheDestinationTakesTheSourcesChangeWord) {
  struct {
    const char* name;
    TagRef from;
    std::string value[2];   // the source's in applications 0 and 1
  } cases[] = {
      {"digital", {kDig, 0}, {"1", "0"}},
      {"16-bit", {kInt16, 0}, {"-12", "13"}},
      {"double", {kDouble, 0}, {"2.5", "-0.5"}},
      {"text", {kText, 0}, {"first", "second"}},   // as the source holds it: no 0 byte counted
      {"32-bit", {kInt32, 0}, {"70000", "-70000"}},
  };
  static const char first[] = "first", second[] = "second";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TagRef to{c.from.type, 3};
    for (uint32_t a = 0; a < 2; ++a) {
      switch (c.from.type) {
        case kDig: put_digital(c.from, a == 0, a); break;
        case kInt16: put(c.from, static_cast<int16_t>(a == 0 ? -12 : 13), a); break;
        case kDouble: put(c.from, a == 0 ? 2.5 : -0.5, a); break;
        case kText: put_text(c.from, a == 0 ? first : second, a); break;
        default: put(c.from, a == 0 ? 70000 : -70000, a); break;
      }
      // The source as client 2 has seen it and the others have not.
      change(a, c.from).change_word = (word(c.from, a) & kDigitalBit) | (kChangeBits & ~4u) >> a;
    }
    ASSERT_EQ(rk_move(kMe, &c.from, &to), 0);
    for (uint32_t a = 0; a < 2; ++a) {
      EXPECT_EQ(shown(to, a), c.value[a]) << "application " << a;
      EXPECT_EQ(word(to, a), word(c.from, a)) << "application " << a;
    }
    if (c.from.type == kText) {
      EXPECT_NE(load_u32(cell(0, to) + 4), load_u32(cell(0, c.from) + 4)) << "the text is copied into a buffer of its own";
    }
  }
}

TEST_F(TagMoveTest, AMoveWritesEveryApplicationOfAPerApplicationDestinationUntilOneDoesNotRun) {
  const TagRef from{kInt16, 2}, to{kInt32, 2};
  put(from, int16_t{5}, 0);
  put(from, int16_t{6}, 1);
  ASSERT_EQ(rk_move(kMe, &from, &to), 0);
  EXPECT_EQ(shown(to, 0), "5");
  EXPECT_EQ(shown(to, 1), "6") << "each application's own source value";
  EXPECT_EQ(stat(kStatWriteCalls), 2u) << "one write per application";
  EXPECT_EQ(stat(kStatWriteTags), 2u);

  put(from, int16_t{7}, 0);
  put(from, int16_t{8}, 1);
  app(1)->active = 0;
  EXPECT_EQ(rk_move(kMe, &from, &to), -1);
  EXPECT_EQ(rk_errno(kMe), kErrAppInactive);
  EXPECT_EQ(shown(to, 0), "7") << "the application done before keeps its value";
  EXPECT_EQ(shown(to, 1), "6");
  EXPECT_EQ(val(kgd_->lock_holder), 0u);
}

TEST_F(TagMoveTest, AMoveIntoASharedDestinationWritesOnceFromTheFirstApplication) {
  const uint16_t caller = 0x0102;   // of application 1; the move still starts at application 0
  make_live(caller, getpid());
  struct {
    const char* name;
    TagRef from, to;
  } cases[] = {
      {"converted", {kSharedInt32, 0}, {kSharedDouble, 0}},
      {"one class", {kSharedInt32, 0}, {kSharedInt32, 1}},
  };
  put(TagRef{kSharedInt32, 0}, int32_t{-9});
  for (uint32_t a = 0; a < 2; ++a) change(a, {kSharedInt32, 0}).change_word = a == 0 ? 0x11u : 0x22u;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    entry(caller).stats[kStatWriteCalls] = 0;
    ASSERT_EQ(rk_move(caller, &c.from, &c.to), 0);
    EXPECT_EQ(shown(c.to, 1), "-9");
    EXPECT_EQ(val(entry(caller).stats[kStatWriteCalls]), 1u);
    const uint32_t expected = c.from.type == c.to.type ? 0x11u : kChangeBits;
    EXPECT_EQ(word(c.to, 0), expected) << "application 0's source word, to every application";
    EXPECT_EQ(word(c.to, 1), expected);
  }
}

TEST_F(TagMoveTest, AMoveIsRefusedBeforeItWritesAnything) {
  auto ref = [](uint16_t type, uint16_t index) { return TagRef{type, index}; };
  struct Case {
    const char* name;
    TagRef from, to;
    int16_t err;
  } cases[] = {
      {"bad source type", ref(kUndefined, 0), ref(kInt32, 0), kErrBadTag},
      {"source type beyond the table", ref(0xFFFF, 0), ref(kInt32, 0), kErrBadTag},
      {"bad source index", ref(kInt16, 4), ref(kInt32, 0), kErrBadTag},
      {"bad destination type", ref(kInt16, 0), ref(kUndefined, 0), kErrBadTag},
      {"bad destination index", ref(kInt16, 0), ref(kInt32, 4), kErrBadTag},
      {"a bad index before both of class 5", ref(kClass5, 9), ref(kClass5, 1), kErrBadTag},
      {"both of class 5", ref(kClass5, 0), ref(kClass5, 1), kErrBothClass5},
      {"both of class 5, into a shared one", ref(kClass5, 0), ref(kSharedClass5, 1), kErrBothClass5},
      {"per-application into shared", ref(kInt32, 0), ref(kSharedInt32, 0), kErrAppToShared},
      {"per-application class 7 into shared", ref(kClass7, 0), ref(kSharedInt32, 0), kErrAppToShared},
      {"from class 5", ref(kClass5, 0), ref(kInt32, 0), kErrBothClass5},
      {"into class 5", ref(kInt32, 0), ref(kClass5, 0), kErrBothClass5},
      {"from class 7", ref(kClass7, 0), ref(kInt32, 0), kErrBothClass5},
      {"into class 7", ref(kInt32, 0), ref(kClass7, 0), kErrBothClass5},
      {"class 1 on a 4-byte type", ref(kWideInt16, 0), ref(kInt32, 0), kErrBothClass5},
      {"into class 1 on a 4-byte type", ref(kInt32, 0), ref(kWideInt16, 0), kErrBothClass5},
      {"class 3 on a plain type", ref(kPlainText, 0), ref(kInt32, 0), kErrBothClass5},
  };
  put(TagRef{kPlainText, 0}, uint64_t{0xDEADBEEF00100010ull});   // would be read as a descriptor
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    entry(kMe).errnum = 0;
    EXPECT_EQ(rk_move(kMe, &c.from, &c.to), -1);
    EXPECT_EQ(rk_errno(kMe), c.err);
    EXPECT_EQ(val(kgd_->lock_holder), 0u) << "the lock is given back";
  }
  EXPECT_EQ(stat(kStatWriteCalls), 0u) << "nothing was written";
  EXPECT_EQ(shown({kInt32, 0}), "0");
}

TEST_F(TagMoveTest, ANullOrRepeatedReferenceIsRefusedWithoutTheLock) {
  const TagRef a{kInt32, 0}, b{kInt32, 1};
  struct {
    const char* name;
    const TagRef* from;
    const TagRef* to;
    int16_t err;
  } cases[] = {
      {"null source", nullptr, &b, kErrNullArg},
      {"null destination", &a, nullptr, kErrNullArg},
      {"the same tag twice", &a, &a, kErrSameTag},
  };
  ASSERT_EQ(rk_lock(kMe), 0);
  const uint32_t grants = stat(kStatLockGrants);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rk_move(kMe, c.from, c.to), -1);
    EXPECT_EQ(rk_errno(kMe), c.err);
    EXPECT_EQ(val(entry(kMe).lock), 1) << "the caller's lock untouched";
  }
  ASSERT_EQ(rk_unlock(kMe), 0);
  for (const auto& c : cases) {
    EXPECT_EQ(rk_move(kMe, c.from, c.to), -1);
    EXPECT_EQ(val(kgd_->lock_holder), 0u);
  }
  EXPECT_EQ(stat(kStatLockGrants), grants) << "never taken";
  EXPECT_EQ(rk_move(0x0009, &a, &b), -1) << "a free slot";
  EXPECT_EQ(rk_move(0x0700, &a, &b), -1) << "no such application";
}

TEST_F(TagMoveTest, AMoveRefusesATagWhoseArraysAreNotPlacedInAnApplication) {
  const TagRef from{kInt32, 0}, to{kDouble, 0};
  put(from, int32_t{4}, 0);
  at<TagArrayPair>(app(1)->pairs)[kInt32].change_array = 0;
  EXPECT_EQ(rk_move(kMe, &from, &to), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);
  EXPECT_EQ(shown(to, 0), "4") << "application 0 was done first";
  put(from, int32_t{5}, 0);
  at<TagArrayPair>(app(0)->pairs)[kDouble].value_array = 0;
  EXPECT_EQ(rk_move(kMe, &from, &to), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);
}

}  // namespace
}  // namespace rk::test
