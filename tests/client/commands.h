// The scripted test client: one command per line on standard input, one
// reply line per command on standard output, "ok [values]" or "err <n>".
// Each area of the kernel registers its commands in a file of its own.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace rk::test {

struct Args {
  std::vector<std::string> words;   // the words after the command name
  const std::string& str(size_t i) const;
  // Addresses and poked values are hexadecimal; handles, ids and counts decimal.
  uint32_t hex(size_t i) const { return static_cast<uint32_t>(strtoul(str(i).c_str(), nullptr, 16)); }
  int32_t dec(size_t i) const { return static_cast<int32_t>(strtol(str(i).c_str(), nullptr, 10)); }
  size_t size() const { return words.size(); }
};

using Command = void (*)(const Args&);

struct RegisterCommand {
  RegisterCommand(const char* name, Command command);
};

// Runs a call whose console output would mix with the replies on fd 1.
// Under "said", where everything written is the reply, it just runs it.
int quietly(const std::function<int()>& call);

// True once a line waits on standard input: the test asks a loop to end.
bool line_waiting();

void reply_ok(const std::string& values = "");
void reply_err(int err);
// "ok" for 0, "err <rc>" otherwise.
void reply_rc(int rc);
// "ok <value>" whatever the value: for calls whose result is the answer.
void reply_value(long long value);

}  // namespace rk::test
