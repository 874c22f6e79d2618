// The consistency checks of an RTDB: a small RTDB with every kind of shared
// structure in use passes them; each damage written straight into shared
// memory is found and named; rk_check_rtdb runs only while nobody holds the
// database lock; rkctl check reports from a process of its own.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "core/lock_queue.h"
#include "rk.h"
#include "services/rtdb_check.h"
#include "storage/dbrt_blocks.h"
#include "storage/kernel_memory.h"
#include "support/app_test.h"
#include "support/rkctl_process.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/unaligned.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kMe = 0x0000;
constexpr uint16_t kPlain = 0, kDigital = 1, kText = 2, kMailbox = 3;

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// The bytes of a field of a shared record, reached through its offset.
template <typename T>
uint8_t* field(T* record, size_t offset) {
  return reinterpret_cast<uint8_t*>(record) + offset;
}

// One damage: bytes written over shared memory, put back afterwards.
struct Patch {
  uint8_t* at;
  std::vector<uint8_t> bytes;
};

Patch word(uint8_t* at, uint32_t value) {
  Patch p{at, std::vector<uint8_t>(4)};
  memcpy(p.bytes.data(), &value, 4);
  return p;
}

Patch half(uint8_t* at, uint16_t value) {
  Patch p{at, std::vector<uint8_t>(2)};
  memcpy(p.bytes.data(), &value, 2);
  return p;
}

// PLAIN (per application), DIG (shared by both applications), TEXT and
// MBX in two applications; this process is client 0x0000 of application 0,
// with written values, a string, two queued messages, a tag list and an
// attribute; two clients of application 1 sleep in the lock/wait queue.
class RtdbCheckTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    TagRtdbTest::SetUp();
    create({type_entry("PLAIN", 0, 8, 4), type_entry("DIG", 1, 8, 2, 0),
            type_entry("TEXT", 2, 4, sizeof(rk_string_desc)), type_entry("MBX", 3, 4, sizeof(rk_message_record))},
           2, 2);
    make_live(kMe, getpid());
    const TagRef plain{kPlain, 1}, digital{kDigital, 2}, text{kText, 0};
    const uint32_t v = 7;
    ASSERT_EQ(rk_write(kMe, &plain, 1, &v), 0);
    const uint16_t on = 1;
    ASSERT_EQ(rk_write(kMe, &digital, 1, &on), 0);
    char hello[] = "hello";
    const rk_string_desc s{hello, 16, 5};
    ASSERT_EQ(rk_write(kMe, &text, 1, &s), 0);
    char data[] = "a message";
    rk_message_record m{};
    m.data = data;
    m.length = sizeof data;
    ASSERT_EQ(rk_write_mbx(kMe, TagRef{kMailbox, 1}, &m), 0);
    ASSERT_EQ(rk_write_mbx(kMe, TagRef{kMailbox, 1}, &m), 0);
    const TagRef list[] = {{kPlain, 0}, {kDigital, 2}, {kMailbox, 1}};
    ASSERT_EQ(rk_set_tag_list(kMe, "#0:0", list, 3), 0);
    rk_attr_record alarm{};
    memcpy(alarm.name, "ALARM", 5);
    alarm.length = 5;
    uint32_t bit = 0;
    ASSERT_EQ(rk_define_attr(kMe, 1, &alarm, &bit), 0);
    ASSERT_EQ(rk_modify_attr(kMe, &plain, 1, &bit, 0), 0);
    // Sleepers without a process behind them: nothing wakes them here.
    ASSERT_EQ(kmutex_take(kSelf), 0);
    enqueue(kgd_, &make_live(0x0101, getpid(), 3), kWaitEither);
    enqueue(kgd_, &make_live(0x0102, getpid(), 5), kWaitTag);
    kmutex_give(kSelf);
  }

  TypeEntry* type(uint16_t t) const { return at<TypeEntry>(kgd_->type_table) + t; }
  uint8_t* change_word(uint32_t a, TagRef ref) { return field(&change(a, ref), offsetof(ChangeEntry, change_word)); }
  uint32_t first_dbrt_segment() const {
    uint32_t n = 1;
    while (!is_dbrt(*seg_entry(kgd_, n))) ++n;
    return n;
  }
};

