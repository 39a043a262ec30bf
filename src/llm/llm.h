// The records every model client accepts, the credentials providers need, the
// error every model failure is reported with, and the two client interfaces.
//
// Clients block the calling thread; the chat runs them on its own worker
// threads and may run several at once, so every client is thread-safe.
// Network failures surface as orwenna::NetError (base/http.h); every other
// failure is an LLMError whose message is shown to the user word for word.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "base/http.h"
#include "base/json.h"

namespace orwenna {

class LLMError : public Error {
 public:
  explicit LLMError(const std::string& message) : Error(message) {}
  std::string message() const { return what(); }
};

struct LLMMessage {
  enum class Role { system, user, assistant };
  Role role = Role::user;
  std::string text;

  bool operator==(const LLMMessage&) const = default;
};

std::string roleName(LLMMessage::Role role);  // "system", "user", "assistant"

struct LLMRequest {
  std::string model;
  std::vector<LLMMessage> messages;
  bool wantsJSON = false;
  bool thinking = false;
};

enum class ProviderKind { subscription, apiKey, local };
std::string kindName(ProviderKind kind);  // "subscription", "apiKey", "local"

struct ProviderInfo {
  std::string id;
  std::string name;
  ProviderKind kind = ProviderKind::apiKey;
  std::string defaultModel;
  std::string note;
  bool takesKey = false;
  std::optional<std::string> signInLabel;
  std::optional<std::string> existingLoginLabel;
  std::optional<std::string> unavailable;
  std::vector<std::string> models;
};

struct OAuthTokens {
  std::string access;
  std::string refresh;
  std::int64_t expires = 0;  // milliseconds since 1970
  std::optional<std::string> accountID;

  bool operator==(const OAuthTokens&) const = default;
};

// One stored credential: an API key, browser sign-in tokens, or the path of a
// login another program holds.
struct Credential {
  struct ApiKey {
    std::string key;
    bool operator==(const ApiKey&) const = default;
  };
  struct External {
    std::string path;
    bool operator==(const External&) const = default;
  };
  std::variant<ApiKey, OAuthTokens, External> value;

  static Credential apiKey(std::string key) { return Credential{ApiKey{std::move(key)}}; }
  static Credential oauth(OAuthTokens tokens) { return Credential{std::move(tokens)}; }
  static Credential external(std::string path) { return Credential{External{std::move(path)}}; }

  const std::string* apiKeyValue() const;
  const OAuthTokens* oauthValue() const;
  const std::string* externalPath() const;

  // {"apiKey":{"_0":"…"}}, {"oauth":{"_0":{"access":…,"refresh":…,"expires":"…Z","accountID":…}}},
  // {"external":{"path":"…"}}.
  Json toJson() const;
  // Throws JsonShapeError; an object without exactly one key fails with
  // "Invalid number of keys found, expected one.".
  [[nodiscard]] static Credential fromJson(const Json& json);

  bool operator==(const Credential&) const = default;
};

struct PKCE {
  std::string verifier;
  std::string challenge;

  // S256: the challenge is base64url (no padding) of SHA-256 of the verifier.
  [[nodiscard]] static PKCE fromVerifier(std::string verifier);
  // 32 random bytes, base64url: a 43-character verifier.
  [[nodiscard]] static PKCE make(Random& random);
};

// Receives the whole answer text received so far, each time more arrives.
using PartialText = std::function<void(const std::string& textSoFar)>;

class LLMClient {
 public:
  virtual ~LLMClient() = default;
  virtual std::string complete(const LLMRequest& request) = 0;
  virtual std::string completeStreaming(const LLMRequest& request, const PartialText& onText) = 0;
};

// Forwards to `base` with `thinking` switched on; nothing else changes.
class ThinkingClient final : public LLMClient {
 public:
  explicit ThinkingClient(std::shared_ptr<LLMClient> base) : base_(std::move(base)) {}
  std::string complete(const LLMRequest& request) override;
  std::string completeStreaming(const LLMRequest& request, const PartialText& onText) override;

 private:
  std::shared_ptr<LLMClient> base_;
};

// Menu label of a model id: "anthropic/claude-opus-5.5" → "Claude Opus 5.5",
// "gpt-6.1-sol" → "GPT 6.1 Sol", "deepseek-v4-pro" → "DeepSeek V4 Pro".
std::string modelDisplayName(std::string_view modelID);

}  // namespace orwenna
