// The run manager as a supervisor: a command line runs exactly as the shell
// runs it, each client in a process group of its own; the run manager's
// lines are stamped and logged; it stops in order when its output goes away,
// kills at once on a second interrupt, and tells a service manager of the
// plant's start and stop.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "support/rkctl_test.h"

namespace rk::test {

namespace {

constexpr const char* kOneType = "[[type]]\nname = \"A\"\nkind = \"digital\"\ncount = 1\n";

std::string client(const std::string& task, const std::string& command, const std::string& more = "") {
  return "  [[instance.client]]\n  task = \"" + task + "\"\n  command = " + command + "\n" + more;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace

// Assignments, builtins, `;` and `&&` do what the shell does with them, and
// a stop reaches what a client's shell started in the background.
TEST_F(RkctlTest, ShellCommandLinesRunAsTheShellRunsThem) {
  struct Case {
    const char* task;
    std::string command;   // a TOML literal string
    std::string shows;     // a line the client or the run manager prints
  } cases[] = {
      {"EXIT", "'exit 3'", "EXIT in OPS/A (pid"},
      {"ASSIGN", "'GREETING=hello-assigned printenv GREETING'", "hello-assigned"},
      {"CHAIN", "'cd " + dir_ + " && pwd; echo after-the-semicolon'", "after-the-semicolon"},
      {"BUILTIN", "'read line < /dev/null || echo builtin-read-ended'", "builtin-read-ended"},
      {"BACKGROUND", "'sleep 600 & echo background $!; wait'", "background "},
  };
  std::string clients;
  for (const Case& c : cases) clients += client(c.task, c.command);
  RkctlProcess& run = start({"run", plant(one_instance("Shell", kOneType, clients))});
  for (const Case& c : cases) EXPECT_TRUE(run.wait_for(c.shows, kBoundMs)) << c.task << "\n" << run.output();
  EXPECT_GE(line_of(run, "EXIT in OPS/A"), 0);
  EXPECT_NE(run.output().find(") exited with code 3"), std::string::npos) << run.output();
  EXPECT_GE(line_of(run, dir_), 0) << run.output();
  const int bg = line_of(run, "background ");
  ASSERT_GE(bg, 0);
  const pid_t background = atoi(run.lines()[bg].c_str() + run.lines()[bg].find("background ") + 11);
  ASSERT_GT(background, 0);

  // Every line of the run manager's own is stamped with the local time.
  const std::regex stamped(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} rkctl: started EXIT in OPS/A, pid \d+$)");
  const int started = line_of(run, "rkctl: started EXIT");
  ASSERT_GE(started, 0);
  EXPECT_TRUE(std::regex_match(run.lines()[started], stamped)) << run.lines()[started];

  ASSERT_EQ(run.finish(kBoundMs, SIGINT), 0) << run.output();
  EXPECT_TRUE(gone({background}, kBoundMs));
  EXPECT_TRUE(objects_left().empty());
}

// `rkctl run plant.toml | head -1`, then Ctrl-C: the run manager outlives
// its reader, stops the plant in order and leaves nothing; its log file
// has every line it could not print.
TEST_F(RkctlTest, OutputThatGoesAwayDoesNotStopTheOrderlyStop) {
  const std::string log = dir_ + "/run.log";
  RkctlProcess& run =
      start({"run", plant(one_instance("Piped", kOneType, client("SLEEPER", "'sleep 600'"))), "--log", log});
  ASSERT_TRUE(run.wait_for("started SLEEPER", kBoundMs)) << run.output() << run.errors();
  const std::vector<pid_t> clients = run.started_pids();
  run.close_output();
  EXPECT_EQ(run.finish(kBoundMs, SIGINT), 0) << read_file(log) << run.errors();
  EXPECT_TRUE(gone(clients, kBoundMs));
  EXPECT_TRUE(objects_left().empty());
  const std::string logged = read_file(log);
  for (const char* line : {"rkctl: RTDB Piped running", "rkctl: started SLEEPER", "rkctl: stopping (Interrupt)",
                           "rkctl: SLEEPER in OPS/A (pid", "rkctl: RTDB Piped ended"}) {
    EXPECT_NE(logged.find(line), std::string::npos) << line << "\n" << logged;
  }
}

// A client that ignores being asked to end would hold the stop for its
// whole stop time; a second Ctrl-C kills it at once.
TEST_F(RkctlTest, SecondInterruptKillsTheClientsLeftAtOnce) {
  const std::string file = plant("[rtdb]\nname = \"Stubborn\"\nstop_timeout = \"10min\"\n"
                                 "[[domain]]\nname = \"OPS\"\n" + std::string(kOneType) +
                                 "[[instance]]\ndomain = \"OPS\"\nname = \"A\"\n" +
                                 client("DEAF", "\"trap '' TERM; echo deaf now; exec sleep 600\""));
  RkctlProcess& run = start({"run", file});
  ASSERT_TRUE(run.wait_for("deaf now", kBoundMs)) << run.output() << run.errors();
  kill(run.pid(), SIGINT);
  ASSERT_TRUE(run.wait_for("rkctl: stopping (Interrupt)", kBoundMs)) << run.output();
  ASSERT_EQ(run.finish(kBoundMs, SIGINT), 0) << run.output();
  EXPECT_GE(line_of(run, "interrupted again: killing the 1 client(s) left at once"), 0) << run.output();
  EXPECT_GE(line_of(run, "DEAF in OPS/A (pid"), 0) << run.output();
  EXPECT_NE(run.output().find("killed by signal 9"), std::string::npos) << run.output();
  EXPECT_TRUE(objects_left().empty());
}

// Under a service manager: READY=1 once the clients are started, STOPPING=1
// as the stop begins, each on the socket NOTIFY_SOCKET names.
TEST_F(RkctlTest, ServiceManagerHearsOfStartAndStop) {
  const std::string path = dir_ + "/notify";
  const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto next_message = [&] {
    pollfd p{sock, POLLIN, 0};
    if (poll(&p, 1, kBoundMs) != 1) return std::string("(nothing)");
    char text[512];
    const ssize_t n = recv(sock, text, sizeof text, 0);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string("(nothing)");
  };

  SpawnOptions under_systemd;
  under_systemd.env = {"NOTIFY_SOCKET=" + path};
  RkctlProcess& run =
      start({"run", plant(one_instance("Service", kOneType, client("SLEEPER", "'sleep 600'")))}, under_systemd);
  const std::string ready = next_message();
  EXPECT_NE(ready.find("READY=1"), std::string::npos) << ready;
  EXPECT_TRUE(run.wait_for("started SLEEPER", kBoundMs)) << run.output();
  kill(run.pid(), SIGTERM);
  const std::string stopping = next_message();
  EXPECT_NE(stopping.find("STOPPING=1"), std::string::npos) << stopping;
  EXPECT_EQ(run.finish(kBoundMs), 0) << run.output();
  close(sock);
  EXPECT_TRUE(objects_left().empty());
}

}  // namespace rk::test
