// What the shell completes a word of an rkctl command line with, asked of
// rkctl itself (rkctl.bash calls it), so that completion knows every
// command and option the help knows, and the names of the RTDBs, instances,
// types and tasks that run now.
#pragma once

#include <CLI/CLI.hpp>

namespace rkctl {

// rkctl __complete CWORD WORD... : the candidates for word number CWORD of
// the command line WORD... (WORD 0 is rkctl), one a line.
constexpr const char* kCompleteCommand = "__complete";
// rkctl __commands : each command and its description, a tab between.
constexpr const char* kCommandsCommand = "__commands";

int complete(CLI::App& app, int argc, char** argv);
int list_commands(CLI::App& app);

}  // namespace rkctl
