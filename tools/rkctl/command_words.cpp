#include "tools/rkctl/command_words.h"

#include <algorithm>
#include <vector>

namespace rkctl {

CLI::App* find_command(CLI::App& app, const std::string& name) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    if (sub->get_name() == name) return sub;
  }
  return nullptr;
}

size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

std::string unknown_command_text(CLI::App& app, const std::string& name) {
  std::string best;
  size_t best_distance = 0;
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    const std::string& known = sub->get_name();
    // A command that starts so is meant too: "wat" is "watch" typed short.
    const size_t d = known.rfind(name, 0) == 0 ? 1 : edit_distance(name, known);
    if (best.empty() || d < best_distance) {
      best = known;
      best_distance = d;
    }
  }
  std::string text = "rkctl: unknown command \"" + name + "\"";
  // Close enough: at most a third of the word mistyped, and never all of it.
  if (!best.empty() && best_distance <= std::max<size_t>(1, name.size() / 3) && best_distance < name.size()) {
    text += "; did you mean \"" + best + "\"?";
  } else {
    text += " (rkctl help lists the commands)";
  }
  return text;
}

}  // namespace rkctl
