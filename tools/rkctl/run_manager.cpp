#include "tools/rkctl/run_manager.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "rk.h"
#include "tools/rkctl/command_check.h"
#include "tools/rkctl/control.h"
#include "tools/rkctl/dumps.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/plant.h"
#include "tools/rkctl/run_log.h"
#include "tools/rkctl/service_notify.h"
#include "tools/rkctl/supervisor.h"

namespace rkctl {

namespace {

void copy(char* dst, size_t cap, const std::string& s) {
  strncpy(dst, s.c_str(), cap - 1);
  dst[cap - 1] = '\0';
}

// The slot template of an instance: slot 0 for the run manager, then one
// configured slot per client.
std::unique_ptr<rk_cpt_entry[]> slot_template(const PlantInstance& in) {
  auto slots = std::make_unique<rk_cpt_entry[]>(31);
  memset(slots.get(), 0, sizeof(rk_cpt_entry) * 31);
  copy(slots[0].name, sizeof slots[0].name, "RKCTL");
  copy(slots[0].desc, sizeof slots[0].desc, "run manager");
  slots[0].stat = 1;
  for (size_t i = 0; i < in.clients.size(); ++i) {
    rk_cpt_entry& e = slots[i + 1];
    const PlantClient& c = in.clients[i];
    copy(e.name, sizeof e.name, c.task);
    copy(e.desc, sizeof e.desc, c.desc);
    copy(e.cmdline, sizeof e.cmdline, c.command_text);
    e.prty = c.priority;
    e.stat = 1;
  }
  return slots;
}

// What the run has brought up, taken down in reverse on every way out.
class Run {
 public:
  explicit Run(const Plant& p) : p_(p) {}
  ~Run() { take_down(); }

  void create() {
    std::vector<rk_kusr> kusrs(p_.domains.size());
    for (size_t i = 0; i < kusrs.size(); ++i) {
      memset(&kusrs[i], 0, sizeof kusrs[i]);
      copy(kusrs[i].name, sizeof kusrs[i].name, p_.domains[i].name);
      copy(kusrs[i].text, sizeof kusrs[i].text, p_.domains[i].text);
      kusrs[i].instances = p_.domains[i].instances;
    }
    std::vector<rk_type_entry> types(p_.types.size());
    for (size_t i = 0; i < types.size(); ++i) {
      const PlantType& t = p_.types[i];
      rk_type_entry& e = types[i];
      memset(&e, 0, sizeof e);
      e.stat = static_cast<uint16_t>(t.kind);
      e.max = t.count;
      e.usiz = table_usiz(t.kind, t.size);
      e.type_class = static_cast<uint16_t>(t.type_class);
      e.per_app = t.per_app ? 1 : 0;
      memcpy(e.name, t.name.data(), std::min(t.name.size(), sizeof e.name));
    }
    const int r = rk_create_rtdb(p_.program_dir.c_str(), p_.app_dir.c_str(), p_.name.c_str(), kusrs.data(),
                                 static_cast<uint32_t>(kusrs.size()), types.data(),
                                 static_cast<uint32_t>(types.size()), p_.segments, p_.memories, p_.world ? 4 : 0);
    if (r < 0) throw Failure("rkctl run: cannot create RTDB " + p_.name + ": " + rk_strerror(r) + " (" +
                             std::to_string(r) + ")");
    kgd_ = r;
  }

  void start_instances() {
    for (const PlantInstance& in : p_.instances) {
      auto slots = slot_template(in);
      // The kernel's greeting goes to our output; a plant's log keeps it.
      const int app = rk_init_app(p_.name.c_str(), in.domain.c_str(), in.name.c_str(), slots.get());
      if (app < 0) {
        throw Failure("rkctl run: cannot start instance " + in.domain + "/" + in.name + ": " + rk_strerror(app) +
                      " (" + std::to_string(app) + ")");
      }
      apps_.push_back(app);
      if (id_ < 0) {
        const int16_t id = rk_proc_init_app("RKCTL", "run manager", p_.name.c_str(), in.domain.c_str(),
                                            in.name.c_str());
        if (id < 0) throw Failure("rkctl run: cannot register in " + in.domain + "/" + in.name + ": " +
                                  rk_strerror(id) + " (" + std::to_string(id) + ")");
        id_ = id;
        // Requests from other terminals arrive as a signal (see control.h);
        // signal 0, accepted from registration on, would hide them.
        rk_hold_sig(static_cast<rk_client_id>(id_), 0, 1);
        rk_hold_sig(static_cast<rk_client_id>(id_), kRequestSignal, 0);
      }
    }
  }

