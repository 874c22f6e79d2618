// Introspection in one process: the getters copy the shared tables into the
// caller's records and refuse bad input without writing; rk_set_type
// describes a type slot that the layout has not placed, which every tag
// call refuses until rk_dbrt_adjust lays it out; rk_set_proc configures a
// slot without a client; rk_get_tag_info places a list's values.
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/client_ids.h"
#include "core/errors.h"
#include "core/list_blocks.h"
#include "rk.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kMe = 0x0000;
constexpr uint16_t kPlain = 0;      // 8 tags of 4 bytes, class 7; a name of all 16 bytes
constexpr uint16_t kDigital = 1;    // 4 tags, class 3
constexpr uint16_t kSpare = 2;      // no tags: a slot rk_set_type may describe
constexpr uint16_t kSpareBox = 3;   // a mailbox type without tags
constexpr uint16_t kTypes = 4;

class IntrospectionTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    rk_type_entry plain = type_entry("PLAIN", 0, 8, 4, 1, 7);
    memcpy(plain.name, "PLAIN_TAGS_16CHR", sizeof plain.name);
    create({plain, type_entry("DIGITAL", 1, 4, 2, 0, 3),
            type_entry("SPARE", 0, 0, 2), type_entry("SPAREBOX", 3, 0, 22)},
           2, 2);
    make_live(kMe, static_cast<uint32_t>(getpid()));
    copy_name(entry(kMe), "ME");
  }

  static void copy_name(CptEntry& e, const char* name) { strncpy(e.name, name, sizeof e.name); }
  TypeEntry& type(uint16_t t) const { return at<TypeEntry>(kgd_->type_table)[t]; }
  // Bytes taken from all segments so far.
  uint64_t segment_bytes_used() const {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < kgd_->nsegs; ++i) sum += seg_entry(kgd_, i)->used;
    return sum;
  }
};

template <typename T>
bool all_bytes(const T& record, uint8_t byte) {
  const auto* p = reinterpret_cast<const uint8_t*>(&record);
  for (size_t i = 0; i < sizeof record; ++i) {
    if (p[i] != byte) return false;
  }
  return true;
}

TEST_F(IntrospectionTest, GlobalsShowTheHolderTheQueueAndTheMasks) {
  Client& holder = start(1);
  ASSERT_EQ(holder.call("dblock 1"), "ok");
  Client& waiter = start(2);
  waiter.send("dblock 2");
  ASSERT_TRUE(reaches_state(entry(2), 1));

  rk_globals g;
  ASSERT_EQ(rk_get_globals(&g), 0);
  EXPECT_EQ(val(g.lock_holder), 1);
  EXPECT_EQ(val(g.queue_head), 2);
  EXPECT_EQ(val(g.registered), 0b111u);
  EXPECT_EQ(val(g.queued), 0b100u);
  EXPECT_EQ(val(g.waiting[0]), 0b100u);
  EXPECT_EQ(val(g.waiting[1]) | val(g.waiting[2]) | val(g.waiting[3]), 0u);
  EXPECT_EQ(val(g.lock_tick), val(kgd_->lock_tick));
  // The lock is the RTDB's; the masks are the application's.
  ASSERT_EQ(rk_get_app_globals(0x0100, &g), 0);
  EXPECT_EQ(val(g.lock_holder), 1);
  EXPECT_EQ(val(g.registered), 0u);
  EXPECT_EQ(val(g.queued), 0u);

  EXPECT_EQ(holder.call("dbunlock 1"), "ok");
  EXPECT_EQ(waiter.reply(), "ok");
  EXPECT_EQ(waiter.call("dbunlock 2"), "ok");
  ASSERT_EQ(rk_get_globals(&g), 0);
  EXPECT_EQ(val(g.lock_holder), 0xFFFF);
  EXPECT_EQ(val(g.queue_head), 0xFFFF);
  EXPECT_EQ(val(g.queued), 0u);
}

