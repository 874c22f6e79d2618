// The table dumps: their exact text for a small RTDB, the largest text each
// can write (RK_DUMP_*_MAX) against rows at their widest and counts that
// say more than the tables hold, a monitoring process that only attaches
// to a busy RTDB, and what a process that never attached gets from the
// dumps and the getters.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "rk.h"
#include "support/app_test.h"
#include "support/kernel_test.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kMe = 0x0000;

using DumpCall = int (*)(char*);

// The text a dump writes into a buffer of its largest size, followed by
// guard bytes that must stay as they were.
std::string dump(DumpCall call, size_t max) {
  constexpr size_t kGuard = 64;
  std::vector<char> text(max + kGuard, '~');
  EXPECT_EQ(call(text.data()), 0);
  for (size_t i = max; i < text.size(); ++i) {
    if (text[i] != '~') {
      ADD_FAILURE() << "written beyond " << max << " bytes";
      break;
    }
  }
  return std::string(text.data(), strnlen(text.data(), max));
}

// The lines of a text that ends every line in CR LF, each with its CR LF.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    out.push_back(text.substr(start, end + 2 - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return out;
}

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char* format, ...) {
  char buffer[256];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  return buffer;
}

const std::string kSegHeader = "Dump of Kernel Segment Table:\r\n###:   address  size  used  free\r\n";
const std::string kMemHeader = "Dump of Kernel Memory Table:\r\n###:   address #used  used #free  free\r\n";
const std::string kTypeHeader = "Dump of Kernel Data Type Table:\r\ntype:   address  stat   max  usiz  ksiz\r\n";
const std::string kProcHeader =
    "Dump of Client Process Table:\r\n"
    "id:  type  stat errno   pid   tid  prty  lock  link   req   sig name\r\n";

class TableDumpsTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    create({type_entry("PLAIN", 0, 8, 4), type_entry("DIGITAL", 1, 4, 2), type_entry("NOTAGS", 0, 0, 2)}, 2, 1);
    make_live(kMe, static_cast<uint32_t>(getpid()));
  }
};

TEST_F(TableDumpsTest, EachDumpIsItsTableLineByLine) {
  rk_mem_handle h;
  ASSERT_EQ(rk_alloc_mem(kMe, 32, &h), 0);   // 3 units of 16 bytes, header included

  std::string segs = kSegHeader;
  for (uint32_t i = 0; i < kgd_->nsegs; ++i) {
    const SegEntry s = *seg_entry(kgd_, i);
    segs += printed("%3u: x%08X %5u %5u %5u\r\n", i, s.base, s.size, s.used, s.free);
  }
  const std::string text = dump(rk_dump_segs, RK_DUMP_SEGS_MAX);
  EXPECT_EQ(text, segs);
  EXPECT_EQ(lines(text).at(2).substr(0, 15), printed("  0: x%08X ", kTestBase)) << "segment 0 is the kgd's";

  const MemEntry pool = *at<MemEntry>(kgd_->mem_table);
  EXPECT_EQ(dump(rk_dump_mems, RK_DUMP_MEMS_MAX),
            kMemHeader + printed("  0: x%08X     1    48     1 63456\r\n", pool.base));

  EXPECT_EQ(dump(rk_dump_types, RK_DUMP_TYPES_MAX), kTypeHeader +
                                                        "   0: x0000     8     4     4\r\n"
                                                        "   1: x0001     4     2     0\r\n"
                                                        "   2: x0000     0     2     2\r\n");

  // Configured slots of application 0 only, with their pending signals.
  rk_cpt_entry pump{};
  strcpy(pump.name, "PUMP");
  pump.type = 0x21;
  pump.stat = kStatConfigured;
  pump.prty = 0xA4;
  ASSERT_EQ(rk_set_proc(3, &pump), 0);
  ASSERT_EQ(rk_set_proc(0x0102, &pump), 0);
  CptEntry& me = entry(kMe);
  strcpy(me.name, "ME");
  me.errnum = -3;
  me.sig_pending = 0x2C;
  EXPECT_EQ(dump(rk_dump_procs, RK_DUMP_PROCS_MAX),
            kProcHeader + printed(" 0: x0000 x0003    -3 %5d x0000     0     0 x002C ME\r\n", getpid()) +
                " 3: x0021 x0001     0     0 x00A4     0     0 x0000 PUMP\r\n");
}

// An RTDB at the limits of its tables; rows are made as wide as their
// fields allow by writing the shared records directly.
class DumpBoundsTest : public KernelTest {
 protected:
  static constexpr uint32_t kSegments = 65535 - 400;   // a segment table of 65535 entries
  static constexpr uint32_t kPools = 65535;

