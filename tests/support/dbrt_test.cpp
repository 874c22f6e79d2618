#include "support/dbrt_test.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "storage/dbrt_allocator.h"
#include "storage/dbrt_check.h"

namespace rk::test {

void DbrtTest::SetUp() {
  KernelTest::SetUp();
  fresh_frame();
}

void DbrtTest::TearDown() {
  detach_test_frame();
  KernelTest::TearDown();
}

void DbrtTest::fresh_frame() {
  detach_test_frame();
  frame_ = attach_test_frame(16);
  kgd_ = frame_.kgd;
  ASSERT_NE(kgd_, nullptr);
  kgd_->maxdbrt = kMaxDbrtSegs;
}

Addr DbrtTest::alloc(uint32_t bytes) {
  const Addr payload = dbrt_alloc(kgd_, bytes);
  EXPECT_EQ(dbrt_check(kgd_), "") << "after allocating " << bytes;
  return payload;
}

void DbrtTest::release(Addr payload) {
  dbrt_free(kgd_, payload);
  EXPECT_EQ(dbrt_check(kgd_), "") << "after freeing " << std::hex << payload;
}

int DbrtTest::grow(uint32_t bytes, Addr* slot) {
  const int result = dbrt_grow(kgd_, bytes, slot);
  EXPECT_EQ(dbrt_check(kgd_), "") << "after growing to " << bytes;
  return result;
}

SegEntry* DbrtTest::add_segment(uint32_t bytes) {
  SegEntry* seg = dbrt_add_segment(kgd_, bytes);
  EXPECT_EQ(dbrt_check(kgd_), "") << "after adding a segment for " << bytes;
  return seg;
}

std::vector<Addr> DbrtTest::carve(const std::vector<uint32_t>& payloads) {
  const uint32_t headers = static_cast<uint32_t>(payloads.size() - 1) * sizeof(DbrtBlockHeader);
  const SegEntry* seg = add_segment(std::accumulate(payloads.begin(), payloads.end(), headers));
  if (seg == nullptr) {
    ADD_FAILURE() << "no segment to carve";
    return {};
  }
  std::vector<Addr> blocks;
  for (size_t i = 0; i + 1 < payloads.size(); ++i) blocks.push_back(alloc(payloads[i]));
  // What is left is one free block; asking for 20 less takes it whole.
  const Addr rest = at<DbrtSegHeader>(seg->base)->free_head;
  blocks.push_back(alloc(at<DbrtBlockHeader>(rest)->payload_bytes - sizeof(DbrtBlockHeader)));
  for (Addr b : blocks) EXPECT_TRUE(b > seg->base && b < seg->base + seg->size) << "carved outside the segment";
  EXPECT_EQ(at<DbrtSegHeader>(seg->base)->free_head, 0u);
  return blocks;
}

void DbrtTest::fill(Addr payload, uint8_t byte) { memset(at<uint8_t>(payload), byte, header(payload).payload_bytes); }

bool DbrtTest::all_zero(Addr start, uint32_t bytes) {
  const uint8_t* p = at<uint8_t>(start);
  return std::all_of(p, p + bytes, [](uint8_t c) { return c == 0; });
}

std::vector<std::pair<Addr, uint32_t>> DbrtTest::free_list(uint32_t n) const {
  std::vector<std::pair<Addr, uint32_t>> list;
  for (Addr b = at<DbrtSegHeader>(seg_entry(kgd_, n)->base)->free_head; b != 0 && list.size() < 1000;
       b = at<DbrtBlockHeader>(b)->next_free) {
    list.emplace_back(b + sizeof(DbrtBlockHeader), val(at<DbrtBlockHeader>(b)->payload_bytes));
  }
  return list;
}

std::string DbrtTest::snapshot() const {
  // The kgd's counts from the segments in use to the dbrt limit.
  std::string bytes(reinterpret_cast<const char*>(&kgd_->nsegs), offsetof(Kgd, ntypes) - offsetof(Kgd, nsegs));
  bytes.append(at<char>(kgd_->seg_table), kgd_->nsegs * sizeof(SegEntry));
  for (uint32_t i = 1; i < kgd_->nsegs; ++i) bytes.append(at<char>(seg_entry(kgd_, i)->base), seg_entry(kgd_, i)->size);
  return bytes;
}

}  // namespace rk::test