TEST_F(IntrospectionTest, RecordsAreTheTablesEntries) {
  rk_mem_handle h;
  ASSERT_EQ(rk_alloc_mem(kMe, 32, &h), 0);
  EXPECT_EQ(rk_get_version(), 0x705);
  EXPECT_EQ(rk_get_nprocs(), 31);

  ASSERT_EQ(rk_get_nsegs(), static_cast<int>(kgd_->nsegs));
  for (int i = 0; i < rk_get_nsegs(); ++i) {
    const SegEntry& s = *seg_entry(kgd_, static_cast<uint32_t>(i));
    rk_seg_record r;
    ASSERT_EQ(rk_get_seg(i, &r), 0) << i;
    EXPECT_EQ(val(r.base), val(s.base));
    EXPECT_EQ(val(r.size), val(s.size));
    EXPECT_EQ(val(r.used), val(s.used));
    EXPECT_EQ(val(r.free), val(s.free));
  }
  ASSERT_EQ(rk_get_nmems(), 1);
  rk_mem_record m;
  ASSERT_EQ(rk_get_mem(0, &m), 0);
  EXPECT_EQ(memcmp(&m, at<MemEntry>(kgd_->mem_table), sizeof m), 0);
  EXPECT_EQ(val(m.used_units), 3);

  ASSERT_EQ(rk_get_ntypes(), kTypes);
  for (uint16_t t = 0; t < kTypes; ++t) {
    rk_type_entry r;
    memset(&r, 0xAB, sizeof r);
    ASSERT_EQ(rk_get_type(t, &r), 0);
    const TypeEntry& k = type(t);
    EXPECT_EQ(val(r.stat), val(k.stat));
    EXPECT_EQ(val(r.max), val(k.max));
    EXPECT_EQ(val(r.usiz), val(k.usiz));
    EXPECT_EQ(val(r.ksiz), val(k.ksiz));
    EXPECT_EQ(val(r.type_class), val(k.type_class));
    EXPECT_EQ(val(r.per_app), val(k.per_app));
    EXPECT_EQ(memcmp(r.name, k.name, sizeof r.name), 0);
    EXPECT_EQ(val(r.change_bytes), 0xABABABABu) << "the array sizes are the caller's";
    EXPECT_EQ(val(r.value_bytes), 0xABABABABu);
    EXPECT_EQ(val(r.shared_values), 0xABABABABu);
  }
}

