#include "tools/rkctl/run_manager.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "rk.h"
#include "tools/rkctl/dumps.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/plant.h"
#include "tools/rkctl/supervisor.h"

namespace rkctl {

namespace {

void copy(char* dst, size_t cap, const std::string& s) {
  strncpy(dst, s.c_str(), cap - 1);
  dst[cap - 1] = '\0';
}

// The directory of this executable: client programs are looked up there
// when the plant names no program directory.
std::string own_dir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  char* slash = strrchr(path, '/');
  if (slash != nullptr) *slash = '\0';
  return path;
}

std::string dir_of(const std::string& file) {
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? "." : file.substr(0, slash);
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

const char* create_error(int r) {
  switch (-r) {
    case 1: return "this process has an RTDB already";
    case 2: return "the shared memory or the kernel objects could not be made";
    case 9: return "the type table was refused";
    case 10: return "a name was refused";
    case 41: return "an RTDB of this name runs already";
    default: return "refused";
  }
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
    if (r < 0) throw Failure("rkctl run: cannot create RTDB " + p_.name + ": " + create_error(r) + " (" +
                             std::to_string(r) + ")");
    kgd_ = r;
  }

  void start_instances() {
    for (const PlantInstance& in : p_.instances) {
      auto slots = slot_template(in);
      // The kernel's greeting goes to our output; a plant's log keeps it.
      const int app = rk_init_app(p_.name.c_str(), in.domain.c_str(), in.name.c_str(), slots.get());
      if (app < 0) {
        throw Failure("rkctl run: cannot start instance " + in.domain + "/" + in.name + " (" + std::to_string(app) +
                      ")");
      }
      apps_.push_back(app);
      if (id_ < 0) {
        const int16_t id = rk_proc_init_app("RKCTL", "run manager", p_.name.c_str(), in.domain.c_str(),
                                            in.name.c_str());
        if (id < 0) throw Failure("rkctl run: cannot register in " + in.domain + "/" + in.name + " (" +
                                  std::to_string(id) + ")");
        id_ = id;
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
          throw Failure("rkctl run: no room for the text buffers of type " + ty.name + " (error " +
                        std::to_string(rk_errno(static_cast<rk_client_id>(id_))) + "): raise rtdb.segments");
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
    if (kgd_ >= 0) {
      printf("rkctl: RTDB %s ended\n", p_.name.c_str());
      fflush(stdout);
    }
    apps_.clear();
    kgd_ = -1;
  }

  int kgd() const { return kgd_; }

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

}  // namespace

int run_plant(const RunOptions& o) {
  const Plant plant = load_plant(o.plant_file);
  const int sfd = signal_fd();
  if (sfd < 0) throw Failure(std::string("rkctl run: signalfd: ") + strerror(errno));

  std::string program_dir = plant.program_dir;
  if (program_dir.empty()) {
    program_dir = own_dir();
  } else if (program_dir[0] != '/') {
    program_dir = dir_of(plant.file) + "/" + program_dir;
  }

  Run run(plant);
  run.create();
  run.start_instances();
  run.reserve_strings();
  printf("rkctl: RTDB %s running (kgd %d): %zu instance(s), %zu type(s)\n", plant.name.c_str(), run.kgd(),
         plant.instances.size(), plant.types.size());
  fflush(stdout);

  Supervisor clients(plant, {"RKNAME=" + plant.name}, program_dir);
  clients.start_all();

  const auto end = o.for_seconds > 0
                       ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(o.for_seconds))
                       : Clock::time_point::max();
  const char* why = "end of --for";
  for (;;) {
    const Clock::time_point next = std::min(clients.tend(), end);
    const auto now = Clock::now();
    if (now >= end) break;
    int wait_ms = -1;
    if (next != Clock::time_point::max()) {
      wait_ms = static_cast<int>(
          std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
    }
    pollfd p{sfd, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) continue;
    signalfd_siginfo si;
    bool stop = false;
    while (read(sfd, &si, sizeof si) == sizeof si) {
      if (si.ssi_signo != SIGCHLD) {
        stop = true;
        why = strsignal(static_cast<int>(si.ssi_signo));
      }
    }
    if (stop) break;
  }

  printf("rkctl: stopping (%s)\n", why);
  fflush(stdout);
  if (o.dump_at_stop) {
    printf("%s", dump_text(DumpTable::procs).c_str());
    fflush(stdout);
  }
  clients.stop_all([&](const PlantInstance& in, const PlantClient& c) { return run.ask_to_end(in, c); });
  run.take_down();
  close(sfd);
  return 0;
}

}  // namespace rkctl
