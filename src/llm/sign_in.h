// The ways a provider gets its credential: a browser sign-in answered on a
// loopback port (ChatGPT with OAuth and PKCE; OpenRouter's key exchange), the
// refresh of ChatGPT tokens, and logins other programs already hold (the Codex
// CLI login file, the installed `claude` program).
//
// Nothing here logs a key, token, code, verifier or state. A failed sign-in
// returns nothing to store, so an earlier credential stays. Each call is
// independent; thread-safe as long as the context's parts are.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/http.h"
#include "llm/catalog.h"
#include "llm/llm.h"

namespace orwenna {

inline constexpr const char* kChatGPTClientID = "app_Q7rTn2VxL9cWp4HsK8dMfZ3b";
inline constexpr std::uint16_t kChatGPTCallbackPort = 1455;
inline constexpr std::int64_t kRefreshMarginMillis = 300'000;

struct SignInContext {
  HttpClient& http;
  Clock& clock;
  Random& random;
  // Shows the sign-in page to the user; see `openInBrowser`.
  std::function<void(const std::string& url)> openBrowser;
  std::chrono::milliseconds waitLimit{300'000};
  const Cancellation* cancellation = nullptr;
  std::uint16_t chatGPTPort = kChatGPTCallbackPort;
};

// OpenAI's authorize address with its query items in their fixed order.
std::string chatGPTAuthorizeURL(const std::string& authRoot, const PKCE& pkce, const std::string& state,
                                const std::string& redirectURI);

// The account id OpenAI's tokens carry in their auth claim, if any.
[[nodiscard]] std::optional<std::string> chatGPTAccountID(std::string_view jwt);

// Runs the whole browser sign-in; returns an `oauth` credential. Throws LLMError or NetError.
Credential signInWithChatGPT(const LLMEndpoints& endpoints, SignInContext& context);

// Exchanges the refresh token for new tokens (the account id is kept when the
// new tokens don't carry one). Throws LLMError or NetError.
OAuthTokens refreshChatGPTTokens(const LLMEndpoints& endpoints, HttpClient& http, Clock& clock,
                                 const OAuthTokens& tokens);

// Whether tokens must be refreshed before use: they expire within five minutes.
[[nodiscard]] bool needsRefresh(const OAuthTokens& tokens, const Clock& clock);

struct ChatGPTAccess {
  std::string accessToken;
  std::string accountID;
};

// Reads the Codex CLI login file (never writes it). Throws LLMError.
ChatGPTAccess readCodexLogin(const std::filesystem::path& file, const Clock& clock);
// "~/.codex/auth.json" for the given home folder.
std::filesystem::path codexLoginFile(const std::filesystem::path& home);

// Runs OpenRouter's browser sign-in; returns an `apiKey` credential. Throws LLMError or NetError.
Credential signInWithOpenRouter(const LLMEndpoints& endpoints, SignInContext& context);

// The installed `claude` program: the usual install places under `home`, then
// the system-wide one, then `searchPath`.
[[nodiscard]] std::optional<std::filesystem::path> findClaudeProgram(const std::filesystem::path& home,
                                                                     std::string_view searchPath);

// The user's home folder ($HOME, else the password database).
std::filesystem::path homeFolder();

// Prints the address (always, for when no browser opens) and hands it to
// xdg-open when there is one. Never through a shell.
void openInBrowser(const std::string& url);

}  // namespace orwenna
