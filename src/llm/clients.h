// The model clients: each turns an LLMRequest into one network call or one
// program run and returns the answer text, whole or as it arrives.
//
//   OpenAIChatClient   POST {base}/chat/completions, JSON or server-sent events
//   OllamaChatClient   POST {root}/api/chat, JSON or one JSON object per line
//   ChatGPTClient      POST {backend}/backend-api/codex/responses, event stream
//   ClaudeCodeClient   runs the `claude` program, stream-json or json output
//
// All network traffic goes through the injected HttpClient. Clients never
// retry. Thread-safe: calls may run concurrently on one client.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/clock.h"
#include "base/http.h"
#include "llm/catalog.h"
#include "llm/llm.h"

namespace orwenna {

// Listing models is one small read, unlike a chat answer.
inline constexpr std::chrono::milliseconds kModelListTimeout{15'000};

struct ChatTimeouts {
  std::chrono::milliseconds whole{180'000};   // a whole answer
  std::chrono::milliseconds stream{120'000};  // the longest silence in a streamed one
};

class OpenAIChatClient final : public LLMClient {
 public:
  OpenAIChatClient(HttpClient& http, std::string baseURL, std::optional<std::string> key, bool jsonMode,
                   ChatTimeouts timeouts = {});
  std::string complete(const LLMRequest& request) override;
  std::string completeStreaming(const LLMRequest& request, const PartialText& onText) override;
  // GET {base}/models: the `id` of each entry of `data`.
  std::vector<std::string> listModels();

  // The request body (exposed for the provider's checks and for tests of key order).
  Json body(const LLMRequest& request, bool stream) const;

 private:
  HttpRequest httpRequest(const LLMRequest& request, bool stream) const;

  HttpClient& http_;
  std::string baseURL_;
  std::optional<std::string> key_;
  bool jsonMode_;
  ChatTimeouts timeouts_;
};

class OllamaChatClient final : public LLMClient {
 public:
  // `base` is the server root, without "/v1".
  OllamaChatClient(HttpClient& http, std::string base, ChatTimeouts timeouts = {});
  std::string complete(const LLMRequest& request) override;
  std::string completeStreaming(const LLMRequest& request, const PartialText& onText) override;
  Json body(const LLMRequest& request, bool stream) const;

 private:
  HttpClient& http_;
  std::string base_;
  ChatTimeouts timeouts_;
};

// "orwenna-" + FNV-1a 64 of the instructions in lower-case base 36.
std::string promptCacheKey(std::string_view instructions);
// One random session id per run of the app.
const std::string& chatGPTSessionID();

class ChatGPTClient final : public LLMClient {
 public:
  // Stored sign-in tokens (refreshed when they near expiry, then handed to
  // `save`), or the path of the Codex CLI login file (re-read for every call).
  using Source = std::variant<OAuthTokens, std::filesystem::path>;
  using SaveTokens = std::function<void(const OAuthTokens&)>;

  ChatGPTClient(HttpClient& http, Clock& clock, LLMEndpoints endpoints, Source source, SaveTokens save,
                std::string sessionID = chatGPTSessionID(), ChatTimeouts timeouts = {});
  std::string complete(const LLMRequest& request) override;
  std::string completeStreaming(const LLMRequest& request, const PartialText& onText) override;
  // The backend's model list: visible entries by priority, as slugs.
  std::vector<std::string> listModels();

  Json body(const LLMRequest& request) const;

 private:
  struct Access {
    std::string token;
    std::string accountID;
  };
  Access access();

  HttpClient& http_;
  Clock& clock_;
  LLMEndpoints endpoints_;
  std::mutex mutex_;  // guards source_ while tokens are renewed
  Source source_;
  SaveTokens save_;
  std::string sessionID_;
  ChatTimeouts timeouts_;
};

class ClaudeCodeClient final : public LLMClient {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeLimit{240'000};

  // `environment` is the one to edit (this process's by default).
  explicit ClaudeCodeClient(std::filesystem::path program, std::chrono::milliseconds timeLimit = kDefaultTimeLimit,
                            std::optional<std::vector<std::string>> environment = std::nullopt);
  std::string complete(const LLMRequest& request) override;
  std::string completeStreaming(const LLMRequest& request, const PartialText& onText) override;

  std::vector<std::string> arguments(const LLMRequest& request, bool stream) const;
  std::vector<std::string> environment() const;
  // The non-system turns as the program's standard input.
  static std::string conversationText(const LLMRequest& request);

 private:
  std::filesystem::path program_;
  std::chrono::milliseconds timeLimit_;
  std::optional<std::vector<std::string>> environment_;
};

}  // namespace orwenna
