// rkctl's command line and what it says when it cannot help: the version, a
// mistyped command with the closest one, the manual pages made from the help
// texts, completion, and an RTDB that this user may not open or that runs in
// another namespace.
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "support/rkctl_test.h"

namespace rk::test {

namespace {

// Standard output of a shell command line.
std::string shell_output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

}  // namespace

TEST_F(RkctlTest, CommandLineMistakesAreNamed) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* out;   // part of standard output
    const char* err;   // part of standard error
  } cases[] = {
      {{"--version"}, 0, "rkctl ", ""},
      {{"stpo"}, 2, "", "rkctl: unknown command \"stpo\"; did you mean \"stop\"?\n"},
      {{"stpo", "--help"}, 2, "", "did you mean \"stop\"?"},
      {{"wat", "A[0]"}, 2, "", "did you mean \"watch\"?"},
      {{"xyzzy"}, 2, "", "unknown command \"xyzzy\" (rkctl help lists the commands)"},
      {{}, 2, "", "Usage: rkctl [OPTIONS] SUBCOMMAND"},
      {{"help"}, 0, "Usage: rkctl [OPTIONS] SUBCOMMAND", ""},
      {{"help", "watch"}, 0, "Usage: rkctl watch [OPTIONS] tags...", ""},
      {{"help", "wacth"}, 2, "", "did you mean \"watch\"?"},
      {{"get", "--bogus", "A[0]"}, 2, "", "--bogus"},
  };
  for (const Case& c : cases) {
    const ToolResult r = run_rkctl(c.args);
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.code, c.code) << what << ": " << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << what << ": " << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << what << ": " << r.err;
  }
  EXPECT_EQ(run_rkctl({"--version"}).out.find("rkctl "), 0u);
}

// The build made a page for rkctl and one for each command from their help
// texts; man renders them.
TEST_F(RkctlTest, ManualPagesAreMadeFromTheHelpTexts) {
  if (shell_output("command -v man").empty()) GTEST_SKIP() << "man is not installed";
  struct Page {
    const char* file;
    const char* shows;
  } pages[] = {
      {"rkctl.1", "rkctl - run a plant and look inside running RTDBs"},
      {"rkctl-get.1", "--raw"},
      {"rkctl-run.1", "--log"},
      {"rkctl-down.1", "rkctl-down - Stop a whole plant in order"},
  };
  for (const Page& p : pages) {
    const std::string text =
        shell_output("MANWIDTH=200 man -l " + std::string(RKCTL_MAN_DIR) + "/" + p.file + " 2>&1 | col -b");
    EXPECT_NE(text.find(p.shows), std::string::npos) << p.file << ":\n" << text;
  }
}

// Completion asks rkctl for commands, options, RTDB, type and task names.
TEST_F(RkctlTest, BashCompletionKnowsCommandsOptionsAndNames) {
  RkctlProcess& run = start({"run", plant(one_instance("Complete", R"([[type]]
name = "TEMP"
kind = "bytes"
size = 8
count = 1
[[type]]
name = "TALLY"
kind = "mailbox"
count = 1
)", "  [[instance.client]]\n  task = \"SLEEPER\"\n  command = \"sleep 600\"\n"))});
  ASSERT_TRUE(run.wait_for("started SLEEPER", kBoundMs)) << run.output() << run.errors();
  struct Case {
    const char* words;   // COMP_WORDS after rkctl, the last one being completed
    const char* offers;  // COMPREPLY, one a line
  } cases[] = {
      {"wa", "watch\n"},
      {"get --r", "--rtdb\n--raw\n"},
      {"get --rtdb ''", "Complete\n"},
      {"get T", "TEMP\nTALLY\n"},
      {"send ''", "TALLY\n"},
      {"stop SL", "SLEEPER\n"},
      {"get --instance ''", "OPS/A\n"},
      {"dump p", "procs\n"},
  };
  for (const Case& c : cases) {
    const std::string script = dir_ + "/complete.sh";
    std::ofstream(script) << "source " << RKCTL_COMPLETION << "\nCOMP_WORDS=(" << RKCTL << " " << c.words
                          << ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_rkctl\n"
                          << "[ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    EXPECT_EQ(shell_output("bash " + script), c.offers) << c.words;
  }
  ASSERT_EQ(run.finish(kBoundMs, SIGINT), 0);
}

// An RTDB of another user made without world = true cannot be opened: the
// tools say whose it is. One made with world = true can. And a namespace
// without RTDBs names those that have some.
TEST_F(RkctlTest, RtdbsThisUserOrNamespaceCannotSeeAreNamed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a tool as another user";
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
  const std::string types = "[[type]]\nname = \"A\"\nkind = \"bytes\"\nsize = 4\nclass = \"int32\"\ncount = 1\n";
  RkctlProcess& mine = start({"run", plant(one_instance("Mine", types, ""), "mine.toml")});
  ASSERT_TRUE(mine.wait_for("RTDB Mine running", kBoundMs)) << mine.output() << mine.errors();
  const std::string shared_text = one_instance("Shared", types, "");
  RkctlProcess& shared = start({"run", plant(shared_text.substr(0, shared_text.find("[[domain]]")) + "world = true\n" +
                                             shared_text.substr(shared_text.find("[[domain]]")),
                                             "shared.toml")});
  ASSERT_TRUE(shared.wait_for("RTDB Shared running", kBoundMs)) << shared.output() << shared.errors();
  const std::string kgd_of_mine = mine.output().substr(mine.output().find("(kgd ") + 1, 5);

  SpawnOptions as_nobody;
  as_nobody.as_user = true;
  as_nobody.uid = nobody->pw_uid;
  as_nobody.gid = nobody->pw_gid;
  const std::string refused =
      "this user (nobody) may not open the RTDBs of other users made without world = true: " + kgd_of_mine +
      " of user root";
  const ToolResult get = run_rkctl({"get", "--rtdb", "Mine", "A[0]"}, kBoundMs, as_nobody);
  EXPECT_EQ(get.code, 1);
  EXPECT_NE(get.err.find("rkctl: no RTDB named Mine; " + refused), std::string::npos) << get.err;
  const ToolResult ls = run_rkctl({"ls"}, kBoundMs, as_nobody);
  EXPECT_EQ(ls.code, 0) << ls.err;
  EXPECT_NE(ls.out.find("Shared"), std::string::npos) << ls.out;
  EXPECT_NE(ls.err.find(refused), std::string::npos) << ls.err;
  const ToolResult world = run_rkctl({"get", "--rtdb", "Shared", "A[0]"}, kBoundMs, as_nobody);
  EXPECT_EQ(world.code, 0) << world.err;
  EXPECT_EQ(world.out, "A[0] = 0\n");

  SpawnOptions elsewhere;
  elsewhere.env = {"RKNAMESPACE=" + ns_ + "other_"};
  const ToolResult lost = run_rkctl({"get", "A[0]"}, kBoundMs, elsewhere);
  EXPECT_EQ(lost.code, 1);
  EXPECT_NE(lost.err.find("rkctl: no RTDB runs; none in RKNAMESPACE=\"" + ns_ + "other_\", RTDBs run in "),
            std::string::npos)
      << lost.err;
  EXPECT_NE(lost.err.find("RKNAMESPACE=\"" + ns_ + "\" (2)"), std::string::npos) << lost.err;

  EXPECT_EQ(mine.finish(kBoundMs, SIGINT), 0) << mine.output();
  EXPECT_EQ(shared.finish(kBoundMs, SIGINT), 0) << shared.output();
  EXPECT_TRUE(objects_left().empty());
}

}  // namespace rk::test
