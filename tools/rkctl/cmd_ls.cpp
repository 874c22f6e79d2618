// rkctl ls: every RTDB on the machine, seen without registering.
#include <cstdio>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/json_out.h"
#include "tools/rkctl/rtdb_diagnosis.h"

namespace rkctl {

namespace {

struct Summary {
  std::string name;
  int index = 0;
  int apps_running = 0;
  int apps = 0;
  int clients = 0;
  int segments = 0;
  uint64_t memory_used = 0;   // bytes of kernel memory blocks in use
};

Summary summarize(int index) {
  Summary s;
  char name[16] = {0};
  rk_get_name(name, sizeof name);
  s.name = name;
  s.index = index;
  s.apps = rk_get_nkinsts();
  auto k = std::make_unique<rk_kinst_record>();
  auto proc = std::make_unique<rk_cpt_entry>();
  for (int a = 0; a < s.apps; ++a) {
    if (rk_nth_kinst(a, k.get()) != 0 || k->active != 1) continue;
    ++s.apps_running;
    for (int slot = 0; slot < 31; ++slot) {
      if (rk_get_proc(static_cast<rk_client_id>(a << 8 | slot), proc.get()) == 0 && (proc->stat & 2) != 0) {
        ++s.clients;
      }
    }
  }
  s.segments = rk_get_nsegs();
  const int pools = rk_get_nmems();
  for (int m = 0; m < pools; ++m) {
    rk_mem_record r;
    if (rk_get_mem(m, &r) == 0) s.memory_used += static_cast<uint64_t>(r.used_units) * r.unit_bytes;
  }
  return s;
}

}  // namespace

int list_rtdbs(bool json) {
  std::vector<Summary> all;
  int index = -1;
  for (int r = rk_map_firstkgd(&index); r == 0; r = rk_map_nextkgd(&index)) {
    all.push_back(summarize(index));
    rk_unmap_kgd();
  }
  // What this user cannot see is said on standard error, the list stays
  // as it is for scripts.
  const std::string unseen = diagnosis_suffix(all.empty());
  if (!unseen.empty()) fprintf(stderr, "rkctl ls: %s\n", unseen.substr(2).c_str());
  if (json) {
    nlohmann::json out = nlohmann::json::array();
    for (const Summary& s : all) {
      out.push_back({{"name", s.name},
                     {"kgd", s.index},
                     {"applications", s.apps_running},
                     {"application_blocks", s.apps},
                     {"clients", s.clients},
                     {"segments", s.segments},
                     {"kernel_memory_used", s.memory_used}});
    }
    std::cout << json_text(out) << std::endl;
    return 0;
  }
  printf("%-15s %3s %6s %7s %8s %12s\n", "RTDB", "kgd", "apps", "clients", "segments", "memory-used");
  for (const Summary& s : all) {
    printf("%-15s %3d %2d/%-3d %7d %8d %12llu\n", s.name.c_str(), s.index, s.apps_running, s.apps, s.clients,
           s.segments, static_cast<unsigned long long>(s.memory_used));
  }
  return 0;
}

}  // namespace rkctl
