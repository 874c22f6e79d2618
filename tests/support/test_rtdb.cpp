#include "support/test_rtdb.h"

#include "core/attachment.h"
#include "platform/handles.h"
#include "core/kernel_objects.h"
#include "support/test_frame.h"

namespace rk::test {

namespace {
constexpr uint32_t kHistory = 500;
}

CptEntry& TestRtdb::live(uint16_t id, uint32_t pid) const {
  CptEntry& e = apps[id >> 8].cpt[id & 255];
  e.stat = kStatConfigured | kStatLive;
  e.pid = pid;
  e.id = id;
  e.own_bit = 1u << (id & 255);
  return e;
}

TestRtdb attach_test_rtdb(uint32_t napps, uint16_t flags, uint32_t memories) {
  const uint32_t events = napps * kSlots;
  const uint32_t blocks = napps * sizeof(AppBlock);
  const uint32_t history = kHistory * (sizeof(uint16_t) + sizeof(uint32_t));
  const uint32_t mem_table = memories * sizeof(MemEntry);
  const uint32_t app_data = napps * sizeof(AppData);
  TestFrame frame =
      attach_test_frame(1 + memories, blocks + history + events * events * 4 + mem_table + app_data, flags);
  Kgd* kgd = frame.kgd;
  if (kgd == nullptr) return {};
  kgd->napps = napps;
  kgd->app_blocks = frame.spare;
  kgd->hist_cap = kHistory;
  kgd->hist_ids = frame.spare + blocks;
  kgd->hist_pids = kgd->hist_ids + kHistory * sizeof(uint16_t);
  kgd->event_table = kgd->hist_pids + kHistory * sizeof(uint32_t);
  kgd->maxmems = memories;
  kgd->app_data = kgd->event_table + events * events * 4;
  if (memories != 0) kgd->mem_table = kgd->app_data + app_data;
  AppBlock* apps = at<AppBlock>(kgd->app_blocks);
  for (uint32_t a = 0; a < napps; ++a) apps[a].active = 1;
  if (!create_kernel_objects(kgd)) {
    detach_test_frame();
    return {};
  }
  kgd->state = 1;
  return TestRtdb{kgd, apps};
}

void detach_test_rtdb() {
  if (Kgd* kgd = attachment().kgd; kgd != nullptr && kgd->event_table != 0) {
    Unaligned<uint32_t>* row = event_row(kgd, 0);
    for (uint32_t c = 0; c < kgd->napps * kSlots; ++c) {
      if (const uint32_t h = load_u32(row + c); h != 0) os::close_handle(h);
    }
  }
  close_mutexes();
  detach_test_frame();
}

}  // namespace rk::test
