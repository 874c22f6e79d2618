// rkctl stop, start, restart and down: requests to the run manager of a
// running plant, carried by the kernel (see control.h). A client that no
// run manager supervises is only asked to end, by its termination flag.
#include <signal.h>
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/control.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/interrupts.h"
#include "tools/rkctl/mailbox_view.h"

namespace rkctl {

namespace {

constexpr int kPollMs = 20;
constexpr int kInterrupted = 130;

std::string text_of(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

struct Slot {
  std::string name, cmdline;
  bool live = false;
  uint32_t pid = 0;
};

bool read_slot(int app, int slot, Slot* out) {
  auto p = std::make_unique<rk_cpt_entry>();
  memset(p.get(), 0, sizeof *p);
  if (rk_get_proc(static_cast<rk_client_id>(app << 8 | slot), p.get()) != 0) return false;
  out->name = text_of(p->name, sizeof p->name);
  out->cmdline = text_of(p->cmdline, sizeof p->cmdline);
  out->live = (p->stat & 2) != 0;
  out->pid = p->pid;
  return true;
}

// The run manager of the attached RTDB, when one runs: its pid, else 0.
uint32_t run_manager_pid() {
  Slot s;
  if (!read_slot(0, 0, &s) || !s.live || strcasecmp(s.name.c_str(), kRunManagerTask) != 0) return 0;
  return s.pid;
}

// What the tool learns before it asks: where the client is, whether a
// command of the plant runs it, who supervises the plant.
struct Plan {
  std::string rtdb;
  InstanceName target;     // the client's instance
  InstanceName manager;    // application 0's, where the run manager is
  bool supervised = false;
  uint32_t manager_pid = 0;
};

Plan look(const Target& t, const std::string& task, const char* verb) {
  Attached at(t.rtdb);
  Plan plan;
  plan.rtdb = at.name();
  const int apps = rk_get_nkinsts();
  int app = -1;
  for (int a = 0; a < apps; ++a) {
    InstanceName in;
    if (!running_instance(a, &in)) continue;
    if (a == 0) plan.manager = in;
    const std::string full = in.domain + "/" + in.instance;
    if (app < 0 && (t.instance.empty() || strcasecmp(full.c_str(), t.instance.c_str()) == 0)) {
      app = a;
      plan.target = in;
    }
  }
  if (app < 0) {
    throw Failure(t.instance.empty() ? "rkctl: no instance of " + plan.rtdb + " runs"
                                     : "rkctl " + std::string(verb) + ": no running instance " + t.instance);
  }
  plan.manager_pid = run_manager_pid();
  for (int slot = 1; slot < rk_get_nprocs(); ++slot) {
    Slot s;
    if (read_slot(app, slot, &s) && strcasecmp(s.name.c_str(), task.c_str()) == 0) {
      plan.supervised = !s.cmdline.empty() && plan.manager_pid != 0;
      return plan;
    }
  }
  throw Failure("rkctl " + std::string(verb) + ": " + task + ": no client of that name in " + plan.target.domain +
                "/" + plan.target.instance);
}

// Waits for the run manager's answer to our request; 0 when carried out.
int await_answer(const Session& s, uint32_t manager_pid, const std::string& what) {
  for (;;) {
    const int sig = rk_recv_sig(s.id());
    if (sig == kDoneSignal) return 0;
    if (sig == kNoSuchClient) throw Failure("rkctl: " + what + ": the run manager supervises no such client");
    if (sig == kPlantStopping) throw Failure("rkctl: " + what + ": the plant is stopping");
    if (interrupted() || sig == 1) return kInterrupted;
    if (run_manager_pid() != manager_pid) {
      throw Failure("rkctl: " + what + ": the run manager ended before it answered");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
}

// The run manager may belong to another user: kill(pid, 0) then says EPERM
// while it lives. An ended one that its parent has not reaped yet is gone.
bool alive(pid_t pid) {
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return false;
  char text[512] = {0};
  const size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  const char* paren = strrchr(text, ')');
  return !(n > 0 && paren != nullptr && paren[1] == ' ' && paren[2] == 'Z');
}

}  // namespace

int control_client(const Target& target, Request what, const std::string& task) {
  const char* verb = request_word(what);
  if (strcasecmp(task.c_str(), kRunManagerTask) == 0) {
    throw Failure(std::string("rkctl ") + verb + ": RKCTL is the run manager itself: stop the whole plant with " +
                  "`rkctl down`");
  }
  const Plan plan = look(target, task, verb);
  const std::string label = task + " in " + plan.target.domain + "/" + plan.target.instance;
  if (!plan.supervised) {
    if (what != Request::stop) {
      throw Failure(std::string("rkctl ") + verb + ": " + label +
                    (plan.manager_pid == 0 ? ": no run manager (rkctl run) supervises " + plan.rtdb
                                           : ": the plant file gives it no command"));
    }
    // Nobody would start it again: only ask it to end.
    Session s(Target{plan.rtdb, plan.target.domain + "/" + plan.target.instance});
    if (rk_set_term_flag_ex(s.id(), plan.target.domain.c_str(), plan.target.instance.c_str(), task.c_str()) != 0) {
      throw Failure("rkctl stop: " + task + ": " + error_text(rk_errno(s.id())));
    }
    printf("%s asked to end (no run manager supervises it)\n", label.c_str());
    return 0;
  }
  const ControlRequest request{what, plan.target.domain, plan.target.instance, task};
  Session s(Target{plan.rtdb, plan.manager.domain + "/" + plan.manager.instance}, request_text(request));
  for (int sig : {kDoneSignal, kNoSuchClient, kPlantStopping}) rk_hold_sig(s.id(), sig, 0);
  if (rk_send_app_sig(s.id(), 0, kRequestSignal) != 0) {
    throw Failure(std::string("rkctl ") + verb + ": cannot reach the run manager: " + error_text(rk_errno(s.id())));
  }
  const int code = await_answer(s, plan.manager_pid, std::string(verb) + " " + task);
  if (code == 0) {
    printf("%s %s\n", label.c_str(),
           what == Request::stop ? "stopped" : what == Request::start ? "started" : "restarted");
  }
  return code;
}

int bring_down(const std::string& rtdb) {
  std::string name;
  uint32_t pid = 0;
  {
    Attached at(rtdb);
    name = at.name();
    pid = run_manager_pid();
    if (pid == 0) throw Failure("rkctl down: no run manager (rkctl run) runs " + name);
  }
  {
    InstanceName manager;
    {
      Attached at(name);
      if (!running_instance(0, &manager)) throw Failure("rkctl down: " + name + " is ending already");
    }
    Session s(Target{name, manager.domain + "/" + manager.instance}, "ctl down");
    if (rk_set_app_term_flag(s.id(), 0) != 0) {
      throw Failure("rkctl down: cannot reach the run manager: " + error_text(rk_errno(s.id())));
    }
  }
  printf("stopping %s (run manager pid %u)\n", name.c_str(), pid);
  fflush(stdout);
  while (alive(static_cast<pid_t>(pid))) {
    if (!sleep_unless_interrupted(kPollMs)) return kInterrupted;
  }
  printf("%s is down\n", name.c_str());
  return 0;
}

}  // namespace rkctl
