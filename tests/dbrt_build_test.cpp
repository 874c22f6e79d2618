// The tag database layout: type table checks, array placement and growth.
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/attachment.h"
#include "rk.h"
#include "storage/dbrt_build.h"
#include "storage/dbrt_check.h"
#include "support/kernel_test.h"
#include "support/test_rtdb_layouts.h"

namespace rk::test {
namespace {

class DbrtBuildTest : public KernelTest {
 protected:
  void TearDown() override {
    rk_unmap_kgd();
    KernelTest::TearDown();
  }

  // An RTDB of three applications in two domains with the given types.
  void create(std::vector<rk_type_entry> types) {
    types_ = std::move(types);
    rk_kusr kusrs[] = {kusr("OPS", 2), kusr("LAB", 1)};
    ASSERT_EQ(rk_create_rtdb("", "", "Plant", kusrs, 2, types_.data(), static_cast<uint32_t>(types_.size()), 5, 0,
                             0),
              0);
    kgd_ = attachment().kgd;
  }

  int adjust(std::vector<rk_type_entry>& types) {
    int r = dbrt_build(kgd_, types.data(), static_cast<uint32_t>(types.size()));
    EXPECT_EQ(dbrt_check(kgd_), "");
    return r;
  }

  const TypeEntry& type(uint32_t t) const { return at<TypeEntry>(kgd_->type_table)[t]; }
  TagArrayPair& pair(uint32_t app, uint32_t t) const {
    return at<TagArrayPair>(at<AppBlock>(kgd_->app_blocks)[app].pairs)[t];
  }
  const SegEntry& seg(uint32_t n) const { return at<SegEntry>(kgd_->seg_table)[n]; }

