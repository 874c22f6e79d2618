#include "support/child_program.h"

#include <cstdlib>

extern char** environ;

namespace rk::test {

const char* emulator() {
#ifdef RK_TEST_EMULATOR
  return RK_TEST_EMULATOR;
#else
  return "";
#endif
}

void export_emulator() { setenv("RK_TEST_EMULATOR", emulator(), 1); }

int spawn_program(pid_t* pid, const char* program, const std::vector<std::string>& args,
                  const posix_spawn_file_actions_t* actions) {
  std::vector<char*> argv;
  if (*emulator() != '\0') argv.push_back(const_cast<char*>(emulator()));
  argv.push_back(const_cast<char*>(program));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return posix_spawn(pid, argv[0], actions, nullptr, argv.data(), environ);
}

}  // namespace rk::test
