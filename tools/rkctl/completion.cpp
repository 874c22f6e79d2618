#include "tools/rkctl/completion.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/rkctl/command_words.h"
#include "tools/rkctl/rtdb_session.h"
#include "tools/rkctl/tag_names.h"

namespace rkctl {

namespace {

// The value given to an option on the line (--rtdb NAME), or "".
std::string option_value(const std::vector<std::string>& words, const std::string& option) {
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == option) return words[i + 1];
  }
  return "";
}

// Names from the RTDB the line names (or the only one); none when it
// cannot be attached: completion never says why.
template <class F>
void from_rtdb(const std::vector<std::string>& words, F&& f) {
  try {
    Attached at(option_value(words, "--rtdb"));
    f();
  } catch (...) {
  }
}

std::vector<std::string> instances() {
  std::vector<std::string> out;
  const int apps = rk_get_nkinsts();
  for (int a = 0; a < apps; ++a) {
    InstanceName in;
    if (running_instance(a, &in)) out.push_back(in.domain + "/" + in.instance);
  }
  return out;
}

std::vector<std::string> tasks() {
  std::set<std::string> out;
  auto p = std::make_unique<rk_cpt_entry>();
  const int apps = rk_get_nkinsts();
  for (int a = 0; a < apps; ++a) {
    InstanceName in;
    if (!running_instance(a, &in)) continue;
    for (int slot = 0; slot < rk_get_nprocs(); ++slot) {
      memset(p.get(), 0, sizeof *p);
      if (rk_get_proc(static_cast<rk_client_id>(a << 8 | slot), p.get()) == 0 && p->name[0] != '\0') {
        const std::string name(p->name, strnlen(p->name, sizeof p->name));
        if (name.rfind("rkctl.", 0) != 0) out.insert(name);
      }
    }
  }
  return {out.begin(), out.end()};
}

std::vector<std::string> types(bool mailboxes_only) {
  std::vector<std::string> out;
  for (const TypeInfo& t : type_table()) {
    if (!mailboxes_only || t.stat == 3) out.push_back(t.name);
  }
  return out;
}

// The candidates for a positional word of a command.
std::vector<std::string> positional(const std::string& command, const std::vector<std::string>& words) {
  std::vector<std::string> out;
  if (command == "dump") return {"segs", "mems", "types", "procs"};
  if (command == "help") return {};
  if (command == "get" || command == "set" || command == "watch" || command == "send" || command == "mbx") {
    from_rtdb(words, [&] { out = types(command == "send" || command == "mbx"); });
  } else if (command == "signal" || command == "stop" || command == "start" || command == "restart") {
    from_rtdb(words, [&] { out = tasks(); });
  }
  return out;
}

}  // namespace

int complete(CLI::App& app, int argc, char** argv) {
  if (argc < 1) return 2;
  const int cword = atoi(argv[0]);
  std::vector<std::string> words(argv + 1, argv + argc);
  if (cword < 1) return 0;
  const std::string current = static_cast<size_t>(cword) < words.size() ? words[cword] : "";
  const std::string previous = static_cast<size_t>(cword) <= words.size() ? words[cword - 1] : "";
  std::vector<std::string> candidates;
  CLI::App* command = words.size() > 1 && cword > 1 ? find_command(app, words[1]) : nullptr;
  if (cword == 1) {
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) candidates.push_back(sub->get_name());
    candidates.push_back("--help");
    candidates.push_back("--version");
  } else if (command == nullptr) {
    return 0;
  } else if (command->get_name() == "help" && cword == 2) {
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) candidates.push_back(sub->get_name());
  } else if (previous == "--rtdb") {
    candidates = rtdb_names();
  } else if (previous == "--instance") {
    from_rtdb(words, [&] { candidates = instances(); });
  } else if (previous.rfind("--", 0) == 0 && command->get_option_no_throw(previous) != nullptr &&
             command->get_option_no_throw(previous)->get_type_size() != 0) {
    return 0;   // the value of an option: a file or a number, the shell's to complete
  } else if (current.rfind("-", 0) == 0) {
    for (const CLI::Option* o : command->get_options()) {
      for (const std::string& n : o->get_lnames()) candidates.push_back("--" + n);
    }
  } else {
    candidates = positional(command->get_name(), words);
  }
  for (const std::string& c : candidates) {
    if (c.compare(0, current.size(), current) == 0 || strncasecmp(c.c_str(), current.c_str(), current.size()) == 0) {
      printf("%s\n", c.c_str());
    }
  }
  return 0;
}

int list_commands(CLI::App& app) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    printf("%s\t%s\n", sub->get_name().c_str(), sub->get_description().c_str());
  }
  return 0;
}

}  // namespace rkctl
