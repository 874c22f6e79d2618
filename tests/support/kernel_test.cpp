#include "support/kernel_test.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/attachment.h"
#include "core/kgd_segment.h"
#include "support/child_program.h"

namespace rk::test {

namespace {
constexpr int kReplyTimeoutMs = 60000;   // a hung client fails the test instead of hanging it
}

Client::Client(const std::vector<std::string>& args) : Client(RK_TEST_CLIENT, args) {}

Client::Client(const std::string& program, const std::vector<std::string>& args) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  int rc = spawn_program(&pid_, program.c_str(), args, &fa);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  to_ = in[1];
  from_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    ADD_FAILURE() << "spawn: " << strerror(rc);
  }
}

Client::~Client() {
  if (pid_ > 0) kill_hard();
  if (to_ >= 0) close(to_);
  if (from_ >= 0) close(from_);
}

void Client::send(const std::string& command) {
  std::string line = command + "\n";
  if (write(to_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    ADD_FAILURE() << "client gone before: " << command;
  }
}

bool Client::reply_ready(int ms) {
  if (buffer_.find('\n') != std::string::npos) return true;
  pollfd p{from_, POLLIN, 0};
  return poll(&p, 1, ms) == 1;
}

std::string Client::reply() {
  for (;;) {
    size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    if (!reply_ready(kReplyTimeoutMs)) {
      ADD_FAILURE() << "client did not answer";
      return "timeout";
    }
    char buf[256];
    ssize_t n = read(from_, buf, sizeof buf);
    if (n <= 0) return "eof";
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

std::string Client::call(const std::string& command) {
  send(command);
  return reply();
}

uint32_t Client::ok(const std::string& command) {
  std::string r = call(command);
  EXPECT_EQ(r.rfind("ok", 0), 0u) << command << " -> " << r;
  return r.size() > 3 ? static_cast<uint32_t>(strtoul(r.c_str() + 3, nullptr, 10)) : 0;
}

void Client::kill_hard() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int Client::wait_exit() {
  int status = 0;
  if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Client::wait_signal() {
  int status = 0;
  if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) pid_ = -1;
  return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

StdoutCapture::StdoutCapture() {
  fflush(stdout);
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return;
  // Large enough for every kernel message a test provokes.
  fcntl(p[1], F_SETPIPE_SZ, 1 << 16);
  saved_ = dup(1);
  dup2(p[1], 1);
  close(p[1]);
  read_ = p[0];
}

std::string StdoutCapture::text() {
  if (!done_ && read_ >= 0) {
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    char buf[4096];
    ssize_t n;
    while ((n = read(read_, buf, sizeof buf)) > 0) text_.append(buf, static_cast<size_t>(n));
    close(read_);
    done_ = true;
  }
  return text_;
}

StdoutCapture::~StdoutCapture() { text(); }

void KernelTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  ns_ = std::string("rkt") + std::to_string(getpid()) + "_" + info->name() + "_";
  // A parameterised test's name has a slash, which no object name may hold.
  for (char& c : ns_) {
    if (c == '/') c = '_';
  }
  setenv("RKNAMESPACE", ns_.c_str(), 1);
#ifdef RK_TEST_DLLBASE
  char base[16];
  snprintf(base, sizeof base, "%x", kTestBase);
  setenv("RKDLLBASE", base, 1);   // clients started by the test inherit it
#else
  unsetenv("RKDLLBASE");
#endif
  signal(SIGPIPE, SIG_IGN);   // a client that died shows as a failed call, not a dead test
  export_emulator();          // for the commands of plant files
}

std::vector<std::string> KernelTest::objects_left() const {
  std::vector<std::string> left;
  if (DIR* d = opendir("/dev/shm")) {
    while (dirent* e = readdir(d)) {
      if (strncmp(e->d_name, ns_.c_str(), ns_.size()) == 0) left.push_back(e->d_name);
    }
    closedir(d);
  }
  return left;
}

std::string KernelTest::shm_file(const std::string& name) const { return "/dev/shm/" + ns_ + name; }

void KernelTest::TearDown() {
  // An RTDB whose processes were all killed stays until somebody looks at
  // its kgd index; what is still there after a look is a leak.
  if (attachment().kgd == nullptr) {
    for (uint32_t i = 0; i < kMaxKgds; ++i) {
      if (Kgd* kgd = open_kgd(i)) unmap_all(kgd);
    }
  }
  std::vector<std::string> left = objects_left();
  for (const std::string& name : left) unlink(("/dev/shm/" + name).c_str());
  EXPECT_TRUE(left.empty()) << "objects left behind, the first: " << left.front();
}

}  // namespace rk::test
