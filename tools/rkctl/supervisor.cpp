#include "tools/rkctl/supervisor.h"

#include <signal.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/rkctl/run_log.h"

namespace rkctl {

namespace {

Clock::duration seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

int ms_until(Clock::time_point t) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
  return static_cast<int>(std::max<long long>(0, std::min<long long>(left, 60000)));
}

}  // namespace

std::chrono::milliseconds restart_delay(int n) {
  std::chrono::milliseconds d{200};
  for (int i = 1; i < n && d < std::chrono::seconds(10); ++i) d *= 2;
  return std::min<std::chrono::milliseconds>(d, std::chrono::seconds(10));
}

Supervisor::Supervisor(const Plant& plant, std::vector<std::string> env, std::string program_dir, Ask ask)
    : plant_(plant), env_(std::move(env)), program_dir_(std::move(program_dir)), ask_(std::move(ask)) {
  for (const PlantInstance& in : plant_.instances) {
    for (const PlantClient& c : in.clients) {
      if (c.command.empty()) continue;
      Child child;
      child.instance = &in;
      child.client = &c;
      children_.push_back(child);
    }
  }
}

std::string Supervisor::label(const Child& c) const {
  return c.client->task + " in " + c.instance->domain + "/" + c.instance->name;
}

void Supervisor::start_all() {
  for (Child& c : children_) start(c);
}

