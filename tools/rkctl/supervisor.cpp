#include "tools/rkctl/supervisor.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace rkctl {

std::chrono::milliseconds restart_delay(int n) {
  std::chrono::milliseconds d{200};
  for (int i = 1; i < n && d < std::chrono::seconds(10); ++i) d *= 2;
  return std::min<std::chrono::milliseconds>(d, std::chrono::seconds(10));
}

Supervisor::Supervisor(const Plant& plant, std::vector<std::string> env, std::string program_dir)
    : plant_(plant), env_(std::move(env)), program_dir_(std::move(program_dir)) {
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
  const pid_t parent = getpid();
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    printf("rkctl: cannot start %s: %s\n", label(c).c_str(), strerror(errno));
    fflush(stdout);
    return;
  }
  if (pid == 0) {
    // A process group of its own keeps the terminal's Ctrl-C for the run
    // manager, which stops the plant in order; the clients die with it when
    // it is killed, so a new run can take the RTDB back.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
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
  printf("rkctl: started %s, pid %d\n", label(c).c_str(), static_cast<int>(pid));
  fflush(stdout);
}

void Supervisor::ended(Child& c, int status) {
  const pid_t pid = c.pid;
  c.pid = 0;
  // The rest of its group (a shell's children) goes with it.
  kill(-pid, SIGKILL);
  bool failed = true;
  if (WIFEXITED(status)) {
    failed = WEXITSTATUS(status) != 0;
    printf("rkctl: %s (pid %d) exited with code %d\n", label(c).c_str(), static_cast<int>(pid), WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    printf("rkctl: %s (pid %d) killed by signal %d (%s)\n", label(c).c_str(), static_cast<int>(pid),
           WTERMSIG(status), strsignal(WTERMSIG(status)));
  }
  const Restart policy = c.client->restart;
  if (!stopping_ && (policy == Restart::always || (policy == Restart::on_failure && failed))) {
    c.failures = Clock::now() - c.started >= kSteadyRun ? 1 : c.failures + 1;
    const auto delay = restart_delay(c.failures);
    c.restart_at = Clock::now() + delay;
    ++c.restarts;
    printf("rkctl: restarting %s in %lld ms (restart %d)\n", label(c).c_str(),
           static_cast<long long>(delay.count()), c.restarts);
  }
  fflush(stdout);
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
    if (c.pid == 0 && c.restart_at < next) next = c.restart_at;
  }
  return next;
}

bool Supervisor::any_running() const {
  for (const Child& c : children_) {
    if (c.pid != 0) return true;
  }
  return false;
}

void Supervisor::stop_all(const std::function<bool(const PlantInstance&, const PlantClient&)>& ask) {
  stopping_ = true;
  reap();
  const auto bound = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(plant_.stop_timeout_s));
  for (Child& c : children_) {
    c.restart_at = Clock::time_point::max();
    if (c.pid == 0) continue;
    if (!ask(*c.instance, *c.client)) kill(c.pid, SIGTERM);
    const auto until = Clock::now() + bound;
    while (c.pid != 0 && Clock::now() < until) {
      reap();
      if (c.pid != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (c.pid != 0) {
      printf("rkctl: %s (pid %d) did not end within %.1f s: killed\n", label(c).c_str(), static_cast<int>(c.pid),
             plant_.stop_timeout_s);
      fflush(stdout);
      kill(-c.pid, SIGKILL);
      kill(c.pid, SIGKILL);
      int status = 0;
      if (waitpid(c.pid, &status, 0) == c.pid) ended(c, status);
    }
  }
}

}  // namespace rkctl
