// The keep-running units written, enabled and removed in a temporary folder,
// with a recording stand-in for systemctl.
#include <gtest/gtest.h>

#include "base/files.h"
#include "platform/keep_running.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

TEST(KeepRunning, ExecStartQuotesThePathAsSystemdReadsIt) {
  EXPECT_EQ(KeepRunning::systemdQuoted(R"(/opt/my apps/100%/a"b\c$HOME)"), R"("/opt/my apps/100%%/a\"b\\c$$HOME")");
  EXPECT_NE(KeepRunning::serviceText("/opt/my apps/orwenna").find("ExecStart=\"/opt/my apps/orwenna\" serve --background\n"),
            std::string::npos);
}

TEST(KeepRunning, OnWritesAndEnablesOffDisablesAndRemoves) {
  testing::TempDir dir;
  const auto folder = dir.path() / "systemd" / "user";
  std::vector<std::string> calls;
  int failWith = 0;
  KeepRunning::Systemctl systemctl = [&](const std::vector<std::string>& args) {
    std::string line;
    for (const auto& a : args) line += (line.empty() ? "" : " ") + a;
    calls.push_back(line);
    return KeepRunning::SystemctlResult{failWith, ""};
  };
  EXPECT_THROW(KeepRunning::turnOn(folder, "orwenna", systemctl), KeepRunningError);  // a relative path can't start
  EXPECT_TRUE(calls.empty());

  KeepRunning::turnOn(folder, "/usr/bin/orwenna", systemctl);
  EXPECT_EQ(readFile(folder / KeepRunning::kTimer), KeepRunning::timerText());
  EXPECT_EQ(fileMode(folder / KeepRunning::kService), std::optional<mode_t>(0644));
  EXPECT_EQ(calls, (std::vector<std::string>{"daemon-reload", "enable --now app.orwenna.keeprunning.timer"}));
  EXPECT_TRUE(KeepRunning::status(folder, std::nullopt).installed);

  calls.clear();
  failWith = 1;
  EXPECT_THROW(KeepRunning::turnOff(folder, systemctl), KeepRunningError);
  EXPECT_TRUE(std::filesystem::exists(folder / KeepRunning::kTimer));  // still on: nothing removed
  failWith = 0;
  calls.clear();
  KeepRunning::turnOff(folder, systemctl);
  EXPECT_EQ(calls, (std::vector<std::string>{"disable --now app.orwenna.keeprunning.timer", "daemon-reload"}));
  EXPECT_FALSE(std::filesystem::exists(folder / KeepRunning::kTimer));
  EXPECT_FALSE(std::filesystem::exists(folder / KeepRunning::kService));
  EXPECT_FALSE(KeepRunning::status(folder, std::nullopt).installed);
}

}  // namespace
}  // namespace orwenna
