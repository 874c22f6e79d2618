// rkctl top: a live view of the clients of an RTDB and their rates, from the
// statistics counters of the Client Process Table. Rates are the growth of
// a counter between two samples divided by the time between them; the
// counters are 32 bits wide and wrap, so the growth is taken modulo 2^32.
// With --json each view is one JSON object, a line each until Ctrl-C.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>

#include <nlohmann/json.hpp>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/interrupts.h"
#include "tools/rkctl/json_out.h"

namespace rkctl {

namespace {

// The statistics counters, by their place in the entry.
enum Stat { kReadCalls = 1, kReadTags = 2, kWriteCalls = 3, kWriteTags = 4, kLockTicks = 6 };

struct Row {
  std::string task, instance, state;
  uint32_t pid = 0;
  uint16_t lock = 0;
  uint32_t stats[10] = {};
};

struct Sample {
  std::chrono::steady_clock::time_point at;
  std::map<int, Row> rows;   // by client id
};

const char* state_of(const rk_cpt_entry& p) {
  if ((p.stat & 2) == 0) return "idle";
  switch (p.wait_state) {
    case 0: return p.lock != 0 ? "locked" : "run";
    case 1: return "lock-wait";
    case 2: return "tag-wait";
    case 3: return "mbx-wait";
    default: return "wait";
  }
}

Sample sample() {
  Sample s;
  s.at = std::chrono::steady_clock::now();
  auto p = std::make_unique<rk_cpt_entry>();
  const int apps = rk_get_nkinsts();
  for (int a = 0; a < apps; ++a) {
    InstanceName where;
    if (!running_instance(a, &where)) continue;
    for (int slot = 0; slot < 31; ++slot) {
      const int id = a << 8 | slot;
      memset(p.get(), 0, sizeof *p);
      if (rk_get_proc(static_cast<rk_client_id>(id), p.get()) != 0 || p->name[0] == '\0') continue;
      Row r;
      r.task = std::string(p->name, strnlen(p->name, sizeof p->name));
      r.instance = where.domain + "/" + where.instance;
      r.state = state_of(*p);
      r.pid = p->pid;
      r.lock = p->lock;
      memcpy(r.stats, p->stats, sizeof r.stats);
      s.rows[id] = r;
    }
  }
  return s;
}

struct Rates {
  double reads = 0, writes = 0, tags = 0, hold = 0;   // per second; hold: share of time holding the lock
};

Rates rates(const Row& now, const Row* before, double seconds) {
  Rates r;
  if (before == nullptr || before->pid != now.pid || seconds <= 0) return r;
  auto grew = [&](Stat s) { return static_cast<double>(static_cast<uint32_t>(now.stats[s] - before->stats[s])); };
  r.reads = grew(kReadCalls) / seconds;
  r.writes = grew(kWriteCalls) / seconds;
  r.tags = (grew(kReadTags) + grew(kWriteTags)) / seconds;
  r.hold = grew(kLockTicks) / 1000.0 / seconds;
  return r;
}

nlohmann::json frame_json(const Sample& then, const Sample& now) {
  const double secs = std::chrono::duration<double>(now.at - then.at).count();
  nlohmann::json rows = nlohmann::json::array();
  for (const auto& [id, row] : now.rows) {
    auto b = then.rows.find(id);
    const Rates r = rates(row, b == then.rows.end() ? nullptr : &b->second, secs);
    rows.push_back({{"task", row.task},        {"instance", row.instance}, {"id", id},
                    {"pid", row.pid},          {"state", row.state},       {"lock_depth", row.lock},
                    {"reads_per_s", r.reads},  {"writes_per_s", r.writes}, {"tags_per_s", r.tags},
                    {"lock_hold_share", r.hold}});
  }
  return {{"time", iso_time()}, {"interval_s", secs}, {"clients", rows}};
}

void print_frame(const std::string& rtdb, const Sample& then, const Sample& now, bool clear) {
  const double secs = std::chrono::duration<double>(now.at - then.at).count();
  if (clear) printf("\033[H\033[2J");
  printf("rkctl top: RTDB %s, %zu client slot(s), rates over %.1f s\n", rtdb.c_str(), now.rows.size(), secs);
  printf("%-20s %-18s %7s %-9s %4s %9s %9s %10s %6s\n", "TASK", "INSTANCE", "PID", "STATE", "LOCK", "READS/s",
         "WRITES/s", "TAGS/s", "HOLD%");
  for (const auto& [id, row] : now.rows) {
    auto b = then.rows.find(id);
    const Rates r = rates(row, b == then.rows.end() ? nullptr : &b->second, secs);
    printf("%-20.20s %-18.18s %7u %-9s %4u %9.0f %9.0f %10.0f %6.1f\n", row.task.c_str(), row.instance.c_str(),
           row.pid, row.state.c_str(), row.lock, r.reads, r.writes, r.tags, r.hold * 100);
  }
  fflush(stdout);
}

}  // namespace

int top_view(const std::string& rtdb, bool once, bool json, double interval_s) {
  Attached at(rtdb);
  const int ms = static_cast<int>(interval_s * 1000);
  Sample before = sample();
  while (sleep_unless_interrupted(ms)) {
    char name[16];
    if (rk_get_name(name, sizeof name) != 0) throw Failure("rkctl top: the RTDB " + at.name() + " has ended");
    Sample now = sample();
    if (json) {
      // One view: an object as every --json prints one; a stream: one
      // object per line.
      nlohmann::json frame = frame_json(before, now);
      frame["rtdb"] = at.name();
      std::cout << json_text(frame, once ? 2 : -1) << std::endl;
    } else {
      print_frame(at.name(), before, now, !once && isatty(1));
    }
    if (once) break;
    before = std::move(now);
  }
  return 0;
}

}  // namespace rkctl
