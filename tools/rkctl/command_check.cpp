#include "tools/rkctl/command_check.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace rkctl {

namespace {

std::string own_dir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  char* slash = strrchr(path, '/');
  if (slash != nullptr) *slash = '\0';
  return path;
}

std::string dir_of(const std::string& file) {
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

// The words a POSIX shell runs itself.
const std::set<std::string>& shell_words() {
  static const std::set<std::string> words{
      "!",     "{",       "}",     "case",  "do",     "done",     "elif",   "else",  "esac",  "fi",
      "for",   "if",      "in",    "then",  "until",  "while",    ".",      ":",     "alias", "bg",
      "break", "cd",      "command", "continue", "echo", "eval", "exec",   "exit",  "export", "false",
      "fg",    "getopts", "hash",  "jobs",  "kill",   "local",    "printf", "pwd",   "read",  "readonly",
      "return", "set",    "shift", "test",  "[",      "times",    "trap",   "true",  "type",  "ulimit",
      "umask", "unalias", "unset", "wait"};
  return words;
}

bool assignment(const std::string& word) {
  const size_t eq = word.find('=');
  if (eq == 0 || eq == std::string::npos) return false;
  for (size_t i = 0; i < eq; ++i) {
    const char c = word[i];
    if (!(c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return true;
}

bool executable_file(const std::string& path, std::string* why) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    *why = "\"" + path + "\" is not a file";
    return false;
  }
  if (access(path.c_str(), X_OK) != 0) {
    *why = "\"" + path + "\" is not executable";
    return false;
  }
  return true;
}

}  // namespace

std::string program_dir_of(const Plant& p) {
  if (p.program_dir.empty()) return own_dir();
  if (p.program_dir[0] == '/') return p.program_dir;
  return dir_of(p.file) + "/" + p.program_dir;
}

std::string first_program(const std::string& line) {
  size_t at = 0;
  for (;;) {
    at = line.find_first_not_of(" \t\n", at);
    if (at == std::string::npos) return "";
    const size_t end = line.find_first_of(" \t\n;&|<>()", at);
    const std::string word = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (word.empty()) return "";   // the line starts with an operator: the shell will say
    // Quotes, expansions, globs and escapes: only the shell knows the word.
    if (word.find_first_of("'\"`$\\*?[~") != std::string::npos && word != "[") return "";
    if (assignment(word)) {
      if (end == std::string::npos) return "";
      at = end;
      continue;
    }
    return shell_words().count(word) != 0 ? "" : word;
  }
}

std::string find_program(const std::string& program, const std::string& dir, std::string* why) {
  why->clear();
  if (program.find('/') != std::string::npos) return executable_file(program, why) ? program : "";
  std::string path = dir;
  if (const char* env = getenv("PATH"); env != nullptr) path += ":" + std::string(env);
  size_t at = 0;
  while (at <= path.size()) {
    size_t colon = path.find(':', at);
    if (colon == std::string::npos) colon = path.size();
    const std::string d = path.substr(at, colon - at);
    at = colon + 1;
    if (d.empty()) continue;
    std::string seen;
    if (executable_file(d + "/" + program, &seen)) return d + "/" + program;
    if (why->empty()) *why = seen;
  }
  return "";
}

void check_commands(const Plant& p, const std::string& program_dir, std::vector<std::string>& errors) {
  for (size_t i = 0; i < p.instances.size(); ++i) {
    const PlantInstance& in = p.instances[i];
    for (size_t j = 0; j < in.clients.size(); ++j) {
      const PlantClient& c = in.clients[j];
      if (c.command.empty()) continue;
      const std::string program = c.shell ? first_program(c.command_text) : c.command[0];
      if (program.empty()) continue;
      std::string why;
      if (!find_program(program, program_dir, &why).empty()) continue;
      if (why.empty()) {
        why = program.find('/') != std::string::npos
                  ? "\"" + program + "\" does not exist"
                  : "program \"" + program + "\" not found in " + program_dir + " or PATH";
      }
      errors.push_back(p.file + ":" + std::to_string(c.command_line) + ": instance[" + std::to_string(i) +
                       "].client[" + std::to_string(j) + "].command: " + why);
    }
  }
}

}  // namespace rkctl
