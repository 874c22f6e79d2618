// rkctl's commands by name: looked up, and a mistyped one named with the
// closest known one.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace rkctl {

// The command of that exact name, or null.
CLI::App* find_command(CLI::App& app, const std::string& name);

// "rkctl: unknown command "stpo"; did you mean "stop"?", without the
// suggestion when no command is close.
std::string unknown_command_text(CLI::App& app, const std::string& name);

// Edits (insert, delete, replace, swap of neighbours) from a to b.
size_t edit_distance(const std::string& a, const std::string& b);

}  // namespace rkctl
