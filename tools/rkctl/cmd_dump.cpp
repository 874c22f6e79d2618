// rkctl dump: the kernel's text dumps of its four tables.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/json_out.h"

namespace rkctl {

namespace {

// The rows of the process dump, for scripts: the configured slots of
// application 0, with the fields the dump shows.
nlohmann::json procs_json() {
  nlohmann::json rows = nlohmann::json::array();
  auto p = std::make_unique<rk_cpt_entry>();
  for (int slot = 0; slot < 31; ++slot) {
    memset(p.get(), 0, sizeof *p);
    if (rk_get_proc(static_cast<rk_client_id>(slot), p.get()) != 0 || (p->stat & 1) == 0) continue;
    // Every field by value: the record is packed.
    const uint16_t type = p->type, stat = p->stat, prty = p->prty, lock = p->lock, wait_state = p->wait_state;
    const int16_t errnum = p->errnum;
    const uint32_t pid = p->pid;
    rows.push_back({{"id", slot},
                    {"name", std::string(p->name, strnlen(p->name, sizeof p->name))},
                    {"type", type},
                    {"stat", stat},
                    {"live", (stat & 2) != 0},
                    {"errno", errnum},
                    {"pid", pid},
                    {"prty", prty},
                    {"lock", lock},
                    {"wait_state", wait_state}});
  }
  return rows;
}

}  // namespace

int dump_table(const std::string& rtdb, DumpTable table, bool json) {
  Attached at(rtdb);
  if (json) {
    std::cout << json_text(procs_json()) << std::endl;
  } else {
    fputs(dump_text(table).c_str(), stdout);
  }
  return 0;
}

}  // namespace rkctl