  std::vector<rk_type_entry> types_;
  Kgd* kgd_ = nullptr;
};

TEST_F(DbrtBuildTest, FirstLayoutFillsOneExactlySizedSegment) {
  create({type_entry("ANALOG", 0, 10, 8), type_entry("BINARY", 1, 33, 2), type_entry("TEXT", 2, 3, 8, 0),
          type_entry("MAIL", 3, 2, 22)});
  EXPECT_EQ(dbrt_check(kgd_), "");
  // Per application: a change and a value array of ANALOG, BINARY and MAIL
  // and a change array of TEXT; one shared value array for TEXT. Every
  // array has a 20-byte block header.
  const uint32_t per_app = (80 + 20) + (120 + 20) + (264 + 20) + (132 + 20) + (24 + 20) + (16 + 20) + (48 + 20);
  const uint32_t shared = 36 + 20;
  ASSERT_EQ(val(kgd_->nsegs), 2u);
  EXPECT_EQ(val(kgd_->ndbrt), 1u);
  EXPECT_EQ(seg(1).flags & kSegDbrt, kSegDbrt);
  EXPECT_EQ(val(seg(1).size), 3 * per_app + shared + 28);
  EXPECT_EQ(val(seg(1).used), val(seg(1).size));
  EXPECT_EQ(val(seg(1).free), 0u);

  for (uint32_t a = 0; a < 3; ++a) {
    EXPECT_EQ(pair(a, 2).value_array, type(2).shared_values) << "one shared array";
    for (uint32_t t = 0; t < 4; ++t) EXPECT_NE(pair(a, t).change_array, 0u);
  }
  EXPECT_EQ(type(0).ksiz, 8);
  EXPECT_EQ(type(1).ksiz, 0);
  EXPECT_EQ(type(2).ksiz, 8);
  EXPECT_EQ(type(3).ksiz, 20);
  EXPECT_EQ(type(3).value_bytes, 48u);
  EXPECT_EQ(type(2).shared_values != 0 && type(0).shared_values == 0, true);

  // Nothing is free: the last array took its block whole, with 20 bytes spare.
  const auto* header = at<DbrtSegHeader>(seg(1).base);
  EXPECT_EQ(header->free_head, 0u);
}

TEST_F(DbrtBuildTest, TableChecks) {
  create({type_entry("ANALOG", 0, 10, 4), type_entry("BINARY", 1, 5, 2, 0)});
  std::vector<rk_type_entry> same = types_;
  EXPECT_EQ(adjust(same), kErrNothingToDo);

  struct Case {
    const char* what;
    void (*change)(std::vector<rk_type_entry>&);
    int result;
  } cases[] = {
      {"fewer types", [](auto& t) { t.pop_back(); }, kErrIncompatible},
      {"lost tags", [](auto& t) { t[0].max = 9; }, kErrIncompatible},
      {"other kind", [](auto& t) { t[0].stat = 2; t[0].usiz = 8; }, kErrIncompatible},
      {"other size", [](auto& t) { t[0].usiz = 6; }, kErrIncompatible},
      {"other class", [](auto& t) { t[0].type_class = 5; }, kErrIncompatible},
      {"renamed", [](auto& t) { t[1].name[15] = 'x'; }, kErrIncompatible},
      {"own values instead of shared", [](auto& t) { t[1].per_app = 1; }, kErrIncompatible},
      {"plain of odd size", [](auto& t) { t.push_back(type_entry("P", 0, 1, 3)); }, kErrBadTag},
      {"plain of no size", [](auto& t) { t.push_back(type_entry("P", 0, 1, 0)); }, kErrBadTag},
      {"digital of 4", [](auto& t) { t.push_back(type_entry("D", 1, 1, 4)); }, kErrBadTag},
      {"string of 6", [](auto& t) { t.push_back(type_entry("S", 2, 1, 6)); }, kErrBadTag},
      {"message of 20", [](auto& t) { t.push_back(type_entry("M", 3, 1, 20)); }, kErrBadTag},
      {"unknown kind", [](auto& t) { t.push_back(type_entry("U", 4, 1, 2)); }, kErrBadTag},
      {"values past 4 GiB", [](auto& t) { t.push_back(type_entry("HUGE", 0, 65535, 65534)); }, kErrNoMemory},
      {"200 types", [](auto& t) { t.resize(200, type_entry("X", 0, 0, 2)); }, kErrIncompatible},
  };
  for (const Case& c : cases) {
    std::vector<rk_type_entry> t = types_;
    c.change(t);
    EXPECT_EQ(adjust(t), c.result) << c.what;
    EXPECT_EQ(val(kgd_->ntypes), 2u) << c.what;
  }
  std::vector<rk_type_entry> most = types_;
  most.resize(199, type_entry("EMPTY", 0, 0, 2));
  EXPECT_EQ(adjust(most), 0) << "199 types fit";
  EXPECT_EQ(val(kgd_->ntypes), 199u);
  EXPECT_EQ(pair(0, 198).change_array, 0u) << "a type without tags has no arrays";
}

// A string or mailbox type gives as usiz the record size of whoever wrote
// the table, a 32-bit or a 64-bit process: both are taken and kept, and a
// later table may give either; no other size is a record's.
TEST_F(DbrtBuildTest, StringsAndMailboxesTakeEitherWritersRecordSize) {
  create({type_entry("TEXT", 2, 2, 8), type_entry("WIDETEXT", 2, 2, 12), type_entry("MAIL", 3, 2, 22),
          type_entry("WIDEMAIL", 3, 2, 26)});
  const uint16_t usiz[] = {8, 12, 22, 26}, ksiz[] = {8, 8, 20, 20};
  for (uint32_t t = 0; t < 4; ++t) {
    EXPECT_EQ(val(type(t).usiz), usiz[t]) << t;
    EXPECT_EQ(val(type(t).ksiz), ksiz[t]) << t;
  }
  std::vector<rk_type_entry> grown = types_;
  std::swap(grown[0].usiz, grown[1].usiz);
  std::swap(grown[2].usiz, grown[3].usiz);
  for (auto& t : grown) t.max = 3;
  EXPECT_EQ(adjust(grown), 0) << "the other writer's sizes";
  for (uint32_t t = 0; t < 4; ++t) {
    EXPECT_EQ(val(type(t).usiz), usiz[t]) << "kept as the table had it";
    EXPECT_EQ(val(type(t).max), 3);
  }
  for (const rk_type_entry& odd : {type_entry("S", 2, 1, 10), type_entry("M", 3, 1, 24)}) {
    std::vector<rk_type_entry> t = grown;
    t.push_back(odd);
    EXPECT_EQ(adjust(t), kErrBadTag) << odd.usiz;
  }
}

TEST_F(DbrtBuildTest, GrowingATypeKeepsEveryValueAndChangeBit) {
  create({type_entry("ANALOG", 0, 10, 4), type_entry("SHARED", 0, 6, 2, 0)});
  // Mark every tag of every application with its own pattern.
  auto fill = [&](uint32_t t, uint32_t max, uint32_t cell) {
    for (uint32_t a = 0; a < 3; ++a) {
      auto* changes = at<ChangeEntry>(pair(a, t).change_array);
      auto* values = at<uint8_t>(pair(a, t).value_array);
      for (uint32_t i = 0; i < max; ++i) {
        changes[i] = ChangeEntry{0x40000000u | (a << 8) | i, a + 1};
        memset(values + i * cell, static_cast<int>(0x10 * (t + 1) + i), cell);
      }
    }
  };
  fill(0, 10, 8);
  fill(1, 6, 6);   // shared: the last application's pattern stays
  Addr old_changes = pair(1, 0).change_array;

  std::vector<rk_type_entry> more = types_;
  more[0].max = 11;
  more.push_back(type_entry("NEW", 1, 4, 2));
  ASSERT_EQ(adjust(more), 0);
  EXPECT_NE(pair(1, 0).change_array, old_changes) << "the array did move";
  EXPECT_EQ(type(0).max, 11);
  EXPECT_EQ(type(0).value_bytes, 88u);
  EXPECT_EQ(val(kgd_->ntypes), 3u);
  for (uint32_t a = 0; a < 3; ++a) {
    auto* changes = at<ChangeEntry>(pair(a, 0).change_array);
    auto* values = at<uint8_t>(pair(a, 0).value_array);
    for (uint32_t i = 0; i < 10; ++i) {
      EXPECT_EQ(changes[i].change_word, 0x40000000u | (a << 8) | i);
      EXPECT_EQ(changes[i].wait_word, a + 1);
      EXPECT_EQ(values[i * 8 + 7], 0x10 + i);
    }
    EXPECT_EQ(changes[10].change_word, 0u) << "the new tag starts clear";
    EXPECT_EQ(values[10 * 8], 0);
    EXPECT_EQ(at<uint8_t>(pair(a, 1).value_array)[5 * 6], 0x25) << "the unchanged type stays put";
    EXPECT_NE(pair(a, 2).change_array, 0u);
  }
}

TEST_F(DbrtBuildTest, AdjustRunsUnderTheCallersLock) {
  create({type_entry("ANALOG", 0, 10, 4)});
  // Client 0:0 of this process, as registration would make it.
  AppBlock& app = at<AppBlock>(kgd_->app_blocks)[0];
  app.active = 1;
  CptEntry& me = app.cpt[0];
  me.stat = kStatConfigured | kStatLive;
  me.pid = static_cast<uint32_t>(getpid());
  me.own_bit = 1;

  std::vector<rk_type_entry> t = types_;
  EXPECT_EQ(rk_dbrt_adjust(0x0005, t.data(), 1), -1) << "slot 5 has no client";
  EXPECT_EQ(rk_dbrt_adjust(0, t.data(), 1), -1);
  EXPECT_EQ(rk_errno(0), kErrNothingToDo);
  EXPECT_EQ(rk_dbrt_adjust(0, nullptr, 2), -1);
  EXPECT_EQ(rk_errno(0), kErrNullArg);
  t[0].max = 12;
  EXPECT_EQ(rk_dbrt_adjust(0, t.data(), 1), 0);
  EXPECT_EQ(type(0).max, 12);
  EXPECT_EQ(val(kgd_->lock_holder), 0u) << "the lock is given back";
  EXPECT_EQ(me.lock, 0);
}

}  // namespace
}  // namespace rk::test
