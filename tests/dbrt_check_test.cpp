// The consistency check of dbrt segments finds each kind of damage.
#include "storage/dbrt_check.h"

#include <cstring>
#include <functional>

#include "core/segments.h"
#include "support/dbrt_test.h"

namespace rk::test {
namespace {

class DbrtCheckTest : public DbrtTest {};

TEST_F(DbrtCheckTest, RtdbWithoutDbrtSegmentsIsSound) {
  ASSERT_NE(new_segment(1000), 0u);
  EXPECT_EQ(dbrt_check(kgd_), "");
}

// Blocks A..E with B and D free (the list runs D, B), then one kind of damage.
TEST_F(DbrtCheckTest, EachKindOfDamageIsReported) {
  struct Layout {
    SegEntry& seg;
    DbrtSegHeader& head;
    DbrtBlockHeader &a, &b, &c, &d, &e;
    Addr block[5];   // block addresses
  };
  struct {
    const char* name;
    std::function<void(Layout&)> damage;
    const char* report;
  } cases[] = {
      {"entry keeps room for reservations", [](Layout& l) { l.seg.free = 10; }, "table entry"},
      {"segment smaller than its own headers", [](Layout& l) { l.seg.size = 20; }, "overhead"},
      {"header names another entry", [](Layout& l) { l.head.seg_entry += 22; }, "names entry"},
      {"owner is not the base", [](Layout& l) { l.c.owner += 8; }, "owner"},
      {"back link skips a block", [](Layout& l) { l.c.prev_block = l.block[0]; }, "previous block"},
      {"last block runs past the end", [](Layout& l) { l.e.payload_bytes += 2; }, "past the end"},
      {"blocks stop short of the end", [](Layout& l) { l.e.payload_bytes -= 30; }, "owner"},
      {"no room for a header after the last block", [](Layout& l) { l.e.payload_bytes -= 10; },
       "header runs past the end"},
      {"free payload not zero", [](Layout& l) { at<uint8_t>(l.block[1] + 20)[5] = 1; }, "not zero"},
      {"free list head skips a free block",
       [](Layout& l) {
         l.head.free_head = l.block[1];
         l.b.prev_free = 0;
       },
       "free links"},
      {"free list loops", [](Layout& l) { l.b.next_free = l.block[3]; }, "loops"},
      {"free list names no block", [](Layout& l) { l.d.next_free = l.block[1] + 4; }, "no block"},
      {"free list back link broken", [](Layout& l) { l.b.prev_free = 0; }, "previous free link"},
      {"allocated block with a free link", [](Layout& l) { l.a.next_free = l.block[1]; }, "free links"},
      {"two free neighbours",
       [](Layout& l) {
         // C joins the list with a zero payload, right beside B.
         memset(at<uint8_t>(l.block[2] + 20), 0, l.c.payload_bytes);
         l.c.next_free = l.block[3];
         l.d.prev_free = l.block[2];
         l.head.free_head = l.block[2];
       },
       "neighbours"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_frame();
    const std::vector<Addr> p = carve({60, 80, 100, 60, 40});
    ASSERT_EQ(p.size(), 5u);
    for (Addr a : p) fill(a, 0xA5);
    release(p[1]);
    release(p[3]);
    SegEntry& seg = *seg_entry(kgd_, 1);
    Layout l{seg, *at<DbrtSegHeader>(seg.base), header(p[0]), header(p[1]), header(p[2]), header(p[3]),
             header(p[4]), {p[0] - 20, p[1] - 20, p[2] - 20, p[3] - 20, p[4] - 20}};

    c.damage(l);

    const std::string report = dbrt_check(kgd_);
    EXPECT_EQ(report.rfind("segment 1: ", 0), 0u) << report;
    EXPECT_NE(report.find(c.report), std::string::npos) << report;
  }
}

}  // namespace
}  // namespace rk::test
