// A caller's string descriptors and message records point into the caller's
// own memory, which in a 64-bit process lies above 4 GiB: every call that
// steps through such a buffer or follows an address in it must reach the
// very bytes the caller gave, and step by the caller's own record sizes,
// whatever usiz the type table holds (here a 32-bit writer's 8 and 22 beside
// a 64-bit writer's 12 and 26). The batches mix element sizes, so an element
// stepped by the wrong size lands in its neighbour's place.
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "rk.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kPlain = 0;      // 4 bytes, 32-bit integer class
constexpr uint16_t kDigital = 1;
constexpr uint16_t kText = 2;       // usiz 8, as a 32-bit process writes it
constexpr uint16_t kWideText = 3;   // usiz 12, as a 64-bit process writes it
constexpr uint16_t kBox = 4;        // usiz 22
constexpr uint16_t kWideBox = 5;    // usiz 26
constexpr uint16_t kMe = 0x0000;

bool above_4gib(const void* p) { return (uint64_t{reinterpret_cast<uintptr_t>(p)} >> 32) != 0; }

// Text of this process's own, in a heap buffer of its own.
struct Text {
  explicit Text(const std::string& s, size_t room = 32) : bytes(std::max(room, s.size()), '\0') {
    memcpy(bytes.data(), s.data(), s.size());
    length = static_cast<uint16_t>(s.size());
  }
  char* data() { return bytes.data(); }
  std::string str(size_t n) const { return std::string(bytes.data(), n); }
  std::vector<char> bytes;
  uint16_t length;
};

rk_string_desc desc(Text& t) { return rk_string_desc{t.data(), static_cast<uint16_t>(t.bytes.size()), t.length}; }
rk_string_desc room(Text& t) { return rk_string_desc{t.data(), static_cast<uint16_t>(t.bytes.size()), 0}; }

rk_message_record message(Text& t, uint8_t mark) {
  rk_message_record r{};
  r.data = t.data();
  r.size = static_cast<uint16_t>(t.bytes.size());
  r.length = t.length;
  memset(r.caller_fields, mark, sizeof r.caller_fields);
  return r;
}

// The references and the packed elements of a batch, and where each lies.
struct Batch {
  std::vector<TagRef> refs;
  std::vector<uint8_t> bytes;
  std::vector<size_t> at;
  template <typename T>
  Batch& add(TagRef ref, const T& v) {
    refs.push_back(ref);
    at.push_back(bytes.size());
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    bytes.insert(bytes.end(), p, p + sizeof v);
    return *this;
  }
  template <typename T>
  T get(size_t i) const {
    T v;
    memcpy(&v, bytes.data() + at[i], sizeof v);
    return v;
  }
  uint32_t count() const { return static_cast<uint32_t>(refs.size()); }
};

class CallerBuffersTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    TagRtdbTest::SetUp();
    create({type_entry("PLAIN", 0, 4, 4, 1, 4), type_entry("DIGITAL", 1, 4, 2), type_entry("TEXT", 2, 4, 8, 1, 3),
            type_entry("WIDETEXT", 2, 4, 12, 1, 3), type_entry("BOX", 3, 4, 22), type_entry("WIDEBOX", 3, 4, 26)},
           1, 4);
    make_live(kMe, getpid());
    if (sizeof(void*) == 8) {
      const std::vector<char> heap(16);
      const char stack = 0;
      ASSERT_TRUE(above_4gib(heap.data()) && above_4gib(&stack)) << "the caller's memory must lie above 4 GiB";
    }
  }

  // Takes every message left in the batch's mailboxes.
  void drain() {
    for (uint16_t type : {kBox, kWideBox}) {
      for (uint16_t i = 0; i < 4; ++i) {
        rk_message_record r{};
        while (rk_read_mbx(kMe, rk_tag_ref{type, i}, &r, 0) == 0) {
        }
      }
    }
  }
};