  int create(uint32_t segments, uint32_t pools) {
    rk_kusr ops = kusr("OPS", 1);
    rk_type_entry plain = type_entry("PLAIN", 0, 8, 4);
    return rk_create_rtdb("", "", "PLANT", &ops, 1, &plain, 1, segments, pools, 0);
  }
  void TearDown() override {
    rk_unmap_kgd();
    KernelTest::TearDown();
  }
  Kgd* kgd() const { return attachment().kgd; }
};

TEST_F(DumpBoundsTest, CreationRefusesTablesTheDumpsCannotNumber) {
  EXPECT_EQ(create(kSegments + 1, 0), -10);
  EXPECT_EQ(create(0, kPools + 1), -10);
  EXPECT_EQ(kgd(), nullptr);
  EXPECT_EQ(create(kSegments, kPools), 0);
}

TEST_F(DumpBoundsTest, RowsAtTheirWidestFitTheirBudget) {
  ASSERT_EQ(create(kSegments, kPools), 0);
  Kgd* k = kgd();

  // Every entry beyond the real segments at its widest, and a count that
  // says more than the table holds.
  const uint32_t nsegs = k->nsegs;
  for (uint32_t i = nsegs; i < k->maxsegs; ++i) *seg_entry(k, i) = SegEntry{~0u, ~0u, ~0u, ~0u, 0, 0};
  k->nsegs = 70000;
  std::string text = dump(rk_dump_segs, RK_DUMP_SEGS_MAX);
  k->nsegs = nsegs;
  for (uint32_t i = nsegs; i < k->maxsegs; ++i) *seg_entry(k, i) = SegEntry{};
  std::vector<std::string> rows = lines(text);
  ASSERT_EQ(rows.size(), 2u + 65535);
  EXPECT_EQ(rows.back(), "65534: xFFFFFFFF 4294967295 4294967295 4294967295\r\n");
  EXPECT_EQ(rows.back().size(), (RK_DUMP_SEGS_MAX - 1 - kSegHeader.size()) / 65535);

  MemEntry widest;
  memset(&widest, 0xFF, sizeof widest);
  for (uint32_t i = 0; i < kPools; ++i) at<MemEntry>(k->mem_table)[i] = widest;
  k->nmems = 70000;
  text = dump(rk_dump_mems, RK_DUMP_MEMS_MAX);
  k->nmems = 0;
  memset(at<MemEntry>(k->mem_table), 0, kPools * sizeof(MemEntry));
  rows = lines(text);
  ASSERT_EQ(rows.size(), 2u + 65535);
  EXPECT_EQ(rows.back(), "65534: xFFFFFFFF 65535 4294836225 65535 4294836225\r\n");
  EXPECT_EQ(rows.back().size(), (RK_DUMP_MEMS_MAX - 1 - kMemHeader.size()) / 65535);

  // Every row of these two is at its widest: the whole text fills the bound.
  std::vector<TypeEntry> types(at<TypeEntry>(k->type_table), at<TypeEntry>(k->type_table) + kTypeSlots);
  const uint32_t ntypes = k->ntypes;
  for (uint32_t i = 0; i < kTypeSlots; ++i) {
    TypeEntry& t = at<TypeEntry>(k->type_table)[i];
    t.stat = t.max = t.usiz = t.ksiz = 0xFFFF;
  }
  k->ntypes = 250;
  text = dump(rk_dump_types, RK_DUMP_TYPES_MAX);
  k->ntypes = ntypes;
  std::copy(types.begin(), types.end(), at<TypeEntry>(k->type_table));
  EXPECT_EQ(lines(text).back(), " 199: xFFFF 65535 65535 65535\r\n");
  EXPECT_EQ(text.size() + 1, size_t{RK_DUMP_TYPES_MAX});

  AppBlock* app = app_block(k, 0);
  for (uint32_t s = 0; s < kSlots; ++s) {
    CptEntry& e = app->cpt[s];
    e.type = e.stat = e.prty = e.lock = e.wait_state = 0xFFFF;
    e.errnum = -32768;
    e.pid = e.sig_pending = ~0u;
    memset(e.name, 'N', sizeof e.name);
  }
  text = dump(rk_dump_procs, RK_DUMP_PROCS_MAX);
  memset(app->cpt, 0, sizeof app->cpt);
  EXPECT_EQ(lines(text).back(), "30: xFFFF xFFFF -32768 4294967295 xFFFF 65535 4294967295 xFFFFFFFF " +
                                    std::string(31, 'N') + "\r\n");
  EXPECT_EQ(text.size() + 1, size_t{RK_DUMP_PROCS_MAX});
}