  // Every string tag gets its text buffer of the configured size now, so
  // that a first short write does not fix its capacity.
  void reserve_strings() {
    for (size_t t = 0; t < p_.types.size(); ++t) {
      const PlantType& ty = p_.types[t];
      if (ty.kind != Kind::string) continue;
      std::vector<rk_tag_ref> refs(ty.count);
      std::vector<rk_string_desc> values(ty.count);
      for (uint16_t i = 0; i < ty.count; ++i) {
        refs[i] = rk_tag_ref{static_cast<uint16_t>(t), i};
        values[i] = rk_string_desc{nullptr, ty.size, 0};
      }
      const size_t targets = ty.per_app ? apps_.size() : 1;
      for (size_t a = 0; a < targets; ++a) {
        const rk_client_id target = static_cast<rk_client_id>(apps_[a] << 8);
        if (rk_write_app(static_cast<rk_client_id>(id_), target, refs.data(), ty.count, values.data()) != 0) {
          throw Failure("rkctl run: no room for the text buffers of type " + ty.name + " (" +
                        rk_strerror(rk_errno(static_cast<rk_client_id>(id_))) + "): raise rtdb.segments");
        }
      }
    }
  }

  // Posts the termination flag; false when nobody lives in the slot.
  bool ask_to_end(const PlantInstance& in, const PlantClient& c) {
    return rk_set_term_flag_ex(static_cast<rk_client_id>(id_), in.domain.c_str(), in.name.c_str(),
                               c.task.c_str()) == 0;
  }

  // The instances end, application 0 last, whose end deletes the RTDB.
  void take_down() {
    bool zero = false;
    for (auto a = apps_.rbegin(); a != apps_.rend(); ++a) {
      if (*a == 0) {
        zero = true;
      } else {
        rk_exit_app(static_cast<rk_client_id>(*a << 8));
      }
    }
    if (zero) rk_exit_app(0);
    if (apps_.empty() && kgd_ >= 0) rk_delete_rtdb(kgd_);
    if (kgd_ >= 0) say("RTDB %s ended", p_.name.c_str());
    apps_.clear();
    kgd_ = -1;
  }

  int kgd() const { return kgd_; }
  rk_client_id id() const { return static_cast<rk_client_id>(id_); }