TEST_F(IntrospectionTest, ProcessRecordFillsItsFieldsOnly) {
  CptEntry& e = entry(kMe);
  memset(e.name, 'N', sizeof e.name);          // no room left for a NUL
  memset(e.modpath, 'M', sizeof e.modpath);
  e.errnum = -3;
  e.stats[kStatReadTags] = 77;
  e.env_refs[0] = 0x00050002;
  e.env_refs[1] = 9;
  e.sig_pending = 5;
  e.link = 0x1234;
  e.wait_state = 3;

  rk_cpt_entry r;
  memset(&r, 0xCD, sizeof r);
  ASSERT_EQ(rk_get_proc(kMe, &r), 0);
  EXPECT_EQ(std::string(r.name), std::string(31, 'N'));
  EXPECT_EQ(std::string(r.modpath), std::string(127, 'M'));
  EXPECT_EQ(std::string(r.desc), "");
  EXPECT_EQ(val(r.link), 0x1234u);
  EXPECT_EQ(val(r.stat), val(e.stat));
  EXPECT_EQ(val(r.wait_state), 3);
  EXPECT_EQ(val(r.errnum), -3);
  EXPECT_EQ(val(r.pid), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(val(r.id), kMe);
  EXPECT_EQ(val(r.stats[kStatReadTags]), 77u);
  EXPECT_EQ(val(r.env_refs[0]), 0x00050002u);
  // Signals, own bit, tag list, the status and message tags, the masks and
  // the handlers stay as the caller had them.
  const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
  for (size_t off : {size_t{640}, size_t{641}}) EXPECT_EQ(bytes[off], 0xCD) << off;
  for (size_t off = offsetof(CptEntry, sig_pending); off < sizeof r; ++off) {
    if (off >= offsetof(CptEntry, id) && off < offsetof(CptEntry, env_refs) + 4) continue;
    ASSERT_EQ(bytes[off], 0xCD) << off;
  }
  // A slot without a client is read all the same.
  ASSERT_EQ(rk_get_proc(5, &r), 0);
  EXPECT_EQ(val(r.stat), 0);
  e.link = 0;
  e.wait_state = 0;
}

// A type by its name: the whole name (all 16 bytes of it, too), the exact
// spelling before one that differs in case, nothing for a prefix.
TEST_F(IntrospectionTest, FindTypeByName) {
  struct Case {
    const char* name;
    int result;
  } cases[] = {
      {"PLAIN_TAGS_16CHR", kPlain}, {"DIGITAL", kDigital},     {"digital", kDigital},
      {"SpareBox", kSpareBox},      {"SPARE", kSpare},         {"DIGITA", -RK_EBADTAG},
      {"DIGITALS", -RK_EBADTAG},    {"", -RK_EBADTAG},         {"PLAIN_TAGS_16CHRX", -RK_EBADTAG},
  };
  for (const Case& c : cases) EXPECT_EQ(rk_find_type(c.name), c.result) << c.name;
  EXPECT_EQ(rk_find_type(nullptr), -RK_ENULL);
  // Two names that differ only in case: each finds its own.
  memcpy(type(kSpare).name, "digital\0\0\0\0\0\0\0\0\0", 16);
  EXPECT_EQ(rk_find_type("digital"), kSpare);
  EXPECT_EQ(rk_find_type("DIGITAL"), kDigital);
  EXPECT_EQ(rk_find_type("Digital"), kDigital);
}

TEST(FindType, NeedsAnAttachedRtdb) { EXPECT_EQ(rk_find_type("ANY"), -RK_ENORTDB); }

TEST_F(IntrospectionTest, RefusalsWriteNothing) {
  rk_seg_record seg;
  rk_mem_record mem;
  rk_type_entry type_rec;
  rk_cpt_entry proc;
  rk_globals globals;
  int16_t classes[1] = {0x5A5A};
  uint16_t offsets[1] = {0x5A5A};
  memset(&seg, 0x5A, sizeof seg);
  memset(&mem, 0x5A, sizeof mem);
  memset(&type_rec, 0x5A, sizeof type_rec);
  memset(&proc, 0x5A, sizeof proc);
  memset(&globals, 0x5A, sizeof globals);
  const int nsegs = rk_get_nsegs();
  const rk_tag_ref* no_tags = nullptr;
  struct {
    const char* what;
    std::function<int()> call;
  } const refused[] = {
      {"seg: null", [&] { return rk_get_seg(0, nullptr); }},
      {"seg: negative", [&] { return rk_get_seg(-1, &seg); }},
      {"seg: the count", [&] { return rk_get_seg(nsegs, &seg); }},
      {"mem: null", [&] { return rk_get_mem(0, nullptr); }},
      {"mem: negative", [&] { return rk_get_mem(-1, &mem); }},
      {"mem: the count (no pool yet)", [&] { return rk_get_mem(0, &mem); }},
      {"type: null", [&] { return rk_get_type(0, nullptr); }},
      {"type: negative", [&] { return rk_get_type(-1, &type_rec); }},
      {"type: the count", [&] { return rk_get_type(kTypes, &type_rec); }},
      {"set type: null", [&] { return rk_set_type(kSpare, nullptr); }},
      {"set type: negative", [&] { return rk_set_type(-1, &type_rec); }},
      {"set type: the count", [&] { return rk_set_type(kTypes, &type_rec); }},
      {"proc: null", [&] { return rk_get_proc(kMe, nullptr); }},
      {"proc: slot 31", [&] { return rk_get_proc(31, &proc); }},
      {"proc: no application 2", [&] { return rk_get_proc(0x0200, &proc); }},
      {"proc: negative application", [&] { return rk_get_proc(0x8000, &proc); }},
      {"set proc: null", [&] { return rk_set_proc(4, nullptr); }},
      {"set proc: slot 31", [&] { return rk_set_proc(31, &proc); }},
      {"set proc: live slot", [&] { return rk_set_proc(kMe, &proc); }},
      {"globals: null", [&] { return rk_get_globals(nullptr); }},
      {"globals: no application 2", [&] { return rk_get_app_globals(0x0200, &globals); }},
      {"tag info: null", [&] { return rk_get_tag_info(no_tags, 1, classes, offsets); }},
      {"dump segs: null", [&] { return rk_dump_segs(nullptr); }},
      {"dump mems: null", [&] { return rk_dump_mems(nullptr); }},
      {"dump types: null", [&] { return rk_dump_types(nullptr); }},
      {"dump procs: null", [&] { return rk_dump_procs(nullptr); }},
  };
  const CptEntry live_before = entry(kMe);
  for (const auto& r : refused) EXPECT_EQ(r.call(), -1) << r.what;
  EXPECT_TRUE(all_bytes(seg, 0x5A));
  EXPECT_TRUE(all_bytes(mem, 0x5A));
  EXPECT_TRUE(all_bytes(type_rec, 0x5A));
  EXPECT_TRUE(all_bytes(proc, 0x5A));
  EXPECT_TRUE(all_bytes(globals, 0x5A));
  EXPECT_TRUE(all_bytes(classes, 0x5A) && all_bytes(offsets, 0x5A));
  EXPECT_EQ(memcmp(&live_before, &entry(kMe), sizeof live_before), 0) << "a live slot is not configured";
  // Application 1 runs without clients: its globals are there.
  EXPECT_EQ(rk_get_app_globals(0x0100, &globals), 0);
}

TEST_F(IntrospectionTest, SetTypeChecksTheKindAndWritesKsizBack) {
  struct {
    uint16_t stat, usiz;
    int result;
    uint16_t ksiz;
  } const cases[] = {
      {0, 3, -1, 0}, {0, 0, -1, 0}, {1, 4, -1, 0}, {2, 6, -1, 0}, {3, 20, -1, 0}, {4, 2, -1, 0},
      {0, 6, 0, 6},  {1, 2, 0, 0},  {2, 8, 0, 8},  {3, 22, 0, 20},
  };
  constexpr uint16_t kMax = 6;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "stat " << c.stat << " usiz " << c.usiz);
    rk_type_entry r = type_entry("ANYNAME", c.stat, kMax, c.usiz, 1, 9);
    r.ksiz = 0xEEEE;
    const TypeEntry before = type(kSpare);
    const uint64_t used = segment_bytes_used();
    const uint32_t nsegs = kgd_->nsegs;
    ASSERT_EQ(rk_set_type(kSpare, &r), c.result);
    const TypeEntry& now = type(kSpare);
    if (c.result != 0) {
      EXPECT_EQ(memcmp(&before, &now, sizeof before), 0);
      EXPECT_EQ(val(r.ksiz), 0xEEEE);
      EXPECT_EQ(segment_bytes_used(), used);
      EXPECT_EQ(val(kgd_->nsegs), nsegs);
      continue;
    }
    EXPECT_EQ(val(r.ksiz), c.ksiz);
    EXPECT_EQ(val(now.stat), c.stat);
    EXPECT_EQ(val(now.max), kMax);
    EXPECT_EQ(val(now.usiz), c.usiz);
    EXPECT_EQ(val(now.ksiz), c.ksiz);
    EXPECT_EQ(val(now.type_class), 9);
    EXPECT_EQ(memcmp(now.name, "SPARE", 6), 0) << "the name stays";
    EXPECT_EQ(val(now.change_bytes), 0u) << "still not laid out";
    EXPECT_EQ(segment_bytes_used(), used + kMax * (c.ksiz + 12u)) << "the space is reserved";
    if (kgd_->nsegs != nsegs) {
      EXPECT_EQ(val(seg_entry(kgd_, kgd_->nsegs - 1)->free), 0u) << "a segment opened for it is kept whole";
    }
  }
  EXPECT_EQ(rk_get_ntypes(), kTypes);
}

