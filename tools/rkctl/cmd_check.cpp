// rkctl check: the kernel's consistency checks of every shared structure,
// run on the RTDB as it is, between its clients' calls. Exit code 1 says
// the RTDB is damaged; an RTDB that cannot be checked fails with 2, so
// that a script can tell the two apart.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/failure.h"

namespace rkctl {

namespace {

constexpr int kCannotCheck = 2;

void keep_line(const char* line, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(line); }

}  // namespace

int check_rtdb(const std::string& rtdb) {
  std::string name;
  std::vector<std::string> faults;
  int found = 0;
  try {
    Attached at(rtdb);
    name = at.name();
    found = rk_check_rtdb(keep_line, &faults);
  } catch (const Failure& f) {
    throw Failure(f.what(), kCannotCheck);
  }
  if (found < 0) {
    throw Failure("rkctl check: cannot check " + name +
                      ": the database lock stayed held or the kernel mutex failed",
                  kCannotCheck);
  }
  for (const std::string& line : faults) printf("%s\n", line.c_str());
  if (found == 0) printf("RTDB %s is consistent\n", name.c_str());
  return found == 0 ? 0 : 1;
}

}  // namespace rkctl
