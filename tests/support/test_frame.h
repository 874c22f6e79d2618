// A bare RTDB for testing the layers below the lifecycle: segment 0 with
// the RTDB name "PLANT", a segment table of the given capacity with entry 0
// filled, and spare room behind the table for whatever records a test
// needs. It is attached as this process's RTDB.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk::test {

struct TestFrame {
  Kgd* kgd = nullptr;
  Addr spare = 0;          // first byte behind the segment table
  uint32_t spare_bytes = 0;
};

// size 0 makes segment 0 just large enough for the table and spare_bytes.
TestFrame attach_test_frame(uint32_t maxsegs, uint32_t spare_bytes = 65536, uint16_t flags = 0,
                            uint32_t size = 0);

// Unmaps everything of the attached RTDB and forgets it.
void detach_test_frame();

}  // namespace rk::test
