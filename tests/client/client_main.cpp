#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>

#include "client/commands.h"

namespace rk::test {

namespace {
std::map<std::string, Command>& registry() {
  static std::map<std::string, Command> commands;
  return commands;
}

bool g_capturing = false;   // "said" runs a command: its output is the reply

void run(const std::string& name, const Args& args) {
  auto it = registry().find(name);
  if (it == registry().end()) {
    reply_err(EINVAL);
  } else {
    it->second(args);
  }
}

// "said <command> <args>": runs the command with everything it writes to
// standard output captured, the kernel's messages and its own reply, and
// replies "ok <text>" with \, CR and LF written as \\, \r and \n.
void said(const Args& a) {
  const int file = memfd_create("said", 0);
  if (file < 0) return reply_err(errno);
  std::cout.flush();
  fflush(stdout);
  const int saved = dup(1);
  dup2(file, 1);
  g_capturing = true;
  run(a.str(0), Args{std::vector<std::string>(a.words.begin() + (a.size() > 0 ? 1 : 0), a.words.end())});
  g_capturing = false;
  std::cout.flush();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  char buf[4096];
  ssize_t n;
  lseek(file, 0, SEEK_SET);
  while ((n = read(file, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(file);
  std::string escaped;
  for (char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else {
      escaped += c;
    }
  }
  reply_ok(escaped);
}

const RegisterCommand said_command{"said", said};
}  // namespace

const std::string& Args::str(size_t i) const {
  static const std::string empty;
  return i < words.size() ? words[i] : empty;
}

RegisterCommand::RegisterCommand(const char* name, Command command) {
  // Two areas with one command name would silently run the wrong one.
  if (!registry().emplace(name, command).second) {
    std::cerr << "test client: command registered twice: " << name << std::endl;
    abort();
  }
}

int quietly(const std::function<int()>& call) {
  if (g_capturing) return call();
  fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  const int result = call();
  dup2(saved, 1);
  close(saved);
  return result;
}

bool line_waiting() {
  // Standard input is read through stdio, whose buffer may hold the line
  // already when it came along with the command that started the loop.
  if (stdin->_IO_read_ptr < stdin->_IO_read_end) return true;
  pollfd p{0, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

void reply_ok(const std::string& values) {
  std::cout << "ok" << (values.empty() ? "" : " ") << values << std::endl;
}
void reply_err(int err) { std::cout << "err " << err << std::endl; }
void reply_rc(int rc) { rc == 0 ? reply_ok() : reply_err(rc); }
void reply_value(long long value) { reply_ok(std::to_string(value)); }

}  // namespace rk::test

int main() {
  using namespace rk::test;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string name, word;
    Args args;
    in >> name;
    while (in >> word) args.words.push_back(word);
    run(name, args);
  }
  return 0;
}