// One batch of every kind, written by each writing call and read back by
// each reading call into buffers of the reader's own.
TEST_F(CallerBuffersTest, BatchesStepByTheCallersRecordsAndReachItsBuffers) {
  using Write = std::function<int(const Batch&)>;
  using Read = std::function<int(Batch&)>;
  uint32_t attrs[8], values[8] = {}, masks[8] = {};
  uint16_t flags[8];
  const struct {
    const char* name;
    Write write;
    Read read;
    bool peeks;   // the read only looks at a mailbox's first message
  } cases[] = {
      {"rk_write, rk_read", [](const Batch& b) { return rk_write(kMe, b.refs.data(), b.count(), b.bytes.data()); },
       [](Batch& b) { return rk_read(kMe, b.refs.data(), b.count(), b.bytes.data()); }, false},
      {"rk_forced_write, rk_read_attr",
       [](const Batch& b) { return rk_forced_write(kMe, b.refs.data(), b.count(), b.bytes.data()); },
       [&](Batch& b) { return rk_read_attr(kMe, b.refs.data(), b.count(), b.bytes.data(), attrs); }, false},
      {"rk_write_app, rk_read_no_clear",
       [](const Batch& b) { return rk_write_app(kMe, kMe, b.refs.data(), b.count(), b.bytes.data()); },
       [](Batch& b) { return rk_read_no_clear(kMe, b.refs.data(), b.count(), b.bytes.data()); }, false},
      {"rk_write_attr, rk_change_read_all",
       [&](const Batch& b) {
         return rk_write_attr(kMe, kMe, b.refs.data(), b.count(), b.bytes.data(), values, masks);
       },
       [&](Batch& b) { return rk_change_read_all(kMe, b.refs.data(), b.count(), flags, b.bytes.data()); }, true},
      {"rk_forced_write_attr, rk_read",
       [&](const Batch& b) {
         return rk_forced_write_attr(kMe, b.refs.data(), b.count(), b.bytes.data(), values, masks);
       },
       [](Batch& b) { return rk_read(kMe, b.refs.data(), b.count(), b.bytes.data()); }, false},
      {"rk_write_no_overwrite, rk_read",
       [](const Batch& b) {
         const uint8_t keep[8] = {1, 1, 1, 1, 1, 1, 1, 1};   // nothing here was changed by others
         return rk_write_no_overwrite(kMe, b.refs.data(), b.count(), b.bytes.data(), keep);
       },
       [](Batch& b) { return rk_read(kMe, b.refs.data(), b.count(), b.bytes.data()); }, false},
  };
  uint32_t round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ++round;
    const std::string tag = std::to_string(round);
    Text alpha("alpha " + tag), beta("beta " + tag), first("first " + tag), second("second! " + tag);
    const uint32_t n = 0x1000 + round;
    Batch w;
    w.add(TagRef{kPlain, 0}, n)
        .add(TagRef{kText, 1}, desc(alpha))
        .add(TagRef{kDigital, 2}, uint16_t(round % 2))
        .add(TagRef{kBox, 0}, message(first, 0xA1))
        .add(TagRef{kWideText, 3}, desc(beta))
        .add(TagRef{kWideBox, 1}, message(second, 0xB2))
        .add(TagRef{kPlain, 3}, ~n);
    // Clear everything first, so that each write is a change and the
    // non-overwriting write keeps nothing.
    for (const TagRef& r : w.refs) ASSERT_EQ(rk_clear_chng(kMe, &r, 1), 0);
    ASSERT_EQ(c.write(w), 0) << rk_errno(kMe);

    // The reader's buffers, the elements in the same places.
    Text plain_text(""), wide_text(""), first_in(""), second_in("");
    Batch r;
    r.add(TagRef{kPlain, 0}, uint32_t{0})
        .add(TagRef{kText, 1}, room(plain_text))
        .add(TagRef{kDigital, 2}, uint16_t{9})
        .add(TagRef{kBox, 0}, message(first_in, 0))
        .add(TagRef{kWideText, 3}, room(wide_text))
        .add(TagRef{kWideBox, 1}, message(second_in, 0))
        .add(TagRef{kPlain, 3}, uint32_t{0});
    ASSERT_EQ(c.read(r), 0) << rk_errno(kMe);

    EXPECT_EQ(r.get<uint32_t>(0), n);
    EXPECT_EQ(r.get<uint16_t>(2), round % 2);
    EXPECT_EQ(r.get<uint32_t>(6), ~n) << "the last element is where the caller put it";
    const struct {
      size_t i;
      Text& into;
      const Text& from;
    } texts[] = {{1, plain_text, alpha}, {4, wide_text, beta}};
    for (const auto& t : texts) {
      const auto d = r.get<rk_string_desc>(t.i);
      EXPECT_EQ(val(d.buffer), t.into.data()) << "the reader's own buffer, whole";
      EXPECT_EQ(val(d.length), t.from.length);
      EXPECT_EQ(t.into.str(d.length), t.from.str(t.from.length));
    }
    const struct {
      size_t i;
      Text& into;
      const Text& from;
      uint8_t mark;
    } messages[] = {{3, first_in, first, 0xA1}, {5, second_in, second, 0xB2}};
    for (const auto& m : messages) {
      const auto rec = r.get<rk_message_record>(m.i);
      EXPECT_EQ(val(rec.data), static_cast<void*>(m.into.data())) << "the reader's own data address, whole";
      EXPECT_EQ(val(rec.length), m.from.length);
      EXPECT_EQ(val(rec.caller_fields[13]), m.mark);
      // A peek copies no data.
      EXPECT_EQ(m.into.str(m.from.length), c.peeks ? std::string(m.from.length, '\0') : m.from.str(m.from.length));
    }
    drain();
  }
}

// The offsets rk_get_tag_info gives are the places a batch's elements take.
TEST_F(CallerBuffersTest, TagInfoOffsetsAreTheBatchsPlaces) {
  Text t("t");
  Batch b;
  b.add(TagRef{kText, 0}, desc(t))
      .add(TagRef{kBox, 0}, message(t, 0))
      .add(TagRef{kDigital, 0}, uint16_t{0})
      .add(TagRef{kWideBox, 9}, message(t, 0))   // a bad index still takes its place
      .add(TagRef{kWideText, 0}, desc(t))
      .add(TagRef{kPlain, 0}, uint32_t{0});
  std::vector<uint16_t> offsets(b.count());
  std::vector<int16_t> classes(b.count());
  EXPECT_EQ(rk_get_tag_info(b.refs.data(), b.count(), classes.data(), offsets.data()), -1);
  for (uint32_t i = 0; i < b.count(); ++i) EXPECT_EQ(offsets[i], b.at[i]) << i;
  EXPECT_EQ(classes[3], -2);
  EXPECT_EQ(classes[4], 3);
}

