// A valid RTDB for testing what runs on top of the lifecycle, until the
// lifecycle exists: a test frame with `napps` active application blocks
// (every slot free), the kernel mutex history and the event-handle table
// carved from its spare room, state 1, and the kernel objects, row 0 of the
// event-handle table holding this process's handles. Attached here. With
// `memories`, a Kernel Memory Table of that many pools and a segment table
// with room for each of them.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "support/kernel_test.h"

namespace rk::test {

struct TestRtdb {
  Kgd* kgd = nullptr;
  AppBlock* apps = nullptr;

  // Makes slot id a live client of process pid, as registration would.
  CptEntry& live(uint16_t id, uint32_t pid) const;
};

TestRtdb attach_test_rtdb(uint32_t napps, uint16_t flags = 0, uint32_t memories = 0);

// Closes the handles of row 0 and the mutexes, then detaches.
void detach_test_rtdb();

// Tests on a test RTDB: detached again however the test ends.
class RtdbTest : public KernelTest {
 protected:
  void TearDown() override {
    detach_test_rtdb();
    KernelTest::TearDown();
  }
};

}  // namespace rk::test
