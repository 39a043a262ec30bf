// Running programs through posix_spawn: input, output lines, exit status,
// the time limit, and programs found on a search path.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

ProcessSpec shell(const std::string& script, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  ProcessSpec spec;
  spec.program = "/bin/sh";
  spec.arguments = {"-c", script};
  spec.environment = {"PATH=/usr/bin:/bin"};
  spec.timeLimit = limit;
  return spec;
}

std::vector<std::string> run(const ProcessSpec& spec, ProcessResult* result = nullptr) {
  std::vector<std::string> lines;
  ProcessResult r = runProcess(spec, [&](std::string_view l) { lines.emplace_back(l); });
  if (result) *result = r;
  return lines;
}

TEST(RunProcess, FeedsInputAndSplitsOutputIntoLines) {
  ProcessSpec spec = shell("tr a-z A-Z; printf 'no newline at end'");
  // Bigger than a pipe buffer both ways, so reading and writing must interleave.
  std::string big(200000, 'x');
  spec.input = "first\r\nsecond\n" + big + "\n";
  ProcessResult result;
  EXPECT_EQ(run(spec, &result),
            (std::vector<std::string>{"FIRST", "SECOND", std::string(200000, 'X'), "no newline at end"}));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(result.timedOut);
}

TEST(RunProcess, ArgumentsAndEnvironmentArriveUntouched) {
  ProcessSpec spec;
  spec.program = "/bin/sh";
  spec.arguments = {"-c", "printf '%s|' \"$@\"; echo; echo \"$ONLY\"; echo \"${HOME-unset}\"", "sh", "", "a b", "$HOME",
                    "'; rm -rf /"};
  spec.environment = {"ONLY=this one"};
  auto lines = run(spec);
  EXPECT_EQ(lines, (std::vector<std::string>{"|a b|$HOME|'; rm -rf /|", "this one", "unset"}));
}

TEST(RunProcess, ReportsExitStatusAndSignals) {
  struct Case {
    const char* script;
    int status;
  } cases[] = {{"exit 0", 0}, {"echo oops >&2; exit 255", 255}, {"kill -9 $$", 128 + 9}};
  for (const auto& c : cases) {
    ProcessResult result;
    run(shell(c.script), &result);
    EXPECT_EQ(result.exitStatus, c.status) << c.script;
  }
  ProcessResult result;
  run(shell("echo 'the reason' >&2; exit 1"), &result);
  EXPECT_EQ(result.errorTail, "the reason\n");
}

TEST(RunProcess, StopsAProgramThatRunsTooLongOrIsCancelled) {
  ProcessResult result;
  auto lines = run(shell("echo started; exec sleep 30", std::chrono::milliseconds(300)), &result);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(lines, std::vector<std::string>{"started"});
  EXPECT_EQ(result.exitStatus, 128 + 15);

  // A child that closes its output but keeps running is held to the same limit.
  run(shell("exec >&- 2>&-; sleep 30", std::chrono::milliseconds(300)), &result);
  EXPECT_TRUE(result.timedOut);

  Cancellation cancel;
  ProcessSpec spec = shell("while :; do echo tick; sleep 0.05; done");
  spec.cancellation = &cancel;
  int ticks = 0;
  result = runProcess(spec, [&](std::string_view) {
    if (++ticks == 3) cancel.cancel();
  });
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.timedOut);
}

TEST(RunProcess, AThrowingHandlerStopsTheChild) {
  ProcessSpec spec = shell("echo one; exec sleep 30");
  auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(runProcess(spec, [](std::string_view) { throw std::runtime_error("enough"); }), std::runtime_error);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << "the child was left running";
}

TEST(RunProcess, AMissingProgramIsAnError) {
  ProcessSpec spec;
  spec.program = "/nonexistent/claude";
  try {
    runProcess(spec, [](std::string_view) {});
    ADD_FAILURE();
  } catch (const ProcessError& e) {
    EXPECT_EQ(std::string(e.what()), "Couldn't start /nonexistent/claude: No such file or directory.");
  }
}

TEST(Environment, VariablesAreReplacedOrRemovedWhole) {
  std::vector<std::string> env{"A=1", "AB=2", "B=3", "A=4"};
  EXPECT_EQ(withVariable(env, "A", std::nullopt), (std::vector<std::string>{"AB=2", "B=3"}));
  EXPECT_EQ(withVariable(env, "B", "x=y"), (std::vector<std::string>{"A=1", "AB=2", "A=4", "B=x=y"}));
}

TEST(FindOnPath, TakesTheFirstExecutableFromAbsoluteFolders) {
  testing::TempDir dir;
  const std::filesystem::path root = dir.path();
  std::filesystem::create_directories(root / "a");
  std::filesystem::create_directories(root / "b");
  std::ofstream(root / "a" / "tool") << "#!/bin/sh\n";  // not executable
  std::ofstream(root / "b" / "tool") << "#!/bin/sh\n";
  ::chmod((root / "b" / "tool").c_str(), 0755);
  std::string path = (root / "a").string() + "::relative:" + (root / "b").string();
  EXPECT_EQ(findOnPath("tool", path), root / "b" / "tool");
  EXPECT_FALSE(findOnPath("tool", (root / "a").string()));
  EXPECT_FALSE(findOnPath("../b/tool", (root / "a").string()));
  EXPECT_FALSE(findOnPath("b", root.string()));  // a folder is not a program
}

}  // namespace
}  // namespace orwenna
