// Attributes in one process: the Attribute Table that names the bits, the
// masks and handlers a client installs, and the attribute words of tags.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "core/client_handlers.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "support/unaligned.h"
#include "support/waiting_clients.h"
#include "support/wake_rtdb.h"

namespace rk::test {
namespace {

constexpr uint16_t kMe = 0x0000;      // this process, application 0
constexpr uint16_t kOther = 0x0100;   // this process too, application 1

// A record of the bytes of text (no NUL kept when it fills the name) with
// the given length; the rest of the name is `fill`.
rk_attr_record record(const char* text, int32_t length, char fill = 0) {
  rk_attr_record r;
  memset(r.name, fill, sizeof r.name);
  memcpy(r.name, text, std::min(strlen(text), sizeof r.name));
  r.length = length;
  return r;
}

// A record that marks an unused slot: a first byte 0, whatever follows.
rk_attr_record blank(int32_t length) {
  rk_attr_record r = record("xyz", length);
  r.name[0] = 0;
  return r;
}

rk_attr_record named(const char* text) { return record(text, static_cast<int32_t>(strlen(text))); }

class AttributesTest : public WakeRtdbTest {
 protected:
  void SetUp() override {
    WakeRtdbTest::SetUp();
    make_live(kMe, getpid());
    make_live(kOther, getpid());
  }