TEST_F(RtdbCheckTest, ASoundRtdbPassesAndEveryDamageIsNamed) {
  ASSERT_EQ(joined(rtdb_check(kgd_)), "");
  ASSERT_EQ(rk_check_rtdb(nullptr, nullptr), 0);

  const uint32_t last = kgd_->nsegs - 1;
  const uint32_t dbrt = first_dbrt_segment();
  const uint32_t digital_word = load_u32(change_word(1, TagRef{kDigital, 2}));
  StringDesc own{};
  own.buffer = seg_entry(kgd_, dbrt)->base + 8;
  own.size = 4;
  Patch in_dbrt{cell(0, TagRef{kText, 1}) + 4, std::vector<uint8_t>(sizeof own)};
  memcpy(in_dbrt.bytes.data(), &own, sizeof own);
  Patch twice{field(kgd_, offsetof(Kgd, attrs) + sizeof(AttrRecord)), std::vector<uint8_t>(sizeof(AttrRecord))};
  memcpy(twice.bytes.data(), &kgd_->attrs[0], sizeof(AttrRecord));

  const struct {
    std::string line;   // how the fault's line starts
    Patch damage;
  } cases[] = {
      {"kgd: ", word(field(kgd_, offsetof(Kgd, type_table)), kgd_->type_table + 40)},
      {"segment table: ", word(field(kgd_, offsetof(Kgd, nextra)), kgd_->nextra + 1)},
      {"segment " + std::to_string(last) + ": ", half(field(seg_entry(kgd_, last), offsetof(SegEntry, flags)), 4)},
      {"dbrt segment ", word(at<uint8_t>(seg_entry(kgd_, dbrt)->base), 0)},
      {"pool 0: ", half(field(mem_pool(kgd_, 0), offsetof(MemEntry, nused)), mem_pool(kgd_, 0)->nused + 1)},
      {"tag arrays: PLAIN app 0: ", word(field(type(kPlain), offsetof(TypeEntry, value_bytes)),
                                         type(kPlain)->value_bytes + 4)},
      {"change words: PLAIN[3] app 1: ", word(change_word(1, TagRef{kPlain, 3}), 0x80000001u)},
      {"change words: DIG[2] app 1: ", word(change_word(1, TagRef{kDigital, 2}), digital_word ^ kDigitalBit)},
      {"string TEXT[0] app 0: ", half(cell(0, TagRef{kText, 0}) + 4 + offsetof(StringDesc, length), 17)},
      {"string TEXT[1] app 0: ", in_dbrt},
      {"mailbox MBX[1] app 0: ", word(cell(0, TagRef{kMailbox, 1}) + 4 + offsetof(MsgQueue, queued_bytes), 1)},
      {"tag list 0x0000: ", half(field(&entry(kMe), offsetof(CptEntry, list_count)), 1000)},
      {"tag list 0x0001: ", word(field(&entry(0x0001), offsetof(CptEntry, list_handle)), 7)},
      {"lock queue: ", word(field(kgd_, offsetof(Kgd, queue_head)), 0)},
      {"lock queue: ", word(field(app(1), offsetof(AppBlock, queued)), 2)},
      {"lock queue: ", word(field(&entry(0x0101), offsetof(CptEntry, link)), addr_of(&entry(0x0102)))},
      {"database lock: ", word(field(kgd_, offsetof(Kgd, lock_holder)), addr_of(&entry(0x0105)))},
      {"attribute table: slot 1: ", twice},
  };
  for (const auto& c : cases) {
    const Patch& d = c.damage;
    std::vector<uint8_t> before(d.at, d.at + d.bytes.size());
    memcpy(d.at, d.bytes.data(), d.bytes.size());
    const std::vector<std::string> lines = rtdb_check(kgd_);
    memcpy(d.at, before.data(), before.size());
    bool named = false;
    for (const std::string& l : lines) named = named || l.rfind(c.line, 0) == 0;
    EXPECT_TRUE(named) << c.line << " not in:\n" << joined(lines);
    ASSERT_EQ(joined(rtdb_check(kgd_)), "") << "after " << c.line;
  }
}

// The check waits while another client holds the database lock, gives up
// when it stays held, and runs once it is given back.
TEST_F(RtdbCheckTest, TheCheckRunsOnlyWhileNobodyHoldsTheLock) {
  Client& holder = start(0x0003);
  ASSERT_EQ(holder.call("dblock 3"), "ok");
  EXPECT_EQ(rk_check_rtdb(nullptr, nullptr), -1);

  std::atomic<int> result{-2};
  const uint32_t takes = val(kgd_->mtx_count);
  std::thread check([&] { result = rk_check_rtdb(nullptr, nullptr); });
  // The kernel mutex counts every look the check takes at the lock.
  const uint8_t* count = field(kgd_, offsetof(Kgd, mtx_count));
  ASSERT_TRUE(await([&] { return load_u32(count) - takes >= 2; }));
  EXPECT_EQ(result.load(), -2);
  ASSERT_EQ(holder.call("dbunlock 3"), "ok");
  check.join();
  EXPECT_EQ(result.load(), 0);
}

TEST_F(RtdbCheckTest, RkctlCheckReportsASoundAndADamagedRtdb) {
  const ToolResult sound = run_rkctl({"check"});
  EXPECT_EQ(sound.code, 0) << sound.err;
  EXPECT_EQ(sound.out, "RTDB PLANT is consistent\n");

  MemEntry* pool = mem_pool(kgd_, 0);
  const uint16_t nfree = pool->nfree;
  pool->nfree = static_cast<uint16_t>(nfree + 1);
  const uint32_t head = kgd_->queue_head;
  kgd_->queue_head = 0;
  const ToolResult damaged = run_rkctl({"check", "--rtdb", "plant"});
  pool->nfree = nfree;
  kgd_->queue_head = head;
  EXPECT_EQ(damaged.code, 1) << damaged.err;
  EXPECT_EQ(damaged.out.rfind("pool 0: ", 0), 0u) << damaged.out;
  EXPECT_NE(damaged.out.find("\nlock queue: "), std::string::npos) << damaged.out;

  const ToolResult none = run_rkctl({"check", "--rtdb", "NOSUCH"});
  EXPECT_EQ(none.code, 2);
  EXPECT_EQ(none.err, "rkctl: no RTDB named NOSUCH\n");
}

}  // namespace
}  // namespace rk::test
