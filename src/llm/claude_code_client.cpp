#include "llm/clients.h"

#include <fmt/format.h>

#include "base/log.h"
#include "base/text.h"
#include "llm/wire.h"
#include "platform/process.h"

namespace orwenna {

namespace {

constexpr const char* kDefaultSystem = "You are an assistant. Answer briefly and to the point.";

std::string systemText(const LLMRequest& request) {
  std::string out;
  for (const auto& m : request.messages) {
    if (m.role != LLMMessage::Role::system) continue;
    if (!out.empty()) out += "\n\n";
    out += m.text;
  }
  return out.empty() ? kDefaultSystem : out;
}

// Text of a stream-json line that carries a piece of the answer, if it does.
std::optional<std::string> textDelta(const Json& line) {
  if (optionalString(line, "type") != "stream_event") return std::nullopt;
  auto event = line.find("event");
  if (event == line.end() || !event->is_object() || optionalString(*event, "type") != "content_block_delta")
    return std::nullopt;
  auto delta = event->find("delta");
  if (delta == event->end() || !delta->is_object() || optionalString(*delta, "type") != "text_delta")
    return std::nullopt;
  return optionalString(*delta, "text");
}

bool isErrorResult(const Json& result) {
  auto e = result.find("is_error");
  return e != result.end() && e->is_boolean() && e->get<bool>();
}

}  // namespace

ClaudeCodeClient::ClaudeCodeClient(std::filesystem::path program, std::chrono::milliseconds timeLimit,
                                   std::optional<std::vector<std::string>> environment)
    : program_(std::move(program)), timeLimit_(timeLimit), environment_(std::move(environment)) {}

std::vector<std::string> ClaudeCodeClient::arguments(const LLMRequest& request, bool stream) const {
  std::vector<std::string> args{"-p",      "--restricted", "--strict-mcp-config", "--tools", "",
                                "--no-session-persistence", "--model", request.model, "--system-prompt",
                                systemText(request)};
  if (request.thinking) args.insert(args.end(), {"--effort", "high"});
  if (stream) {
    args.insert(args.end(), {"--output-format", "stream-json", "--verbose", "--include-partial-messages"});
  } else {
    args.insert(args.end(), {"--output-format", "json"});
  }
  return args;
}

std::vector<std::string> ClaudeCodeClient::environment() const {
  std::vector<std::string> env = environment_ ? *environment_ : currentEnvironment();
  // Started from inside a Claude Code session, the program would think it is nested.
  env = withVariable(std::move(env), "CLAUDECODE", std::nullopt);
  env = withVariable(std::move(env), "CLAUDE_CODE_ENTRYPOINT", std::nullopt);
  return withVariable(std::move(env), "DISABLE_AUTOUPDATER", "1");
}

std::string ClaudeCodeClient::conversationText(const LLMRequest& request) {
  std::vector<const LLMMessage*> turns;
  for (const auto& m : request.messages)
    if (m.role != LLMMessage::Role::system) turns.push_back(&m);
  // One user turn goes as it is; a longer exchange is labelled turn by turn.
  if (turns.size() == 1 && turns[0]->role == LLMMessage::Role::user) return turns[0]->text;
  std::string out;
  for (const auto* m : turns) {
    if (!out.empty()) out += "\n\n";
    out += m->role == LLMMessage::Role::user ? "User: " : "Assistant: ";
    out += m->text;
  }
  return out;
}

namespace {

void checkRun(const ProcessResult& result, std::chrono::milliseconds limit) {
  if (result.timedOut) {
    throw LLMError(fmt::format(
        "Claude Code didn't answer in {} s, so it was stopped. Send it again, or pick another model.",
        limit.count() / 1000));
  }
  if (result.exitStatus != 0) {
    log::warn("Claude Code exited with {}", result.exitStatus);
    throw LLMError(fmt::format("Claude Code stopped with code {}", result.exitStatus));
  }
}

}  // namespace

std::string ClaudeCodeClient::complete(const LLMRequest& request) {
  ProcessSpec spec{program_, arguments(request, false), environment(), conversationText(request), timeLimit_, nullptr};
  std::string output;
  ProcessResult result = runProcess(spec, [&](std::string_view line) {
    if (!output.empty()) output += '\n';
    output += line;
  });
  checkRun(result, timeLimit_);
  std::string shown = text::trimmed(output);
  auto json = parseObject(shown);
  if (!json || isErrorResult(*json) || !optionalString(*json, "result")) {
    throw LLMError("Claude Code replied unexpectedly: " + shown);
  }
  std::string text = *optionalString(*json, "result");
  if (text::trimmed(text).empty()) throw LLMError("The model returned an empty reply.");
  return text;
}

std::string ClaudeCodeClient::completeStreaming(const LLMRequest& request, const PartialText& onText) {
  ProcessSpec spec{program_, arguments(request, true), environment(), conversationText(request), timeLimit_, nullptr};
  std::string text;
  std::optional<std::string> failure;
  std::optional<std::string> finalResult;
  bool ended = false;
  ProcessResult result = runProcess(spec, [&](std::string_view line) {
    if (ended || failure) return;
    auto json = parseObject(line);
    if (!json) return;  // progress chatter is not part of the answer
    if (auto piece = textDelta(*json)) {
      text += *piece;
      if (onText) onText(text);
    } else if (optionalString(*json, "type") == "result") {
      ended = true;
      if (isErrorResult(*json)) failure = std::string(line);
      finalResult = optionalString(*json, "result");
    }
  });
  checkRun(result, timeLimit_);
  if (failure) throw LLMError("Claude Code replied unexpectedly: " + *failure);
  // Without partial messages the whole answer still arrives in the result line.
  if (text::trimmed(text).empty() && finalResult) {
    text = *finalResult;
    if (onText && !text.empty()) onText(text);
  }
  if (text::trimmed(text).empty()) throw LLMError("The model returned an empty reply.");
  return text;
}

}  // namespace orwenna