// A busy run of application 0: a client holding the database lock and
// one queued for it, with this process as the run manager.
class MonitorClientsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    std::vector<rk_cpt_entry> a = app_template({{1, "HOLD", 1}, {2, "WAIT", 5}, {3, "SPARE"}});
    ASSERT_EQ(rk_init_app("Plant", "OPS", "A", a.data()), 0);
  }
};

// The text of a dump made by a client process.
std::string dumped(Client& client, const std::string& which) {
  const std::string reply = client.call("dump " + which);
  if (reply.rfind("ok", 0) != 0) {
    ADD_FAILURE() << "dump " << which << ": " << reply;
    return "";
  }
  std::string text;
  for (size_t i = 3; i + 1 < reply.size(); i += 2) text += static_cast<char>(std::stoi(reply.substr(i, 2), nullptr, 16));
  return text;
}

TEST_F(MonitorClientsTest, AProcessThatOnlyAttachesReadsABusyRtdb) {
  Client& hold = client("HOLD", 1);
  ASSERT_EQ(hold.call("dblock 1"), "ok");
  ASSERT_EQ(hold.call("tagwrite 1 1 0 3 2A"), "ok");
  Client& wait = client("WAIT", 2);
  wait.send("dblock 2");
  ASSERT_TRUE(await([&] { return entry(2).wait_state == 1; }));

  Client monitor;
  ASSERT_EQ(monitor.call("mapfirst").rfind("ok 0 ", 0), 0u);
  // holder, queue head, registered, queued, then the four wait states.
  EXPECT_EQ(monitor.call("globals 0"), "ok 1 2 6 4 4 0 0 0");
  EXPECT_EQ(dumped(monitor, "procs"),
            kProcHeader + printed(" 1: x0000 x0003     0 %5d x0001     1     0 x0000 HOLD\r\n", hold.pid()) +
                printed(" 2: x0000 x0003     0 %5d x0005     0     1 x0000 WAIT\r\n", wait.pid()) +
                " 3: x0000 x0001     0     0 x0000     0     0 x0000 SPARE\r\n");
  // The other tables as this process sees them.
  EXPECT_EQ(dumped(monitor, "segs"), dump(rk_dump_segs, RK_DUMP_SEGS_MAX));
  EXPECT_EQ(dumped(monitor, "mems"), dump(rk_dump_mems, RK_DUMP_MEMS_MAX));
  EXPECT_EQ(dumped(monitor, "types"), kTypeHeader + "   0: x0000    10     4     4\r\n");

  EXPECT_EQ(hold.call("dbunlock 1"), "ok");
  EXPECT_EQ(wait.reply(), "ok");
  EXPECT_EQ(monitor.call("globals 0"), "ok 2 65535 6 0 0 0 0 0");
  EXPECT_EQ(wait.call("dbunlock 2"), "ok");
}

using NeverAttachedTest = KernelTest;

TEST_F(NeverAttachedTest, DumpsWriteTheirHeadersAndGettersRefuse) {
  ASSERT_EQ(attachment().kgd, nullptr);
  struct {
    DumpCall call;
    size_t max;
    const std::string& header;
  } const dumps[] = {{rk_dump_segs, RK_DUMP_SEGS_MAX, kSegHeader},
                     {rk_dump_mems, RK_DUMP_MEMS_MAX, kMemHeader},
                     {rk_dump_types, RK_DUMP_TYPES_MAX, kTypeHeader},
                     {rk_dump_procs, RK_DUMP_PROCS_MAX, kProcHeader}};
  for (const auto& d : dumps) EXPECT_EQ(dump(d.call, d.max), d.header);

  rk_seg_record seg;
  rk_mem_record mem;
  rk_type_entry type = type_entry("PLAIN", 0, 8, 4);
  rk_cpt_entry proc{};
  rk_globals globals;
  const rk_tag_ref tag{0, 0};
  int16_t cls;
  uint16_t offset;
  const int results[] = {rk_get_version(),
                         rk_get_nsegs(),
                         rk_get_seg(0, &seg),
                         rk_get_nmems(),
                         rk_get_mem(0, &mem),
                         rk_get_ntypes(),
                         rk_get_type(0, &type),
                         rk_set_type(0, &type),
                         rk_get_proc(0, &proc),
                         rk_set_proc(0, &proc),
                         rk_get_globals(&globals),
                         rk_get_app_globals(0, &globals),
                         rk_get_tag_info(&tag, 1, &cls, &offset)};
  for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], -1) << "getter " << i;
  EXPECT_EQ(rk_get_nprocs(), 31);
}

}  // namespace
}  // namespace rk::test