TEST_F(IntrospectionTest, SetTypeIsABadTypeToEveryTagCallUntilTheLayoutPlacesIt) {
  // A laid-out type is refused and stays as it was.
  rk_type_entry r = type_entry("PLAIN", 0, 20, 4);
  const TypeEntry before = type(kPlain);
  EXPECT_EQ(rk_set_type(kPlain, &r), -1);
  EXPECT_EQ(memcmp(&before, &type(kPlain), sizeof before), 0);

  rk_type_entry spare = type_entry("", 0, 3, 4);
  ASSERT_EQ(rk_set_type(kSpare, &spare), 0);
  rk_type_entry box = type_entry("", 3, 2, 22);
  ASSERT_EQ(rk_set_type(kSpareBox, &box), 0);

  const TagRef tag{kSpare, 0};
  const TagRef mailbox{kSpareBox, 0};
  uint8_t buffer[64] = {};
  uint16_t flags[1] = {};
  uint32_t words[1] = {};
  uint32_t position = 0;
  uint32_t count = 0;
  rk_message_record message{};
  rk_tag_ref found{};
  struct {
    const char* what;
    std::function<int()> call;
  } const calls[] = {
      {"read", [&] { return rk_read(kMe, &tag, 1, buffer); }},
      {"write", [&] { return rk_write(kMe, &tag, 1, buffer); }},
      {"forced write", [&] { return rk_forced_write(kMe, &tag, 1, buffer); }},
      {"change read", [&] { return rk_change_read(kMe, &tag, 1, &position, buffer); }},
      {"change read all", [&] { return rk_change_read_all(kMe, &tag, 1, flags, buffer); }},
      {"test chng", [&] { return rk_test_chng(kMe, &tag, 1, flags); }},
      {"set chng", [&] { return rk_set_chng(kMe, &tag, 1); }},
      {"set wait", [&] { return rk_set_wait(kMe, &tag, 1); }},
      {"query attr", [&] { return rk_query_attr(kMe, &tag, 1, words); }},
      {"modify attr", [&] { return rk_modify_attr(kMe, &tag, 1, words, 0); }},
      {"write mbx", [&] { return rk_write_mbx(kMe, mailbox, &message); }},
      {"count mbx", [&] { return rk_count_mbx(kMe, mailbox, &count); }},
      {"read mbx", [&] { return rk_read_mbx(kMe, mailbox, &message, 0); }},
      {"tag list",
       [&] {
         if (rk_set_tag_list(kMe, "ME", &tag, 1) != 0) return 1000;
         return rk_change_read_tag_list(kMe, &found, &position, buffer);
       }},
  };
  for (const auto& c : calls) {
    entry(kMe).errnum = 0;
    position = 0;
    EXPECT_EQ(c.call(), -1) << c.what;
    EXPECT_EQ(rk_errno(kMe), kErrBadTag) << c.what;
  }
  // A bad type ends a batch: the tag after it is not written.
  const TagRef batch[] = {{kPlain, 0}, tag, {kPlain, 1}};
  const uint32_t values[] = {11, 22, 33};
  EXPECT_EQ(rk_write(kMe, batch, 3, values), -1);
  uint32_t read_back[2] = {};
  const TagRef plain[] = {{kPlain, 0}, {kPlain, 1}};
  ASSERT_EQ(rk_read(kMe, plain, 2, read_back), 0);
  EXPECT_EQ(read_back[0], 11u);
  EXPECT_EQ(read_back[1], 0u);

  // The layout build places the arrays for the max that was set.
  std::vector<rk_type_entry> table(kTypes, rk_type_entry{});
  for (uint16_t t = 0; t < kTypes; ++t) ASSERT_EQ(rk_get_type(t, &table[t]), 0);
  ASSERT_EQ(rk_dbrt_adjust(kMe, table.data(), kTypes), 0) << rk_errno(kMe);
  EXPECT_EQ(val(type(kSpare).change_bytes), 3u * 8);
  const uint32_t value = 0xC0FFEE;
  EXPECT_EQ(rk_write(kMe, &tag, 1, &value), 0);
  uint32_t got = 0;
  EXPECT_EQ(rk_read(kMe, &tag, 1, &got), 0);
  EXPECT_EQ(got, value);
  EXPECT_EQ(rk_write_mbx(kMe, mailbox, &message), 0);
  EXPECT_EQ(rk_count_mbx(kMe, mailbox, &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(rk_dbrt_adjust(kMe, table.data(), kTypes), -1);
  EXPECT_EQ(rk_errno(kMe), kErrNothingToDo);
}

TEST_F(IntrospectionTest, ArraysOfAFailedBuildAreNotReachedThroughASetMax) {
  // A build that ran out of space keeps the arrays it placed, for the max it
  // wanted, while the type keeps its old max: here the spare type's pairs
  // name arrays of 8 tags, and the type has none.
  for (uint32_t a = 0; a < 2; ++a) at<TagArrayPair>(app(a)->pairs)[kSpare] = at<TagArrayPair>(app(a)->pairs)[kPlain];
  rk_type_entry spare = type_entry("", 0, 1000, 4);
  ASSERT_EQ(rk_set_type(kSpare, &spare), 0);
  const TagRef far{kSpare, 500};
  const uint32_t value = 0xBAD;
  EXPECT_EQ(rk_write(kMe, &far, 1, &value), -1);
  EXPECT_EQ(rk_errno(kMe), kErrBadTag);
  for (uint32_t a = 0; a < 2; ++a) at<TagArrayPair>(app(a)->pairs)[kSpare] = TagArrayPair{0, 0};
}

TEST_F(IntrospectionTest, TagInfoPlacesEachValueInAPackedBuffer) {
  const rk_tag_ref tags[] = {{kPlain, 0},      {0xFFFF, 0}, {kPlain, 8}, {kPlain, 0xFFFF},
                             {kTypes, 0},      {kDigital, 3}};
  int16_t classes[6];
  uint16_t offsets[6];
  EXPECT_EQ(rk_get_tag_info(tags, 6, classes, offsets), -1);
  const int16_t want_classes[] = {7, -3, -2, -3, -1, 3};
  const uint16_t want_offsets[] = {0, 4, 4, 8, 12, 12};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(classes[i], want_classes[i]) << i;
    EXPECT_EQ(offsets[i], want_offsets[i]) << i;
  }
  EXPECT_EQ(rk_get_tag_info(tags, 1, classes, nullptr), 0);
  EXPECT_EQ(rk_get_tag_info(&tags[5], 1, nullptr, offsets), 0);
}

TEST_F(IntrospectionTest, SetProcConfiguresASlotWithoutAClient) {
  rk_cpt_entry r{};
  strcpy(r.name, "PUMP");
  strcpy(r.desc, "feed pump");
  r.type = 0x21;
  r.stat = kStatConfigured | kStatLive;   // only registration makes a slot live
  r.prty = 4;
  r.errnum = 5;
  r.nmap = 3;
  r.pid = 99;
  r.lock = 2;
  r.link = 0x1234;
  r.wait_state = 3;
  r.stamp = 8;
  r.sig_accepted = 0x77;
  for (int i = 0; i < kStatCount; ++i) r.stats[i] = 7;

  CptEntry& e = entry(4);
  e.sig_pending = 0x10;
  e.sig_accepted = 0;
  e.list_handle = 5;
  e.list_count = 2;
  e.errnum = 9;
  e.stats[kStatWaits] = 12;
  ASSERT_EQ(rk_set_proc(4, &r), 0);

  EXPECT_EQ(std::string(e.name), "PUMP");
  EXPECT_EQ(std::string(e.desc), "feed pump");
  EXPECT_EQ(val(e.type), 0x21);
  EXPECT_EQ(val(e.stat), kStatConfigured);
  EXPECT_EQ(val(e.prty), 4);
  EXPECT_EQ(val(e.sig_pending), 0u);
  EXPECT_EQ(val(e.sig_accepted), 3u);
  EXPECT_TRUE(list_left(&e)) << "the earlier client's list is the next client's to free";
  EXPECT_EQ(rk_errno(4), -1) << "no client lives there";
  for (const CptEntry* c : {static_cast<const CptEntry*>(&e), static_cast<const CptEntry*>(&r)}) {
    EXPECT_EQ(val(c->errnum), 0);
    EXPECT_EQ(val(c->nmap), 0);
    EXPECT_EQ(val(c->pid), 0u);
    EXPECT_EQ(val(c->lock), 0);
    EXPECT_EQ(val(c->link), 0u);
    EXPECT_EQ(val(c->wait_state), 0);
    EXPECT_EQ(val(c->stamp), 0u);
    for (int i = 0; i < kStatCount; ++i) EXPECT_EQ(val(c->stats[i]), 0u) << i;
  }
  EXPECT_EQ(val(r.sig_accepted), 0x77u) << "the masks are the slot's only";
}

}  // namespace
}  // namespace rk::test
