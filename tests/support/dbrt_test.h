// A bare RTDB for the dbrt allocator: dbrt segments carved into blocks of
// chosen sizes, allocator calls that run the consistency check after every
// step, and a snapshot of all segment memory to prove that a call changed
// nothing.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/records.h"
#include "support/kernel_test.h"
#include "support/test_frame.h"

namespace rk::test {

class DbrtTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts over with an RTDB that has only the kgd segment.
  void fresh_frame();

  // Allocator calls, each followed by dbrt_check.
  Addr alloc(uint32_t bytes);
  void release(Addr payload);
  int grow(uint32_t bytes, Addr* slot);
  SegEntry* add_segment(uint32_t bytes);

  // Adds a dbrt segment whose blocks are all allocated, with these payloads
  // in address order; the last block takes what the segment has beyond the
  // others (exactly its payload in a segment sized to fit, the first one).
  // The last payload must be at least 20. Call it before freeing anything,
  // or the allocations land elsewhere. Returns the payload addresses.
  std::vector<Addr> carve(const std::vector<uint32_t>& payloads);

  static DbrtBlockHeader& header(Addr payload) { return *at<DbrtBlockHeader>(payload - sizeof(DbrtBlockHeader)); }
  static void fill(Addr payload, uint8_t byte);
  static bool all_zero(Addr start, uint32_t bytes);

  // Segment n's free list, head first, as {payload address, payload bytes}.
  std::vector<std::pair<Addr, uint32_t>> free_list(uint32_t n) const;

  // The kgd's segment counts, the segment table and every segment but the
  // kgd, byte for byte.
  std::string snapshot() const;

  TestFrame frame_;
  Kgd* kgd_ = nullptr;
};

}  // namespace rk::test