  int used_slots() const {
    int n = 0;
    for (const AttrRecord& slot : kgd_->attrs) n += slot.name[0] != 0;
    return n;
  }
  uint32_t define(const rk_attr_record& r) {
    uint32_t bit = 0;
    EXPECT_EQ(rk_define_attr(kMe, 1, &r, &bit), 0);
    return bit;
  }
  uint32_t word(uint16_t id, TagRef tag) {
    uint32_t w = 0xDEAD;
    EXPECT_EQ(rk_query_attr(id, &tag, 1, &w), 0);
    return w;
  }
};

int g_calls[2];   // handler calls by direction: write 0, read 1
int count_call(rk_cpt_entry*, void*, void*, void*, void*, int read) { return ++g_calls[read], 0; }
int skip_tag(rk_cpt_entry*, void*, void*, void*, void*, int) { return 1; }

TEST_F(AttributesTest, RefusalsStoreTheirErrorAndChangeNothing) {
  rk_attr_record r = named("ALARM");
  rk_attr_record out = named("untouched");
  uint32_t bit = 0x55, zero = 0, four = 4;
  const rk_attr_handler h = count_call;
  const TagRef tag{kLocal, 0}, bad_type{7, 0};
  const struct {
    const char* name;
    std::function<int()> call;
    int err;
  } cases[] = {
      {"define: null records", [&] { return rk_define_attr(kMe, 1, nullptr, &bit); }, kErrNullArg},
      {"define: null bits", [&] { return rk_define_attr(kMe, 1, &r, nullptr); }, kErrNullArg},
      {"define: negative length", [&] { auto b = record("NEG", -1); return rk_define_attr(kMe, 1, &b, &bit); },
       kErrRange},
      {"define: most negative length",
       [&] { auto b = record("NEG", INT_MIN); return rk_define_attr(kMe, 1, &b, &bit); }, kErrRange},
      {"define: first byte 0",
       [&] { auto b = blank(4); return rk_define_attr(kMe, 1, &b, &bit); }, kErrRange},
      {"name: null records", [&] { return rk_get_attr_name(kMe, 1, nullptr, &four); }, kErrNullArg},
      {"name: null bits", [&] { return rk_get_attr_name(kMe, 1, &out, nullptr); }, kErrNullArg},
      {"name: bit 0", [&] { return rk_get_attr_name(kMe, 1, &out, &zero); }, kErrAttrBit0},
      {"bit: null records", [&] { return rk_get_attr_bit(kMe, 1, nullptr, &bit); }, kErrNullArg},
      {"bit: null bits", [&] { return rk_get_attr_bit(kMe, 1, &r, nullptr); }, kErrNullArg},
      {"bit: never defined", [&] { return rk_get_attr_bit(kMe, 1, &r, &bit); }, kErrNoAttr},
      {"bit: negative length", [&] { auto b = record("", -5); return rk_get_attr_bit(kMe, 1, &b, &bit); },
       kErrNoAttr},
      {"read mask: null bits", [&] { return rk_set_read_mask(kMe, 1, nullptr, &h); }, kErrNullArg},
      {"read mask: null handlers", [&] { return rk_set_read_mask(kMe, 1, &four, nullptr); }, kErrNullArg},
      {"read mask: bit 0", [&] { return rk_set_read_mask(kMe, 1, &zero, &h); }, kErrAttrBit0},
      {"write mask: null bits", [&] { return rk_set_write_mask(kMe, 1, nullptr, &h); }, kErrNullArg},
      {"write mask: bit 0", [&] { return rk_set_write_mask(kMe, 1, &zero, &h); }, kErrAttrBit0},
      {"change mask: null", [&] { return rk_set_change_mask(kMe, nullptr); }, kErrNullArg},
      {"modify: null tags", [&] { return rk_modify_attr(kMe, nullptr, 1, &four, 0); }, kErrNullArg},
      {"modify: null values", [&] { return rk_modify_attr(kMe, &tag, 1, nullptr, 0); }, kErrNullArg},
      {"modify: null before a bad op", [&] { return rk_modify_attr(kMe, nullptr, 1, &four, 3); }, kErrNullArg},
      {"modify: op 3", [&] { return rk_modify_attr(kMe, &tag, 1, &four, 3); }, kErrRange},
      {"modify: op -1", [&] { return rk_modify_attr(kMe, &tag, 1, &four, -1); }, kErrRange},
      {"modify: op INT_MIN", [&] { return rk_modify_attr(kMe, &tag, 1, &four, INT_MIN); }, kErrRange},
      {"modify: bad type", [&] { return rk_modify_attr(kMe, &bad_type, 1, &four, 0); }, kErrBadTag},
      {"query: null tags", [&] { return rk_query_attr(kMe, nullptr, 1, &bit); }, kErrNullArg},
      {"query: null words", [&] { return rk_query_attr(kMe, &tag, 1, nullptr); }, kErrNullArg},
      {"query: bad type", [&] { return rk_query_attr(kMe, &bad_type, 1, &bit); }, kErrBadTag},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    slot_entry(kgd_, kMe)->errnum = 0;
    EXPECT_EQ(c.call(), -1);
    EXPECT_EQ(rk_errno(kMe), c.err);
    EXPECT_EQ(used_slots(), 0) << "no slot taken";
    EXPECT_EQ(val(slot_entry(kgd_, kMe)->read_mask) | val(slot_entry(kgd_, kMe)->write_mask) |
                  val(slot_entry(kgd_, kMe)->change_mask),
              0u);
    EXPECT_EQ(val(slot_entry(kgd_, kMe)->handlers[2]), 0u);
    EXPECT_EQ(word(kMe, tag), 0u);
    EXPECT_EQ(std::string(out.name, 9), "untouched");
  }
}

TEST_F(AttributesTest, AnIdThatDoesNotResolveFailsAndStoresNothing) {
  const rk_attr_record r = named("ALARM");
  uint32_t bit = 0, four = 4;
  const rk_attr_handler h = count_call;
  const TagRef tag{kLocal, 0};
  const uint16_t nobody = 0x0009;
  slot_entry(kgd_, nobody)->errnum = 0;
  EXPECT_EQ(rk_define_attr(nobody, 1, &r, &bit), -1);
  EXPECT_EQ(rk_get_attr_bit(nobody, 1, &r, &bit), -1);
  EXPECT_EQ(rk_set_read_mask(nobody, 1, &four, &h), -1);
  EXPECT_EQ(rk_set_change_mask(nobody, &four), -1);
  EXPECT_EQ(rk_modify_attr(nobody, &tag, 1, &four, 9), -1);
  EXPECT_EQ(rk_query_attr(nobody, &tag, 1, &bit), -1);
  EXPECT_EQ(val(slot_entry(kgd_, nobody)->errnum), 0);
  EXPECT_EQ(used_slots(), 0);
}

TEST_F(AttributesTest, DefiningFindsWhatIsDefinedAndCutsLengthsTo32) {
  EXPECT_EQ(define(named("ALARM")), 1u);
  EXPECT_EQ(define(named("ALARM")), 1u) << "found again";
  EXPECT_EQ(define(record("ALARMS", 5, '?')), 1u) << "only the first `length` bytes count";
  EXPECT_EQ(define(named("ALARMS")), 2u) << "another length is another attribute";
  EXPECT_EQ(used_slots(), 2);

  const rk_attr_record long_one = record("0123456789abcdef0123456789ABCDEF", 40);
  EXPECT_EQ(define(long_one), 4u);
  EXPECT_EQ(val(kgd_->attrs[2].length), 32);
  EXPECT_EQ(define(long_one), 8u) << "length 40 does not match the copy stored with 32";
  rk_attr_record as_stored = long_one;
  as_stored.length = 32;
  EXPECT_EQ(define(as_stored), 4u);

  // A refused record in a batch leaves the others to be defined.
  const rk_attr_record batch[] = {blank(3), named("TRIP"), record("TRIP", -4)};
  uint32_t bits[3] = {7, 7, 7};
  EXPECT_EQ(rk_define_attr(kMe, 3, batch, bits), -1);
  EXPECT_EQ(rk_errno(kMe), kErrRange);
  EXPECT_EQ(bits[0], 0u);
  EXPECT_EQ(bits[1], 16u);
  EXPECT_EQ(bits[2], 0u);
  EXPECT_EQ(used_slots(), 5);
}

TEST_F(AttributesTest, AFullTableEndsTheBatchAtTheFirstNewRecord) {
  for (int n = 0; n < kAttrSlots; ++n) {
    EXPECT_EQ(define(named(("A" + std::to_string(n)).c_str())), 1u << n);
  }
  const rk_attr_record batch[] = {named("A31"), named("NEW"), named("A0")};
  uint32_t bits[3] = {7, 7, 7};
  EXPECT_EQ(rk_define_attr(kMe, 3, batch, bits), -1);
  EXPECT_EQ(rk_errno(kMe), kErrAttrFull);
  EXPECT_EQ(bits[0], 1u << 31);
  EXPECT_EQ(bits[1], 7u);
  EXPECT_EQ(bits[2], 7u) << "not processed";
}

TEST_F(AttributesTest, NamesAndBitsAreLookedUpByLowestBitAndByLengthAndBytes) {
  define(named("LOW"));
  define(named("HIGH"));
  define(named("TRIP"));
  const uint32_t bits[] = {2, 0, 8, 6};
  rk_attr_record out[4];
  memset(out, 'u', sizeof out);
  EXPECT_EQ(rk_get_attr_name(kMe, 4, out, bits), -1);
  EXPECT_EQ(rk_errno(kMe), kErrAttrBit0);
  EXPECT_EQ(std::string(out[0].name, 4), "HIGH");
  EXPECT_EQ(out[1].name[0], 'u') << "left alone";
  EXPECT_EQ(val(out[2].length), 0) << "slot 3, unused, copied as it is";
  EXPECT_EQ(std::string(out[3].name, 4), "HIGH") << "6 is slot 1";

  const struct {
    const char* name;
    rk_attr_record r;
    uint32_t bit;
  } cases[] = {
      {"exact", named("TRIP"), 4},
      {"bytes past the length ignored", record("TRIPWIRE", 4), 4},
      {"shorter length", record("TRIP", 3), 0},
      {"longer than a name", record("TRIP", 33), 0},
      {"negative", record("TRIP", -4), 0},
      {"length 0 finds the first unused slot", record("x", 0), 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t bit = 7;
    EXPECT_EQ(rk_get_attr_bit(kMe, 1, &c.r, &bit), c.bit != 0 ? 0 : -1);
    EXPECT_EQ(bit, c.bit);
    if (c.bit == 0) {
      EXPECT_EQ(rk_errno(kMe), kErrNoAttr);
    }
  }
  // A miss does not stop the others.
  const rk_attr_record batch[] = {named("NONE"), named("LOW")};
  uint32_t out_bits[2] = {7, 7};
  EXPECT_EQ(rk_get_attr_bit(kMe, 2, batch, out_bits), -1);
  EXPECT_EQ(out_bits[0], 0u);
  EXPECT_EQ(out_bits[1], 1u);
}

TEST_F(AttributesTest, MasksGrowAndEachValueSetsTheHandlerOfItsLowestBit) {
  CptEntry* e = slot_entry(kgd_, kMe);
  const uint32_t six = 6;
  const rk_attr_handler counter = count_call, skipper = skip_tag;
  ASSERT_EQ(rk_set_read_mask(kMe, 1, &six, &counter), 0);
  EXPECT_EQ(val(e->read_mask), 6u);
  EXPECT_EQ(val(e->handlers[1]), 1u) << "the shared word only says that bit 1 has one";
  EXPECT_EQ(client_handler(kMe, 1), counter) << "the function is kept in this process";
  EXPECT_EQ(val(e->handlers[2]), 0u) << "only the lowest bit's";
  EXPECT_EQ(client_handler(kMe, 2), nullptr);

  const uint32_t more[] = {0x10, 0, 2};
  const rk_attr_handler hs[] = {counter, counter, skipper};
  EXPECT_EQ(rk_set_write_mask(kMe, 3, more, hs), -1);
  EXPECT_EQ(rk_errno(kMe), kErrAttrBit0);
  EXPECT_EQ(val(e->write_mask), 0x12u) << "bit 0 passed over, the rest done";
  EXPECT_EQ(val(e->read_mask), 6u);
  EXPECT_EQ(client_handler(kMe, 1), skipper) << "replaced";
  EXPECT_EQ(val(e->handlers[4]), 1u);
  EXPECT_EQ(client_handler(kMe, 4), counter);

  const uint32_t change = 0x30, none = 0;
  ASSERT_EQ(rk_set_change_mask(kMe, &change), 0);
  EXPECT_EQ(val(e->change_mask), 0x30u);
  ASSERT_EQ(rk_set_change_mask(kMe, &none), 0);
  EXPECT_EQ(val(e->change_mask), 0u) << "replaced, not grown";
}

TEST_F(AttributesTest, InstalledHandlersSeeTheClientsReadsAndWrites) {
  g_calls[0] = g_calls[1] = 0;   // the suite may be run again in one process
  const uint32_t bit = 0x10;
  const rk_attr_handler counter = count_call, skipper = skip_tag;
  ASSERT_EQ(rk_set_read_mask(kMe, 1, &bit, &counter), 0);
  ASSERT_EQ(rk_set_write_mask(kMe, 1, &bit, &counter), 0);
  const TagRef tag{kLocal, 3};
  uint32_t v = 9;
  ASSERT_EQ(rk_write(kMe, &tag, 1, &v), 0);
  EXPECT_EQ(g_calls[0], 0) << "the tag does not carry the bit yet";
  ASSERT_EQ(rk_modify_attr(kMe, &tag, 1, &bit, 0), 0);
  ASSERT_EQ(rk_write(kMe, &tag, 1, &v), 0);
  ASSERT_EQ(rk_read(kMe, &tag, 1, &v), 0);
  EXPECT_EQ(g_calls[0], 1);
  EXPECT_EQ(g_calls[1], 1);
  // A null handler leaves the bit in the mask without effect.
  const rk_attr_handler none = nullptr;
  ASSERT_EQ(rk_set_read_mask(kMe, 1, &bit, &none), 0);
  ASSERT_EQ(rk_read(kMe, &tag, 1, &v), 0);
  EXPECT_EQ(g_calls[1], 1);
  // A skipping handler keeps the value from a write, and from the reads too:
  // one handler per bit serves both masks.
  ASSERT_EQ(rk_set_write_mask(kMe, 1, &bit, &skipper), 0);
  v = 10;
  ASSERT_EQ(rk_write(kMe, &tag, 1, &v), 0);
  uint32_t seen = 0;
  ASSERT_EQ(rk_read(kMe, &tag, 1, &seen), 0);
  EXPECT_EQ(seen, 0u) << "not copied";
  make_live(0x0001, getpid());
  ASSERT_EQ(rk_read(0x0001, &tag, 1, &seen), 0) << "a client without masks";
  EXPECT_EQ(seen, 9u);
}

TEST_F(AttributesTest, ModifyAppliesItsOperationToEachWord) {
  const TagRef tag{kLocal, 1};
  const struct {
    const char* name;
    int op;
    uint32_t value;
    uint32_t word;   // after
  } steps[] = {
      {"set", 0, 0x0F, 0x0F},     {"set what is set", 0, 0x03, 0x0F}, {"clear", 1, 0x05, 0x0A},
      {"clear what is clear", 1, 0x05, 0x0A}, {"toggle", 2, 0x3C, 0x36},   {"toggle back", 2, 0x3C, 0x0A},
      {"any bit, defined or not", 0, 0x80000000u, 0x8000000Au},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    ASSERT_EQ(rk_modify_attr(kMe, &tag, 1, &s.value, s.op), 0);
    EXPECT_EQ(word(kMe, tag), s.word);
  }
  EXPECT_EQ(val(change(0, tag).change_word), 0u) << "no change bits";
  EXPECT_EQ(word(kOther, tag), 0u) << "application 1 keeps its own words";
}

TEST_F(AttributesTest, BadIndexesArePassedOverAndABadTypeEndsTheBatch) {
  const TagRef tags[] = {{kLocal, 0}, {kLocal, 8}, {kShared, 2}, {9, 0}, {kLocal, 4}};
  const uint32_t values[] = {1, 2, 4, 8, 16};
  EXPECT_EQ(rk_modify_attr(kMe, tags, 5, values, 0), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);
  uint32_t words[5] = {7, 7, 7, 7, 7};
  EXPECT_EQ(rk_query_attr(kOther, tags, 5, words), -1);
  EXPECT_EQ(rk_errno(kOther), kErrBadTag);
  EXPECT_EQ(words[0], 0u) << "application 1's own word";
  EXPECT_EQ(words[1], 7u) << "bad index: left as it was";
  EXPECT_EQ(words[2], 4u) << "the shared word, changed from application 0";
  EXPECT_EQ(words[3], 7u);
  EXPECT_EQ(words[4], 7u) << "after the bad type";
  EXPECT_EQ(word(kMe, tags[4]), 0u) << "not modified either";
}

TEST_F(AttributesTest, AWordLeftAsItWasCollectsNobody) {
  const TagRef tag{kLocal, 5};
  const uint32_t bit = 0x10;
  slot_entry(kgd_, 0x0003)->change_mask = bit;
  change(0, tag).wait_word = 1u << 3;
  ASSERT_EQ(rk_modify_attr(kMe, &tag, 1, &bit, 1), 0) << "clearing a clear bit";
  EXPECT_EQ(val(app(0)->pending_wake), 0u);
}

}  // namespace
}  // namespace rk::test