 private:
  const Plant& p_;
  int kgd_ = -1;
  int id_ = -1;
  std::vector<int> apps_;
};

int signal_fd() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&set, s);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Waits up to ms on the signal descriptor. The name of an interrupt that
// came (SIGINT, SIGTERM, SIGHUP), else null; SIGCHLD only wakes.
const char* wait_signals(int sfd, int ms) {
  pollfd p{sfd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return nullptr;
  const char* why = nullptr;
  signalfd_siginfo si;
  while (read(sfd, &si, sizeof si) == sizeof si) {
    if (si.ssi_signo != SIGCHLD) why = strsignal(static_cast<int>(si.ssi_signo));
  }
  return why;
}

// How often the run manager looks for requests from other terminals: the
// kernel has no descriptor to wait on, and a look costs one call.
constexpr int kRequestPollMs = 100;

// The requests of other terminals: each live slot of application 0 whose
// description holds one is served once, and answered when done.
class Requests {
 public:
  Requests(rk_client_id id, Supervisor& clients) : id_(id), clients_(clients) {}

  // True when the plant is to be stopped (the run manager's own
  // termination flag); serves the requests that wait.
  bool serve() {
    if (rk_test_term_flag(id_) == 1) return true;
    bool asked = false;
    for (int sig; (sig = rk_recv_sig(id_)) >= 0;) {
      if (sig == 1) return true;
      asked = asked || sig == kRequestSignal;
    }
    if (asked) scan();
    return false;
  }

 private:
  void scan() {
    auto p = std::make_unique<rk_cpt_entry>();
    for (int slot = 1; slot < rk_get_nprocs(); ++slot) {
      memset(p.get(), 0, sizeof *p);
      const bool live = rk_get_proc(static_cast<rk_client_id>(slot), p.get()) == 0 && (p->stat & 2) != 0;
      const uint32_t pid = live ? p->pid : 0;
      auto served = served_.find(slot);
      if (served != served_.end() && served->second == pid) continue;
      served_.erase(slot);
      ControlRequest r;
      if (!live || !parse_request(std::string(p->desc, strnlen(p->desc, sizeof p->desc)), &r)) continue;
      served_[slot] = pid;
      const std::string asker = std::string(p->name, strnlen(p->name, sizeof p->name));
      const rk_client_id to = static_cast<rk_client_id>(slot);
      // The answer goes to the slot only while the same process holds it.
      auto answer = [this, to, pid](int sig) {
        auto now = std::make_unique<rk_cpt_entry>();
        memset(now.get(), 0, sizeof *now);
        if (rk_get_proc(to, now.get()) == 0 && (now->stat & 2) != 0 && now->pid == pid) {
          rk_send_app_sig(id_, to, sig);
        }
      };
      const std::string refused =
          clients_.request(r.what, r.domain, r.instance, r.task, [answer] { answer(kDoneSignal); });
      if (!refused.empty()) {
        say("%s %s in %s/%s, asked by %s (pid %u): refused: %s", request_word(r.what), r.task.c_str(),
            r.domain.c_str(), r.instance.c_str(), asker.c_str(), pid, refused.c_str());
        answer(refused == "the plant is stopping" ? kPlantStopping : kNoSuchClient);
      }
    }
  }

  rk_client_id id_;
  Supervisor& clients_;
  std::map<int, uint32_t> served_;   // slot -> pid of the request served there
};

}  // namespace

int run_plant(const RunOptions& o) {
  // A reader that goes away (`rkctl run plant.toml | head`) must not end
  // the run manager in the middle of its lines: it stops the plant in order.
  signal(SIGPIPE, SIG_IGN);
  const Plant plant = load_plant(o.plant_file);
  const std::string program_dir = program_dir_of(plant);
  std::vector<std::string> errors;
  check_commands(plant, program_dir, errors);
  if (!errors.empty()) {
    std::string all;
    for (const std::string& e : errors) all += (all.empty() ? "" : "\n") + e;
    throw Failure(all);
  }
  if (!o.log_file.empty()) log_to_file(o.log_file);
  const int sfd = signal_fd();
  if (sfd < 0) throw Failure(std::string("rkctl run: signalfd: ") + strerror(errno));

  Run run(plant);
  run.create();
  run.start_instances();
  run.reserve_strings();
  say("RTDB %s running (kgd %d): %zu instance(s), %zu type(s)", plant.name.c_str(), run.kgd(),
      plant.instances.size(), plant.types.size());

  Supervisor clients(plant, {"RKNAME=" + plant.name}, program_dir,
                     [&](const PlantInstance& in, const PlantClient& c) { return run.ask_to_end(in, c); });
  clients.start_all();
  notify_service("READY=1\nSTATUS=RTDB " + plant.name + " running");
  Requests requests(run.id(), clients);

  const auto end = o.for_seconds > 0
                       ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(o.for_seconds))
                       : Clock::time_point::max();
  const char* why = "end of --for";
  for (;;) {
    const Clock::time_point next = std::min(clients.tend(), end);
    if (requests.serve()) {
      why = "asked by rkctl down";
      break;
    }
    const auto now = Clock::now();
    if (now >= end) break;
    int wait_ms = kRequestPollMs;
    if (next != Clock::time_point::max()) {
      wait_ms = static_cast<int>(std::clamp<long long>(
          std::chrono::ceil<std::chrono::milliseconds>(next - now).count(), 0, kRequestPollMs));
    }
    if (const char* interrupt = wait_signals(sfd, wait_ms)) {
      why = interrupt;
      break;
    }
  }

  say("stopping (%s)", why);
  notify_service("STOPPING=1\nSTATUS=RTDB " + plant.name + " stopping");
  if (o.dump_at_stop) say_verbatim(dump_text(DumpTable::procs));
  clients.stop_all([&](int ms) { return wait_signals(sfd, ms) != nullptr; });
  run.take_down();
  close(sfd);
  return 0;
}

}  // namespace rkctl