// The mailbox calls, the change scans and the tag lists take records and
// descriptors of the caller's, one or an array of them.
TEST_F(CallerBuffersTest, MailboxesScansAndListsReachTheCallersRecords) {
  Text one("one!"), two("second"), text("a text of the caller's");
  rk_message_record m1 = message(one, 1), m2 = message(two, 2);
  const rk_tag_ref box{kWideBox, 2};
  ASSERT_EQ(rk_write_mbx(kMe, box, &m1), 0);
  ASSERT_EQ(rk_write_app_mbx(kMe, kMe, box, &m2), 0);

  // A query steps through an array of records, keeping each one's address.
  std::vector<Text> into(3, Text(""));
  std::vector<rk_message_record> records;
  for (Text& t : into) records.push_back(message(t, 0));
  uint32_t n = 0;
  ASSERT_EQ(rk_query_mbx(kMe, box, records.data(), 0, 3, &n), 0);
  ASSERT_EQ(n, 2u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(val(records[i].data), static_cast<void*>(into[i].data())) << i;
    EXPECT_EQ(val(records[i].length), i == 0 ? 4 : i == 1 ? 6 : 0) << i;
    EXPECT_EQ(val(records[i].caller_fields[0]), i < 2 ? i + 1 : 0) << i;
  }

  // A change scan and a list scan read into the start of the caller's buffer.
  const TagRef list[] = {{kPlain, 2}, {kText, 2}, {kWideBox, 2}};
  const rk_string_desc s = desc(text);
  ASSERT_EQ(rk_write(kMe, &list[1], 1, &s), 0);
  ASSERT_EQ(rk_clear_chng(kMe, &list[0], 1), 0);
  ASSERT_EQ(rk_set_tag_list(kMe, "#0:0", list, 3), 0);
  Text got("");
  uint8_t value[sizeof(rk_message_record)];
  const rk_string_desc got_room = room(got);
  memcpy(value, &got_room, sizeof got_room);
  rk_tag_ref found{};
  uint32_t index = 0;
  ASSERT_EQ(rk_change_read_tag_list(kMe, &found, &index, value), 0);
  EXPECT_EQ(index, 1u);
  rk_string_desc d;
  memcpy(&d, value, sizeof d);
  EXPECT_EQ(val(d.buffer), got.data());
  EXPECT_EQ(got.str(d.length), text.str(text.length));

  Text peeked("");
  rk_message_record peek = message(peeked, 0);
  uint32_t position = 0;
  ASSERT_EQ(rk_change_read(kMe, list, 3, &position, &peek), 0);
  EXPECT_EQ(position, 2u);
  EXPECT_EQ(val(peek.data), static_cast<void*>(peeked.data()));
  EXPECT_EQ(val(peek.length), 4);

  // Taken from anywhere in the queue, into the caller's data.
  Text taken("");
  rk_message_record r = message(taken, 0);
  ASSERT_EQ(rk_read_app_mbx(kMe, kMe, box, &r, 1), 0);
  EXPECT_EQ(val(r.data), static_cast<void*>(taken.data()));
  EXPECT_EQ(taken.str(r.length), "second");
  ASSERT_EQ(rk_read_mbx(kMe, box, &r, 0), 0);
  EXPECT_EQ(taken.str(r.length), "one!");
}

// A move hands the write a text of its own, or the source's, as this
// process's descriptor; the reader's buffer gets the text.
TEST_F(CallerBuffersTest, MovesHandTextsThroughThisProcesssDescriptors) {
  const TagRef number{kPlain, 1}, text{kText, 0}, wide{kWideText, 0}, parsed{kPlain, 2};
  const int32_t n = -1234567;
  ASSERT_EQ(rk_write(kMe, &number, 1, &n), 0);
  ASSERT_EQ(rk_move(kMe, &number, &text), 0) << rk_errno(kMe);
  ASSERT_EQ(rk_move(kMe, &text, &wide), 0) << rk_errno(kMe);
  ASSERT_EQ(rk_move(kMe, &wide, &parsed), 0) << rk_errno(kMe);
  for (TagRef t : {text, wide}) {
    Text got("");
    rk_string_desc d = room(got);
    ASSERT_EQ(rk_read(kMe, &t, 1, &d), 0);
    EXPECT_EQ(got.str(d.length), std::string("-1234567\0", 9)) << t.type;
  }
  int32_t back = 0;
  ASSERT_EQ(rk_read(kMe, &parsed, 1, &back), 0);
  EXPECT_EQ(back, n);
}

}  // namespace
}  // namespace rk::test
