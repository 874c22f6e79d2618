#include "tools/rkctl/rtdb_session.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/rkctl/failure.h"
#include "tools/rkctl/interrupts.h"
#include "tools/rkctl/rtdb_diagnosis.h"

namespace rkctl {

namespace {

constexpr int16_t kNoSlot = 12;   // registration: no free slot
constexpr int16_t kInUse = 22;    // registration: a live client holds the slot
constexpr int kToolNames = 30;    // rkctl.1 .. rkctl.30: every slot but the run manager's

std::string attached_name() {
  char name[16] = {0};
  return rk_get_name(name, sizeof name) == 0 ? std::string(name) : std::string();
}

// The one RTDB when there is exactly one; RKNAME first.
std::string default_rtdb() {
  if (const char* env = getenv("RKNAME"); env != nullptr && *env != '\0') return env;
  std::vector<std::string> all = rtdb_names();
  if (all.size() == 1) return all[0];
  if (all.empty()) throw Failure("rkctl: no RTDB runs" + diagnosis_suffix(true));
  std::string list;
  for (const std::string& n : all) list += (list.empty() ? "" : ", ") + n;
  throw Failure("rkctl: several RTDBs run (" + list + "): name one with --rtdb");
}

}  // namespace

std::vector<std::string> rtdb_names() {
  std::vector<std::string> names;
  int index = -1;
  for (int r = rk_map_firstkgd(&index); r == 0; r = rk_map_nextkgd(&index)) {
    std::string n = attached_name();
    if (!n.empty()) names.push_back(n);
    rk_unmap_kgd();
  }
  return names;
}

Attached::Attached(const std::string& rtdb) {
  const std::string want = rtdb.empty() ? default_rtdb() : rtdb;
  int index = -1;
  for (int r = rk_map_firstkgd(&index); r == 0; r = rk_map_nextkgd(&index)) {
    std::string n = attached_name();
    if (!n.empty() && strcasecmp(n.c_str(), want.c_str()) == 0) {
      name_ = n;
      return;
    }
    rk_unmap_kgd();
  }
  throw Failure("rkctl: no RTDB named " + want + diagnosis_suffix(rtdb_names().empty()));
}

Attached::~Attached() { rk_unmap_kgd(); }

bool running_instance(int app, InstanceName* out) {
  auto k = std::make_unique<rk_kinst_record>();
  if (rk_nth_kinst(app, k.get()) != 0 || k->active != 1) return false;
  rk_kusr domain;
  if (rk_nth_kusr(k->kusr, &domain) != 0) return false;
  out->domain = std::string(domain.name, strnlen(domain.name, sizeof domain.name));
  out->instance = std::string(k->instance, strnlen(k->instance, sizeof k->instance));
  return true;
}

Session::Session(const Target& target, const std::string& desc) : attached_(target.rtdb) {
  if (!target.instance.empty()) {
    const size_t slash = target.instance.find('/');
    if (slash == std::string::npos) throw Failure("rkctl: --instance takes DOMAIN/INSTANCE");
    where_ = InstanceName{target.instance.substr(0, slash), target.instance.substr(slash + 1)};
  } else {
    const int apps = rk_get_nkinsts();
    int app = 0;
    while (app < apps && !running_instance(app, &where_)) ++app;
    if (app >= apps) throw Failure("rkctl: no instance of " + attached_.name() + " runs");
  }
  // The tool takes the first of a fixed set of names whose slot holds no
  // live client: a slot left behind by a killed tool is taken back by the
  // registration that names it, so killed tools never use the instance up.
  int16_t id = -kNoSlot;
  for (int n = 1; n <= kToolNames; ++n) {
    const std::string task = "rkctl." + std::to_string(n);
    id = rk_proc_init_app(task.c_str(), desc.c_str(), attached_.name().c_str(), where_.domain.c_str(),
                          where_.instance.c_str());
    if (id != -kInUse) break;
  }
  if (id < 0) {
    throw Failure("rkctl: cannot register in " + where_.domain + "/" + where_.instance + ": " +
                  (id == -5 ? std::string("no such running instance")
                            : id == -kNoSlot || id == -kInUse ? std::string("no free slot") : rk_strerror(id)));
  }
  id_ = static_cast<rk_client_id>(id);
  // A Ctrl-C posts our own termination flag, which ends any wait at once.
  on_interrupt([id = id_] { rk_set_app_term_flag(id, id); });
}

Session::~Session() {
  on_interrupt(nullptr);
  rk_proc_exit(id_);
  // Leaving keeps the slot configured under our name; a tool run each
  // second would use up the instance. Free it again.
  auto blank = std::make_unique<rk_cpt_entry>();
  memset(blank.get(), 0, sizeof *blank);
  rk_set_proc(id_, blank.get());
}

}  // namespace rkctl
