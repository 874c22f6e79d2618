#include <fcntl.h>
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
    auto it = registry().find(name);
    if (it == registry().end()) {
      reply_err(EINVAL);
    } else {
      it->second(args);
    }
  }
  return 0;
}
