// rkctl: the run manager of a plant and the tool to look inside a running
// RTDB. Every error is one line on standard error and a nonzero exit code:
// 2 for a command line rkctl cannot read.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "tools/rkctl/command_words.h"
#include "tools/rkctl/commands.h"
#include "tools/rkctl/completion.h"
#include "tools/rkctl/duration.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/interrupts.h"
#include "tools/rkctl/run_manager.h"

using namespace rkctl;

namespace {

constexpr int kUsage = 2;
constexpr const char* kTagHelp = "TYPE (every tag of it), TYPE[INDEX] or TYPE[FIRST..LAST]";

void target_options(CLI::App* cmd, Target* t, bool instance = true) {
  cmd->add_option("--rtdb", t->rtdb, "RTDB name (default: RKNAME, else the only RTDB)");
  if (instance) {
    cmd->add_option("--instance", t->instance, "DOMAIN/INSTANCE to register in (default: the first running one)");
  }
}

double duration_option(const std::string& text, const char* what) {
  const double s = parse_duration(text);
  if (s <= 0) throw Failure(std::string("rkctl: ") + what + ": \"" + text + "\" is no duration (10s, 500ms, 2m)");
  return s;
}

std::string version_text() { return std::string("rkctl ") + RKCTL_VERSION; }

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"rkctl: run a plant from its plant file and look inside running RTDBs"};
  app.name("rkctl");
  app.require_subcommand(1);
  app.set_version_flag("--version", version_text, "print rkctl's version and end");
  int code = 0;

  RunOptions run;
  std::string run_for;
  auto* c_run = app.add_subcommand("run", "Create the RTDB of a plant file, start and supervise its clients");
  c_run->add_option("plant", run.plant_file, "plant file (TOML)")->required();
  c_run->add_option("--for", run_for, "stop after this long (10s, 2m); default: until SIGINT/SIGTERM or rkctl down");
  c_run->add_flag("--dump-at-stop", run.dump_at_stop, "print the process dump before stopping");
  c_run->add_option("--log", run.log_file, "append every line of the run to this file too");
  c_run->callback([&] {
    if (!run_for.empty()) run.for_seconds = duration_option(run_for, "--for");
    code = run_plant(run);
  });

  bool json = false;
  auto* c_ls = app.add_subcommand("ls", "List every RTDB on the machine");
  c_ls->add_flag("--json", json, "machine-readable output");
  c_ls->callback([&] { code = list_rtdbs(json); });

  Target target;
  auto* c_types = app.add_subcommand("types", "List the types of an RTDB: name, kind, class, count, value size");
  target_options(c_types, &target, false);
  c_types->add_flag("--json", json, "machine-readable output");
  c_types->callback([&] { code = list_types(target.rtdb, json); });

  std::string table;
  auto* c_dump = app.add_subcommand("dump", "Print one of the kernel's table dumps");
  c_dump->add_option("table", table, "segs, mems, types or procs")
      ->required()
      ->check(CLI::IsMember({"segs", "mems", "types", "procs"}));
  target_options(c_dump, &target, false);
  c_dump->add_flag("--json", json, "machine-readable output (procs only)");
  c_dump->callback([&] {
    const DumpTable t = table == "segs" ? DumpTable::segs
                        : table == "mems" ? DumpTable::mems
                        : table == "types" ? DumpTable::types
                                           : DumpTable::procs;
    if (json && t != DumpTable::procs) throw Failure("rkctl dump: --json is for procs", kUsage);
    code = dump_table(target.rtdb, t, json);
  });

  std::vector<std::string> words;
  bool raw = false;
  auto* c_get = app.add_subcommand("get", "Read tags without clearing anybody's change bits");
  target_options(c_get, &target);
  c_get->add_flag("--json", json, "machine-readable output: an array, one object per tag, in the order asked");
  c_get->add_flag("--raw", raw, "strings as their exact bytes in hex");
  c_get->add_option("tags", words, kTagHelp)->required();
  c_get->callback([&] { code = get_tags(target, words, json, raw); });

  auto* c_set = app.add_subcommand("set", "Write tags");
  target_options(c_set, &target);
  c_set->add_option("assignments", words, "TAG=VALUE, TAG as for get (every tag named gets the value)")->required();
  c_set->callback([&] { code = set_tags(target, words); });

  bool take = false;
  int64_t count = 0;
  auto* c_watch = app.add_subcommand("watch", "Print every change of the tags until Ctrl-C");
  target_options(c_watch, &target);
  c_watch->add_flag("--take", take, "take mailbox messages (and show their data) instead of looking at them");
  c_watch->add_option("--count", count, "end after this many changes")->check(CLI::NonNegativeNumber);
  c_watch->add_flag("--json", json, "one JSON object per line, each with its time");
  c_watch->add_option("tags", words, kTagHelp)->required();
  c_watch->callback([&] { code = watch_tags(target, words, take, count, json); });

  std::string tag, message;
  auto* c_send = app.add_subcommand("send", "Append a message to a mailbox");
  target_options(c_send, &target);
  c_send->add_option("tag", tag, "mailbox tag TYPE[INDEX]")->required();
  c_send->add_option("message", message, "message text")->required();
  c_send->callback([&] { code = send_message(target, tag, message); });

  auto* c_mbx = app.add_subcommand("mbx", "List the messages queued in a mailbox");
  target_options(c_mbx, &target);
  c_mbx->add_flag("--take", take, "take the messages and print their data");
  c_mbx->add_flag("--json", json, "machine-readable output");
  c_mbx->add_flag("--raw", raw, "with --take: the data's exact bytes in hex");
  c_mbx->add_option("tag", tag, "mailbox tag TYPE[INDEX]")->required();
  c_mbx->callback([&] { code = list_mailbox(target, tag, take, json, raw); });

  std::string name, signal;
  auto* c_signal = app.add_subcommand("signal", "Post a signal to a client by its task name");
  target_options(c_signal, &target);
  c_signal->add_option("name", name, "task name")->required();
  c_signal->add_option("signal", signal, "0..31, term, list or owner")->required();
  c_signal->callback([&] { code = post_signal(target, name, signal); });

  auto* c_stop = app.add_subcommand(
      "stop", "Stop a client of a running plant; its run manager keeps it down until `rkctl start`");
  target_options(c_stop, &target);
  c_stop->add_option("name", name, "task name")->required();
  c_stop->callback([&] { code = control_client(target, Request::stop, name); });

  auto* c_start = app.add_subcommand("start", "Start a client of a running plant that is down");
  target_options(c_start, &target);
  c_start->add_option("name", name, "task name")->required();
  c_start->callback([&] { code = control_client(target, Request::start, name); });

  auto* c_restart = app.add_subcommand("restart", "Stop a client of a running plant and start it again");
  target_options(c_restart, &target);
  c_restart->add_option("name", name, "task name")->required();
  c_restart->callback([&] { code = control_client(target, Request::restart, name); });

  auto* c_down = app.add_subcommand("down", "Stop a whole plant in order, as Ctrl-C does, and wait until it is down");
  target_options(c_down, &target, false);
  c_down->callback([&] { code = bring_down(target.rtdb); });

  bool once = false;
  std::string interval = "1s";
  auto* c_top = app.add_subcommand("top", "A live view of the clients and their rates");
  target_options(c_top, &target, false);
  c_top->add_flag("--once", once, "print one view (rates over one interval) and end");
  c_top->add_flag("--json", json, "each view as a JSON object (one per line until Ctrl-C)");
  c_top->add_option("--interval", interval, "time between views (default 1s)");
  c_top->callback([&] { code = top_view(target.rtdb, once, json, duration_option(interval, "--interval")); });

  auto* c_check = app.add_subcommand(
      "check", "Check every shared structure of an RTDB: one line per fault, exit 1 when any (2: cannot check)");
  target_options(c_check, &target, false);
  c_check->callback([&] { code = check_rtdb(target.rtdb); });

  std::string about;
  auto* c_help = app.add_subcommand("help", "Show the help of rkctl or of one of its commands");
  c_help->add_option("command", about, "a command");
  c_help->callback([&] {
    // app.help() would give the help of the command that runs: this one.
    if (about.empty()) {
      std::cout << app.get_formatter()->make_help(&app, "rkctl", CLI::AppFormatMode::Normal);
    } else if (CLI::App* sub = find_command(app, about)) {
      std::cout << sub->get_formatter()->make_help(sub, "rkctl " + about, CLI::AppFormatMode::Normal);
    } else {
      throw Failure(unknown_command_text(app, about), kUsage);
    }
  });

  try {
    // What CLI11 would only call "a subcommand is required", or answer with
    // the general help, is said here: the version, a mistyped command.
    if (argc >= 2 && std::string(argv[1]) == kCompleteCommand) return complete(app, argc - 2, argv + 2);
    if (argc >= 2 && std::string(argv[1]) == kCommandsCommand) return list_commands(app);
    if (argc >= 3 && std::string(argv[2]) == "--version" && find_command(app, argv[1]) != nullptr) {
      std::cout << version_text() << std::endl;
      return 0;
    }
    if (argc < 2) {
      std::cerr << app.help();
      return kUsage;
    }
    if (argv[1][0] != '-' && find_command(app, argv[1]) == nullptr) {
      throw Failure(unknown_command_text(app, argv[1]), kUsage);
    }
    // The run manager takes its signals through a descriptor of its own;
    // every other command through the interrupt thread.
    if (std::string(argv[1]) != "run") catch_interrupts();
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int r = app.exit(e);
    return r == 0 ? 0 : kUsage;
  } catch (const Failure& f) {
    fprintf(stderr, "%s\n", f.what());
    return f.exit_code;
  } catch (const std::exception& e) {
    fprintf(stderr, "rkctl: %s\n", e.what());
    return 1;
  }
  return code;
}