void Supervisor::start(Child& c) {
  c.restart_at = Clock::time_point::max();
  c.kill_at = Clock::time_point::max();
  const pid_t parent = getpid();
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    say("cannot start %s: %s", label(c).c_str(), strerror(errno));
    return;
  }
  if (pid == 0) {
    // A process group of its own keeps the terminal's Ctrl-C for the run
    // manager, which stops the plant in order, and lets a stop reach a
    // shell's children too; the clients die with the run manager when it is
    // killed, so a new run can take the RTDB back.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The run manager ignores SIGPIPE; an ignored signal would stay so
    // across exec.
    signal(SIGPIPE, SIG_DFL);
    for (const std::string& e : env_) putenv(const_cast<char*>(e.c_str()));
    setenv("RKDOMAIN", c.instance->domain.c_str(), 1);
    setenv("RKUSER", c.instance->name.c_str(), 1);
    if (!program_dir_.empty()) {
      const char* path = getenv("PATH");
      setenv("PATH", (program_dir_ + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    }
    std::vector<char*> argv;
    for (const std::string& a : c.client->command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    fprintf(stderr, "rkctl: cannot run %s: %s\n", argv[0], strerror(errno));
    _exit(127);
  }
  setpgid(pid, pid);   // also here, so that a stop right after the start reaches the group
  c.pid = pid;
  c.started = Clock::now();
  say("started %s, pid %d", label(c).c_str(), static_cast<int>(pid));
}

void Supervisor::kill_group(Child& c) {
  kill(-c.pid, SIGKILL);
  kill(c.pid, SIGKILL);
}

void Supervisor::ask_to_end(Child& c) {
  if (!ask_(*c.instance, *c.client)) kill(-c.pid, SIGTERM);
  c.kill_at = Clock::now() + seconds(plant_.stop_timeout_s);
}

void Supervisor::ended(Child& c, int status) {
  const pid_t pid = c.pid;
  c.pid = 0;
  c.kill_at = Clock::time_point::max();
  // The rest of its group (a shell's children) goes with it.
  kill(-pid, SIGKILL);
  bool failed = true;
  if (WIFEXITED(status)) {
    failed = WEXITSTATUS(status) != 0;
    say("%s (pid %d) exited with code %d", label(c).c_str(), static_cast<int>(pid), WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    say("%s (pid %d) killed by signal %d (%s)", label(c).c_str(), static_cast<int>(pid), WTERMSIG(status),
        strsignal(WTERMSIG(status)));
  }
  if (!stopping_ && c.start_again) {
    c.start_again = false;
    c.held = false;
    c.failures = 0;
    start(c);
  } else if (!stopping_ && c.held) {
    say("%s stays stopped until `rkctl start %s`", label(c).c_str(), c.client->task.c_str());
  } else {
    const Restart policy = c.client->restart;
    if (!stopping_ && (policy == Restart::always || (policy == Restart::on_failure && failed))) {
      c.failures = Clock::now() - c.started >= kSteadyRun ? 1 : c.failures + 1;
      const auto delay = restart_delay(c.failures);
      c.restart_at = Clock::now() + delay;
      ++c.restarts;
      say("restarting %s in %lld ms (restart %d)", label(c).c_str(), static_cast<long long>(delay.count()),
          c.restarts);
    }
  }
  std::vector<Done> waiting;
  waiting.swap(c.waiting);
  for (Done& d : waiting) d();
}

void Supervisor::reap() {
  for (;;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid <= 0) return;
    for (Child& c : children_) {
      if (c.pid == pid) ended(c, status);
    }
  }
}

Clock::time_point Supervisor::tend() {
  reap();
  Clock::time_point next = Clock::time_point::max();
  const auto now = Clock::now();
  for (Child& c : children_) {
    if (c.pid == 0 && c.restart_at <= now && !stopping_) start(c);
    if (c.pid != 0 && c.kill_at <= now) {
      say("%s (pid %d) did not end within %.1f s: killed", label(c).c_str(), static_cast<int>(c.pid),
          plant_.stop_timeout_s);
      kill_group(c);
      c.kill_at = Clock::time_point::max();   // reaped as it dies
    }
    next = std::min({next, c.pid == 0 ? c.restart_at : Clock::time_point::max(), c.kill_at});
  }
  return next;
}

std::string Supervisor::request(Request what, const std::string& domain, const std::string& instance,
                                const std::string& task, Done done) {
  if (stopping_) return "the plant is stopping";
  Child* child = nullptr;
  for (Child& c : children_) {
    if (strcasecmp(c.instance->domain.c_str(), domain.c_str()) == 0 &&
        strcasecmp(c.instance->name.c_str(), instance.c_str()) == 0 &&
        strcasecmp(c.client->task.c_str(), task.c_str()) == 0) {
      child = &c;
    }
  }
  if (child == nullptr) return "no client " + task + " with a command in " + domain + "/" + instance;
  Child& c = *child;
  const char* verb = what == Request::stop ? "stop" : what == Request::start ? "start" : "restart";
  say("%s %s, as asked", verb, label(c).c_str());
  switch (what) {
    case Request::stop:
      c.held = true;
      c.start_again = false;
      c.restart_at = Clock::time_point::max();
      if (c.pid == 0) break;
      c.waiting.push_back(std::move(done));
      if (c.kill_at == Clock::time_point::max()) ask_to_end(c);
      return "";
    case Request::start:
      c.held = false;
      if (c.pid != 0) break;
      c.failures = 0;
      start(c);
      break;
    case Request::restart:
      if (c.pid == 0) {
        c.held = false;
        c.failures = 0;
        start(c);
        break;
      }
      c.held = true;   // no restart by the policy in between
      c.start_again = true;
      c.waiting.push_back(std::move(done));
      if (c.kill_at == Clock::time_point::max()) ask_to_end(c);
      return "";
  }
  done();
  return "";
}

bool Supervisor::any_running() const {
  for (const Child& c : children_) {
    if (c.pid != 0) return true;
  }
  return false;
}

void Supervisor::stop_all(const Wait& wait) {
  stopping_ = true;
  reap();
  bool hurry = false;
  for (Child& c : children_) {
    c.restart_at = Clock::time_point::max();
    c.start_again = false;
    if (c.pid == 0 || hurry) continue;
    // A client asked to end on request keeps its time; every other gets
    // the plant's stop time from now.
    if (c.kill_at == Clock::time_point::max()) ask_to_end(c);
    while (c.pid != 0 && Clock::now() < c.kill_at) {
      if (wait(ms_until(c.kill_at))) {
        hurry = true;
        break;
      }
      reap();
    }
    if (c.pid != 0 && !hurry) {
      say("%s (pid %d) did not end within %.1f s: killed", label(c).c_str(), static_cast<int>(c.pid),
          plant_.stop_timeout_s);
      kill_group(c);
      int status = 0;
      if (waitpid(c.pid, &status, 0) == c.pid) ended(c, status);
    }
  }
  if (!hurry) return;
  int left = 0;
  for (const Child& c : children_) left += c.pid != 0 ? 1 : 0;
  say("interrupted again: killing the %d client(s) left at once", left);
  for (Child& c : children_) {
    if (c.pid != 0) kill_group(c);
  }
  for (Child& c : children_) {
    int status = 0;
    if (c.pid != 0 && waitpid(c.pid, &status, 0) == c.pid) ended(c, status);
  }
}

}  // namespace rkctl
