#include "bench_rtdb.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/attachment.h"
#include "core/client_events.h"
#include "core/client_ids.h"
#include "rk.h"

namespace rk::bench {

namespace {

struct BenchRtdb {
  BenchRtdb() {
    std::string ns = "rkbench" + std::to_string(getpid()) + "_";
    setenv("RKNAMESPACE", ns.c_str(), 1);
    rk_kusr ops{};
    memcpy(ops.name, "OPS", 4);
    ops.instances = 1;
    rk_type_entry analog{};
    analog.max = kAnalogTags;
    analog.usiz = 4;
    analog.per_app = 1;
    memcpy(analog.name, "ANALOG", 7);
    if (rk_create_rtdb("", "", "Bench", &ops, 1, &analog, 1, 0, 0, 0) < 0) abort();
    app_block(attachment().kgd, 0)->active = 1;
    open_events(&make_client(0x0000, static_cast<uint32_t>(getpid())));
  }
  ~BenchRtdb() { rk_unmap_kgd(); }
};

}  // namespace

void bench_rtdb() { static BenchRtdb rtdb; }

CptEntry& make_client(uint16_t id, uint32_t pid) {
  AppBlock* app = app_block(attachment().kgd, 0);
  CptEntry& e = app->cpt[slot_of(id)];
  e.stat = kStatConfigured | kStatLive;
  e.pid = pid;
  e.id = id;
  e.own_bit = 1u << slot_of(id);
  e.nmap = 1;   // segment 0 only: the process maps the others at its first lock
  app->registered |= e.own_bit;
  return e;
}

}  // namespace rk::bench
