// The Claude Code client against a small fake `claude` program that checks
// its arguments and environment the way the real one would see them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/files.h"
#include "llm/clients.h"
#include "llm/llm_test_support.h"
#include "llm/providers.h"
#include "llm/sign_in.h"

namespace orwenna {
namespace {

using testing::failureOf;
using testing::TempDir;

// Writes an executable shell script. The script sees exactly what the client
// passes: each argument on its own line in args.txt, stdin in input.txt.
std::filesystem::path writeProgram(const std::filesystem::path& dir, const std::string& name, const std::string& body) {
  auto path = dir / name;
  testing::writeText(path, "#!/bin/sh\n"
                           "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + (dir / "args.txt").string() + "\"\n"
                           "cat > \"" + (dir / "input.txt").string() + "\"\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

// The script refuses to answer unless the environment was edited as required.
const std::string kEnvironmentCheck =
    "[ -z \"${CLAUDECODE+x}\" ] || { echo 'CLAUDECODE leaked' >&2; exit 41; }\n"
    "[ -z \"${CLAUDE_CODE_ENTRYPOINT+x}\" ] || { echo 'entrypoint leaked' >&2; exit 42; }\n"
    "[ \"$DISABLE_AUTOUPDATER\" = 1 ] || exit 43\n"
    "[ \"$KEEP_ME\" = kept ] || exit 44\n";

std::vector<std::string> parentEnvironment() {
  return {"PATH=/usr/bin:/bin", "CLAUDECODE=1", "CLAUDE_CODE_ENTRYPOINT=cli", "DISABLE_AUTOUPDATER=0",
          "KEEP_ME=kept"};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  return out;
}

LLMRequest request(bool thinking, bool withSystem) {
  LLMRequest r;
  r.model = "claude-sonnet-5-5";
  if (withSystem) r.messages.push_back({LLMMessage::Role::system, "Reply with one JSON object."});
  r.messages.push_back({LLMMessage::Role::user, "what's my PnL?"});
  r.thinking = thinking;
  return r;
}

TEST(ClaudeCodeClient, WholeAnswerFromJsonOutput) {
  TempDir dir;
  auto program = writeProgram(dir.path(), "claude",
                              kEnvironmentCheck +
                                  "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                                  "\"result\":\"{\\\"reply\\\":\\\"up 3%\\\"}\"}'\n");
  ClaudeCodeClient client(program, std::chrono::seconds(20), parentEnvironment());
  EXPECT_EQ(client.complete(request(false, true)), R"({"reply":"up 3%"})");
  EXPECT_EQ(lines(*readFile(dir.path() / "args.txt")),
            (std::vector<std::string>{"-p", "--restricted", "--strict-mcp-config", "--tools", "",
                                      "--no-session-persistence", "--model", "claude-sonnet-5-5", "--system-prompt",
                                      "Reply with one JSON object.", "--output-format", "json"}));
  EXPECT_EQ(*readFile(dir.path() / "input.txt"), "what's my PnL?");
}

TEST(ClaudeCodeClient, StreamsTextDeltasFromStreamJson) {
  TempDir dir;
  auto program = writeProgram(
      dir.path(), "claude",
      kEnvironmentCheck +
          "echo '{\"type\":\"system\",\"subtype\":\"init\"}'\n"
          "echo '{\"type\":\"stream_event\",\"event\":{\"type\":\"content_block_start\",\"index\":0}}'\n"
          "echo '{\"type\":\"stream_event\",\"event\":{\"type\":\"content_block_delta\",\"delta\":{\"type\":\"text_delta\",\"text\":\"Up \"}}}'\n"
          "echo '{\"type\":\"stream_event\",\"event\":{\"type\":\"content_block_delta\",\"delta\":{\"type\":\"thinking_delta\",\"thinking\":\"hmm\"}}}'\n"
          "echo 'not json at all'\n"
          "echo '{\"type\":\"stream_event\",\"event\":{\"type\":\"content_block_delta\",\"delta\":{\"type\":\"text_delta\",\"text\":\"3%\"}}}'\n"
          "echo '{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"text\",\"text\":\"Up 3%\"}]}}'\n"
          "echo '{\"type\":\"result\",\"is_error\":false,\"result\":\"Up 3%\"}'\n");
  ClaudeCodeClient client(program, std::chrono::seconds(20), parentEnvironment());
  std::vector<std::string> partials;
  LLMRequest r = request(true, false);
  r.messages = {{LLMMessage::Role::user, "hi"}, {LLMMessage::Role::assistant, "hello"}, {LLMMessage::Role::user, "pnl?"}};
  EXPECT_EQ(client.completeStreaming(r, [&](const std::string& t) { partials.push_back(t); }), "Up 3%");
  EXPECT_EQ(partials, (std::vector<std::string>{"Up ", "Up 3%"}));
  EXPECT_EQ(lines(*readFile(dir.path() / "args.txt")),
            (std::vector<std::string>{"-p", "--restricted", "--strict-mcp-config", "--tools", "",
                                      "--no-session-persistence", "--model", "claude-sonnet-5-5", "--system-prompt",
                                      "You are an assistant. Answer briefly and to the point.", "--effort", "high",
                                      "--output-format", "stream-json", "--verbose", "--include-partial-messages"}));
  EXPECT_EQ(*readFile(dir.path() / "input.txt"), "User: hi\n\nAssistant: hello\n\nUser: pnl?");
}

TEST(ClaudeCodeClient, FailuresSayWhatHappened) {
  struct Case {
    const char* name;
    std::string body;
    bool streaming;
    std::string message;
  } cases[] = {
      {"error result", "echo '{\"type\":\"result\",\"is_error\":true,\"result\":\"Invalid API key\"}'\n", false,
       "Claude Code replied unexpectedly: {\"type\":\"result\",\"is_error\":true,\"result\":\"Invalid API key\"}"},
      {"no result", "echo '{\"type\":\"result\"}'\n", false, "Claude Code replied unexpectedly: {\"type\":\"result\"}"},
      {"not json", "echo 'Please log in'\n", false, "Claude Code replied unexpectedly: Please log in"},
      {"streamed error result", "echo '{\"type\":\"result\",\"is_error\":true}'\n", true,
       "Claude Code replied unexpectedly: {\"type\":\"result\",\"is_error\":true}"},
      {"exit status", "echo 'boom' >&2; exit 3\n", false, "Claude Code stopped with code 3"},
      {"exit status streamed", "exit 7\n", true, "Claude Code stopped with code 7"},
      {"silent", "exec sleep 30\n", true,
       "Claude Code didn't answer in 1 s, so it was stopped. Send it again, or pick another model."},
  };
  for (auto& c : cases) {
    TempDir dir;
    auto program = writeProgram(dir.path(), "claude", kEnvironmentCheck + c.body);
    ClaudeCodeClient client(program, std::chrono::seconds(1), parentEnvironment());
    EXPECT_EQ(testing::failureOfAsking(client, request(false, true), c.streaming), c.message) << c.name;
  }
  // The environment check itself bites: a variable the parent lacks fails the run.
  TempDir dir;
  auto program = writeProgram(dir.path(), "claude", kEnvironmentCheck + "echo '{\"result\":\"x\"}'\n");
  ClaudeCodeClient client(program, std::chrono::seconds(5), std::vector<std::string>{"PATH=/usr/bin:/bin"});
  EXPECT_EQ(failureOf([&] { (void)client.complete(request(false, false)); }), "Claude Code stopped with code 44");
}

TEST(ClaudeCodeLogin, LooksInTheUsualPlacesThenOnPath) {
  TempDir home;
  TempDir bin;
  auto onPath = writeProgram(bin.path(), "claude", "exit 0\n");
  EXPECT_EQ(findClaudeProgram(home.path(), "relative/dir:" + bin.path().string()), onPath);
  EXPECT_FALSE(findClaudeProgram(home.path(), "/nonexistent"));
  // Not executable: skipped.
  testing::writeText(home.path() / ".claude" / "local" / "claude", "#!/bin/sh\n");
  EXPECT_EQ(findClaudeProgram(home.path(), bin.path().string()), onPath);
  auto local = writeProgram(home.path() / ".claude" / "local", "claude", "exit 0\n");
  EXPECT_EQ(findClaudeProgram(home.path(), bin.path().string()), local);
  auto userBin = writeProgram(home.path() / ".local" / "bin", "claude", "exit 0\n");
  EXPECT_EQ(findClaudeProgram(home.path(), bin.path().string()), userBin);
}

TEST(ClaudeCodeProvider, AdoptsTheInstalledProgramAndRunsIt) {
  TempDir home;
  auto program = writeProgram(home.path() / ".local" / "bin", "claude",
                              kEnvironmentCheck + "echo '{\"is_error\":false,\"result\":\"pong\"}'\n");
  testing::FixedClock clock(0);
  testing::ScriptedRandom random;
  MemoryCredentialStore store;
  LLMEnvironment env{CurlHttpClient::shared(), clock, random, store};
  env.home = home.path();
  env.searchPath = "";
  env.claudeEnvironment = parentEnvironment();
  auto providers = makeProviders(env);
  auto& claude = testing::providerOf(providers, "claude-code");
  Credential credential = claude.existingLogin();
  EXPECT_EQ(credential, Credential::external(program.string()));
  EXPECT_EQ(claude.makeClient(credential, "claude-opus-5-5")->complete(request(false, false)), "pong");
  std::filesystem::remove(program);
  EXPECT_EQ(failureOf([&] { (void)claude.existingLogin(); }), "Claude Code isn't connected.");
  EXPECT_EQ(failureOf([&] { (void)claude.makeClient(credential, "claude-opus-5-5"); }), "Claude Code isn't connected.");
}

}  // namespace
}  // namespace orwenna
