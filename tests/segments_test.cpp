// Segment 0 and the segments added after it: the address plan, the table
// limits and the lazy mapping of new segments by other processes.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/attachment.h"
#include "core/kernel_objects.h"
#include "core/kgd_segment.h"
#include "platform/mapping.h"
#include "platform/named_event.h"
#include "platform/named_object.h"
#include "core/segments.h"
#include "support/kernel_test.h"
#include "support/test_frame.h"

namespace rk::test {
namespace {

class SegmentsTest : public KernelTest {
 protected:
  Kgd* attach_frame(uint32_t size, uint32_t maxsegs, uint16_t flags = 0) {
    frame_ = attach_test_frame(maxsegs, 65536, flags, size);
    return frame_.kgd;
  }

  // A Client Process Table entry in the spare room of segment 0.
  Addr spare_entry(Kgd*, int n) { return frame_.spare + n * sizeof(CptEntry); }

  SegEntry& entry(uint32_t n) { return at<SegEntry>(attachment().kgd->seg_table)[n]; }

  void TearDown() override {
    detach_test_frame();
    KernelTest::TearDown();
  }

  TestFrame frame_;
};

// Maps segment 0 with RKDLLBASE set to `value` (null: unset) and checks it
// lands at `address`.
void expect_kgd_at(const char* value, uint32_t address) {
  SCOPED_TRACE(value != nullptr ? value : "unset");
  value != nullptr ? setenv("RKDLLBASE", value, 1) : unsetenv("RKDLLBASE");
  os::Handle h = 0;
  Kgd* kgd = create_kgd(4096, 0, &h);
  ASSERT_NE(kgd, nullptr);
  EXPECT_EQ(addr_of(kgd), address);
  EXPECT_EQ(val(kgd->index), 0u);
  EXPECT_EQ(val(kgd->creator_pid), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(kgd->next_free, address + 4096);
  EXPECT_TRUE(os::unmap_view(kgd));
  EXPECT_TRUE(os::close_handle(h));
}

TEST_F(SegmentsTest, KgdMapsAtTheRkdllbaseAddress) {
  char hexbase[16];
  snprintf(hexbase, sizeof hexbase, "%x", kTestBase + 0x9800000);
  expect_kgd_at(hexbase, kTestBase + 0x9800000);
}

TEST_F(SegmentsTest, KgdMapsAtTheDefaultAddressWithoutRkdllbase) {
  if (kTestBase != kDefaultBase) GTEST_SKIP() << "the default address lies in AddressSanitizer's shadow memory";
  for (const char* value : {static_cast<const char*>(nullptr), "0"}) expect_kgd_at(value, kDefaultBase);
}

TEST_F(SegmentsTest, ThirtyThirdKgdIsRefused) {
  os::Handle handles[kMaxKgds];
  Kgd* kgds[kMaxKgds];
  for (int i = 0; i < kMaxKgds; ++i) {
    // Each kgd of this process needs an address range of its own.
    char hexbase[16];
    snprintf(hexbase, sizeof hexbase, "%x", kTestBase + 0x800000 + i * 0x100000);
    setenv("RKDLLBASE", hexbase, 1);
    kgds[i] = create_kgd(4096, 0, &handles[i]);
    ASSERT_NE(kgds[i], nullptr) << i;
    EXPECT_EQ(val(kgds[i]->index), static_cast<uint32_t>(i));
  }
  char last[16];
  snprintf(last, sizeof last, "%x", kTestBase + 0x3800000);
  setenv("RKDLLBASE", last, 1);
  os::Handle h = 0;
  StdoutCapture out;
  EXPECT_EQ(create_kgd(4096, 0, &h), nullptr);
  EXPECT_EQ(out.text(), "KER: Too many applications running\n");
  for (int i = 0; i < kMaxKgds; ++i) {
    os::unmap_view(kgds[i]);
    os::close_handle(handles[i]);
  }
}

TEST_F(SegmentsTest, KgdThatCannotBeMadeIsReportedAndGone) {
  os::Handle h = 0;
  {
    StdoutCapture out;
    EXPECT_EQ(create_kgd(0, 0, &h), nullptr);
    EXPECT_EQ(out.text(), "KER: Shared memory create failed\n");
  }

  os::Handle blocker = os::mapping_create("blocker", 4096, false);
  void* taken = os::map_view(blocker, kTestBase);
  ASSERT_NE(taken, nullptr);
  StdoutCapture out;
  EXPECT_EQ(create_kgd(4096, 0, &h), nullptr);
  char expected[128];
  snprintf(expected, sizeof expected,
           "KER: Shared memory mapping failed\nKER: address range 0x%08x-0x%08x is not free in this process\n",
           kTestBase, kTestBase + 4095);
  EXPECT_EQ(out.text(), expected);
  EXPECT_EQ(open_kgd(0), nullptr) << "the failed kgd stayed behind";
  os::unmap_view(taken);
  os::close_handle(blocker);
  EXPECT_TRUE(os::object_remove("blocker"));
}

TEST_F(SegmentsTest, DeadRtdbIsRemovedByItsExactNamesOnly) {
  Client crashed;
  EXPECT_EQ(crashed.ok("kgdcreate 4096 PLANT"), 0u);
  // One application, segments 1 and 2 made, only segment 1 counted yet.
  const struct {
    uint32_t offset, value;
  } pokes[] = {{offsetof(Kgd, nsegs), 2}, {offsetof(Kgd, maxsegs), 8}, {offsetof(Kgd, napps), 1}};
  for (const auto& p : pokes) {
    char poke[48];
    snprintf(poke, sizeof poke, "poke %x %x", kTestBase + p.offset, p.value);
    crashed.ok(poke);
  }
  const std::vector<std::string> its = {"PLANT_00_SEG01", "PLANT_00_SEG02", "PLANT_CRIT_00", "PLANT_SEM_KEY_00",
                                        "PLANT_00_00_30"};
  const std::vector<std::string> others = {"PLANTX", "PLANTX_00_SEG01", "PLANT_00_SEG03", "PLANT_00_01_00"};
  for (const std::string& name : its) crashed.ok("mapcreate " + name + " 1000");
  for (const std::string& name : others) crashed.ok("mapcreate " + name + " 1000");
  crashed.kill_hard();
  EXPECT_EQ(objects_left().size(), 1 + its.size() + others.size()) << "a killed creator took names along";

  // Whoever looks at the index finds nobody holding the kgd.
  EXPECT_EQ(open_kgd(0), nullptr);
  std::vector<std::string> left = objects_left();
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected;
  for (const std::string& name : others) expected.push_back(ns_ + name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected) << "only names the dead RTDB defines go";
  for (const std::string& name : others) EXPECT_TRUE(os::object_remove(name.c_str()));
}

TEST_F(SegmentsTest, NewSegmentStartsOnTheBoundaryAboveThePrevious) {
  // A kgd ending exactly on a boundary, and one ending 4 bytes past it,
  // are both followed by a segment at the next boundary but one.
  for (uint32_t size : {0x10000u, 0x10004u}) {
    SCOPED_TRACE(size);
    Kgd* kgd = attach_frame(size, 8);
    ASSERT_NE(kgd, nullptr);
    EXPECT_EQ(new_segment(100), kTestBase + 0x20000);
    EXPECT_EQ(kgd->next_free, kTestBase + 0x20000 + 100);
    EXPECT_EQ(new_segment(0x10000), kTestBase + 0x30000);
    detach_test_frame();
  }
}

TEST_F(SegmentsTest, OddSizeIsRoundedUpToEven) {
  Kgd* kgd = attach_frame(0, 8);
  ASSERT_NE(kgd, nullptr);
  Addr base = new_segment(4097);
  ASSERT_NE(base, 0u);
  EXPECT_EQ(val(kgd->nsegs), 2u);
  EXPECT_EQ(val(entry(1).base), base);
  EXPECT_EQ(val(entry(1).size), 4098u);
  EXPECT_EQ(val(entry(1).used), 0u);
  EXPECT_EQ(val(entry(1).free), 4098u);
  EXPECT_EQ(entry(1).flags, 0u);
  struct stat st;
  ASSERT_EQ(stat(shm_file("PLANT_00_SEG01").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4098);
  at<uint8_t>(base)[4097] = 1;   // the whole rounded size is mapped
}

TEST_F(SegmentsTest, FullTableIsRefusedWithoutAMessage) {
  Kgd* kgd = attach_frame(0, 3);
  ASSERT_NE(kgd, nullptr);
  EXPECT_NE(new_segment(100), 0u);
  EXPECT_NE(new_segment(100), 0u);
  StdoutCapture out;
  EXPECT_EQ(new_segment(100), 0u);
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(val(kgd->nsegs), 3u);
  EXPECT_EQ(objects_left().size(), 3u);
}

TEST_F(SegmentsTest, OtherProcessMapsExactlyTheSegmentsAddedSince) {
  Kgd* kgd = attach_frame(0, 16);
  ASSERT_NE(kgd, nullptr);
  Addr first = new_segment(1000);
  new_segment(1000);
  CptEntry* old_client = at<CptEntry>(spare_entry(kgd, 0));
  CptEntry* new_client = at<CptEntry>(spare_entry(kgd, 1));
  char e0[16], e1[16];
  snprintf(e0, sizeof e0, "%x", spare_entry(kgd, 0));
  snprintf(e1, sizeof e1, "%x", spare_entry(kgd, 1));

  Client b;
  EXPECT_EQ(b.ok("kgdopen 0"), addr_of(kgd));
  old_client->nmap = 1;
  EXPECT_EQ(b.call(std::string("mapnew ") + e0), "ok all");
  EXPECT_EQ(old_client->nmap, 3u);
  std::string before = b.call("views");

  Addr added[3];
  for (Addr& a : added) a = new_segment(3000);
  *at<uint32_t>(added[2] + 8) = 0xfeed;
  *at<uint32_t>(first) = 0xbeef;
  EXPECT_EQ(b.call(std::string("mapnew ") + e0), "ok all");
  EXPECT_EQ(old_client->nmap, 6u);
  std::string after = b.call("views");
  // The views it had are the same ones; the three new ones are there too.
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_EQ(std::count(after.begin(), after.end(), ' '), 6) << after;
  EXPECT_EQ(after.find(" 0 "), std::string::npos) << after;
  char peek[32];
  snprintf(peek, sizeof peek, "peek %x", added[2] + 8);
  EXPECT_EQ(b.ok(peek), 0xfeedu);
  snprintf(peek, sizeof peek, "peek %x", first);
  EXPECT_EQ(b.ok(peek), 0xbeefu);

  // A newly registered client maps every segment from 1 on.
  Client c;
  c.ok("kgdopen 0");
  new_client->nmap = 1;
  EXPECT_EQ(c.call(std::string("mapnew ") + e1), "ok all");
  EXPECT_EQ(new_client->nmap, 6u);
  c.send("exit 0");
  b.send("exit 0");
  EXPECT_EQ(c.wait_exit(), 0);
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST_F(SegmentsTest, SegmentWhoseAddressIsTakenIsRetriedLater) {
  Kgd* kgd = attach_frame(0, 16);
  ASSERT_NE(kgd, nullptr);
  Addr seg1 = new_segment(1000);
  Addr seg2 = new_segment(1000);
  CptEntry* client = at<CptEntry>(spare_entry(kgd, 0));
  client->nmap = 1;
  char e0[16], where[64];
  snprintf(e0, sizeof e0, "%x", spare_entry(kgd, 0));

  Client b;
  b.ok("kgdopen 0");
  // Something of b's own already sits where segment 1 belongs.
  uint32_t blocker = b.ok("mapcreate blocker 1000");
  snprintf(where, sizeof where, "view %u %x", blocker, seg1);
  b.ok(where);
  EXPECT_EQ(b.call(std::string("mapnew ") + e0), "ok missing");
  EXPECT_EQ(client->nmap, 1u) << "nmap went past a segment that is not mapped";
  std::string views = b.call("views");
  EXPECT_EQ(views.rfind("ok 0 ", 0), 0u) << views;   // segment 1 missing,
  EXPECT_NE(views.substr(5), "0 ") << views;          // segment 2 mapped

  snprintf(where, sizeof where, "unview %x", seg1);
  b.ok(where);
  EXPECT_EQ(b.call(std::string("mapnew ") + e0), "ok all");
  EXPECT_EQ(client->nmap, 3u);
  snprintf(where, sizeof where, "peek %x", seg2);
  b.ok(where);
  b.send("exit 0");
  EXPECT_EQ(b.wait_exit(), 0);
  EXPECT_TRUE(os::object_remove("blocker"));
}

TEST_F(SegmentsTest, KernelObjectsAreOneEventPerSlotAndThreeMutexes) {
  Kgd* kgd = attach_frame(0, 8, kFlagEveryone);
  ASSERT_NE(kgd, nullptr);
  kgd->napps = 2;
  kgd->event_table = spare_entry(kgd, 0);
  ASSERT_TRUE(create_kernel_objects(kgd));
  const Unaligned<uint32_t>* row = event_row(kgd, 0);
  for (uint32_t i = 0; i < 2 * kSlots; ++i) EXPECT_NE(row[i], 0u) << i;
  EXPECT_EQ(event_row(kgd, 1)[0], 0u) << "only row 0 belongs to the creator";
  for (const char* name : {"PLANT_00_00_00", "PLANT_00_01_30", "PLANT_CRIT_00", "PLANT_SEM_KEY_00",
                           "PLANT_SEM_CRIT_00"}) {
    struct stat st;
    ASSERT_EQ(stat(shm_file(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0666u) << name;
  }
  EXPECT_EQ(objects_left().size(), 1u + 62 + 3);

  // Another process sets the event that row 0 holds for client 1:30.
  Client other;
  uint32_t ev = other.ok("evopen PLANT_00_01_30");
  other.ok("evset " + std::to_string(ev));
  EXPECT_EQ(os::event_wait(row[31 + 30]), 0);
  other.ok("mtxopen PLANT_CRIT_00");

  // A process that attaches opens the three mutexes once.
  Attachment& att = attachment();
  os::Handle created[kMutexCount];
  std::copy(att.mutexes, att.mutexes + kMutexCount, created);
  open_mutexes(kgd);
  EXPECT_TRUE(std::equal(created, created + kMutexCount, att.mutexes));
  close_mutexes();
  for (os::Handle h : att.mutexes) EXPECT_EQ(h, 0u);
  // Nobody holds two of them now, but they live with the RTDB: all open again.
  open_mutexes(kgd);
  for (os::Handle h : att.mutexes) EXPECT_NE(h, 0u);
  close_mutexes();
  other.send("exit 0");
  EXPECT_EQ(other.wait_exit(), 0);
  for (uint32_t i = 0; i < 2 * kSlots; ++i) os::close_handle(row[i]);
}

TEST_F(SegmentsTest, FailedKernelObjectsLeaveNothingOpen) {
  // A name in use by something that is no object of ours is never replaced.
  ASSERT_EQ(mkdir(shm_file("PLANT_00_01_00").c_str(), 0700), 0);
  Kgd* kgd = attach_frame(0, 8);
  ASSERT_NE(kgd, nullptr);
  kgd->napps = 2;
  kgd->event_table = spare_entry(kgd, 0);
  EXPECT_FALSE(create_kernel_objects(kgd));
  for (uint32_t i = 0; i < 2 * kSlots; ++i) EXPECT_EQ(event_row(kgd, 0)[i], 0u) << i;
  for (os::Handle h : attachment().mutexes) EXPECT_EQ(h, 0u);
  // The kgd and the squatter, nothing else.
  EXPECT_EQ(objects_left().size(), 2u);
  EXPECT_EQ(rmdir(shm_file("PLANT_00_01_00").c_str()), 0);
}

}  // namespace
}  // namespace rk::test
