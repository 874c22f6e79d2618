#include "tools/rkctl/rtdb_diagnosis.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace rkctl {

namespace {

constexpr const char* kShmDir = "/dev/shm";
constexpr const char* kAnchor = "RKNT_RK000";   // then three digits: the kgd index

std::string user_name(uid_t uid) {
  passwd pw;
  passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr) return found->pw_name;
  return "uid " + std::to_string(uid);
}

// False only for an anchor known to be dead: nobody holds its lock. One
// that cannot be opened may be alive.
bool maybe_alive(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return true;
  const bool dead = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return !dead;
}

}  // namespace

RtdbDiagnosis diagnose_rtdbs() {
  RtdbDiagnosis d;
  const char* env = getenv("RKNAMESPACE");
  const std::string here = env != nullptr ? env : "";
  const size_t anchor = strlen(kAnchor);
  std::map<std::string, int> elsewhere;
  DIR* dir = opendir(kShmDir);
  if (dir == nullptr) return d;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() < anchor + 3) continue;
    const size_t at = name.size() - anchor - 3;
    if (name.compare(at, anchor, kAnchor) != 0 ||
        name.find_first_not_of("0123456789", at + anchor) != std::string::npos) {
      continue;
    }
    const std::string path = std::string(kShmDir) + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !maybe_alive(path)) continue;
    const std::string ns = name.substr(0, at);
    if (ns != here) {
      ++elsewhere[ns];
      continue;
    }
    // The kernel opens another user's objects only when they are open to
    // everybody (an RTDB made with world = true).
    if (st.st_uid != geteuid() && (st.st_mode & 0006) != 0006) {
      d.foreign += (d.foreign.empty() ? "" : ", ") + std::string("kgd ") +
                   std::to_string(atoi(name.c_str() + at + anchor)) + " of user " + user_name(st.st_uid);
    }
  }
  closedir(dir);
  for (const auto& [ns, count] : elsewhere) {
    d.elsewhere += (d.elsewhere.empty() ? "" : ", ") +
                   (ns.empty() ? std::string("RKNAMESPACE unset") : "RKNAMESPACE=\"" + ns + "\"") + " (" +
                   std::to_string(count) + ")";
  }
  return d;
}

std::string diagnosis_suffix(bool none_here) {
  const RtdbDiagnosis d = diagnose_rtdbs();
  std::string text;
  if (!d.foreign.empty()) {
    text += "; this user (" + user_name(geteuid()) + ") may not open the RTDBs of other users made without " +
            "world = true: " + d.foreign;
  }
  if (none_here && d.foreign.empty() && !d.elsewhere.empty()) {
    const char* env = getenv("RKNAMESPACE");
    text += std::string("; none in ") +
            (env != nullptr && *env != '\0' ? "RKNAMESPACE=\"" + std::string(env) + "\"" : "RKNAMESPACE unset") +
            ", RTDBs run in " + d.elsewhere;
  }
  return text;
}

}  // namespace rkctl
