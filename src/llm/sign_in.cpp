#include "llm/sign_in.h"

#include <cstdlib>
#include <iostream>

#include <pwd.h>
#include <unistd.h>

#include <fmt/format.h>

#include "base/bytes.h"
#include "base/files.h"
#include "base/log.h"
#include "llm/loopback_server.h"
#include "llm/wire.h"
#include "platform/process.h"

namespace orwenna {

namespace {

constexpr std::chrono::milliseconds kTokenTimeout{15'000};
constexpr const char* kAuthClaim = "https://api.openai.com/auth";

std::string randomState(Random& random) {
  std::array<std::uint8_t, 32> bytes{};
  random.fill(bytes);
  return toBase64Url(bytes);
}

std::optional<std::int64_t> expiryOf(std::string_view jwt) {
  auto payload = jwtPayload(jwt);
  if (!payload) return std::nullopt;
  auto exp = payload->find("exp");
  if (exp == payload->end() || !exp->is_number()) return std::nullopt;
  return static_cast<std::int64_t>(exp->get<double>()) * 1000;
}

HttpRequest formPost(const std::string& url, const std::vector<std::pair<std::string, std::string>>& items) {
  HttpRequest r;
  r.method = "POST";
  r.url = url;
  r.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept", "application/json"}};
  r.body = formBody(items);
  r.timeout = kTokenTimeout;
  return r;
}

// The tokens of a token-endpoint answer; `previous` fills what a refresh may leave out.
OAuthTokens tokensFromAnswer(const Json& answer, const Clock& clock, const OAuthTokens* previous) {
  auto text = [&](const char* key) -> std::string {
    auto it = answer.find(key);
    return it != answer.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  OAuthTokens t;
  t.access = text("access_token");
  t.refresh = text("refresh_token");
  std::string idToken = text("id_token");
  if (t.access.empty()) throw LLMError("ChatGPT didn't return an access token.");
  if (t.refresh.empty()) {
    if (!previous) throw LLMError("ChatGPT didn't return a refresh token.");
    t.refresh = previous->refresh;
  }
  if (auto exp = expiryOf(t.access)) {
    t.expires = *exp;
  } else if (auto in = answer.find("expires_in"); in != answer.end() && in->is_number()) {
    t.expires = clock.nowMillis() + static_cast<std::int64_t>(in->get<double>() * 1000);
  } else if (auto idExp = expiryOf(idToken)) {
    t.expires = *idExp;
  } else {
    t.expires = clock.nowMillis();  // unknown: refresh before the next use
  }
  t.accountID = chatGPTAccountID(idToken);
  if (!t.accountID) t.accountID = chatGPTAccountID(t.access);
  if (!t.accountID && previous) t.accountID = previous->accountID;
  return t;
}

}  // namespace

std::string chatGPTAuthorizeURL(const std::string& authRoot, const PKCE& pkce, const std::string& state,
                                const std::string& redirectURI) {
  return authRoot + "/oauth/authorize?" +
         formBody({{"response_type", "code"},
                   {"client_id", kChatGPTClientID},
                   {"redirect_uri", redirectURI},
                   {"scope", "openid profile email offline_access"},
                   {"code_challenge", pkce.challenge},
                   {"code_challenge_method", "S256"},
                   {"id_token_add_organizations", "true"},
                   {"codex_cli_simplified_flow", "true"},
                   {"state", state},
                   {"originator", "codex_cli_rs"}});
}

std::optional<std::string> chatGPTAccountID(std::string_view jwt) {
  auto payload = jwtPayload(jwt);
  if (!payload) return std::nullopt;
  auto claim = payload->find(kAuthClaim);
  if (claim == payload->end() || !claim->is_object()) return std::nullopt;
  auto id = claim->find("chatgpt_account_id");
  if (id == claim->end() || !id->is_string() || id->get<std::string>().empty()) return std::nullopt;
  return id->get<std::string>();
}

Credential signInWithChatGPT(const LLMEndpoints& endpoints, SignInContext& context) {
  PKCE pkce = PKCE::make(context.random);
  std::string state = randomState(context.random);
  auto server = LoopbackServer::start(context.chatGPTPort, "/auth/callback");
  std::string redirect = fmt::format("http://localhost:{}/auth/callback", server->port());
  log::info("ChatGPT sign-in: waiting for the browser on port {}", server->port());
  context.openBrowser(chatGPTAuthorizeURL(endpoints.openaiAuth, pkce, state, redirect));

  QueryItems query;
  try {
    query = server->nextQuery(context.waitLimit, context.cancellation);
  } catch (...) {
    server->cancel();
    throw;
  }
  server->cancel();
  auto code = query.find("code");
  auto returned = query.find("state");
  if (returned == query.end() || returned->second != state || code == query.end() || code->second.empty()) {
    log::info("ChatGPT sign-in: the callback was refused");
    auto description = query.find("error_description");
    if (description != query.end() && !description->second.empty()) throw LLMError(description->second);
    throw LLMError("ChatGPT sign-in cancelled.");
  }

  HttpResponse answer = context.http.send(formPost(endpoints.openaiAuth + "/oauth/token",
                                                   {{"grant_type", "authorization_code"},
                                                    {"code", code->second},
                                                    {"redirect_uri", redirect},
                                                    {"client_id", kChatGPTClientID},
                                                    {"code_verifier", pkce.verifier}}));
  if (!answer.ok()) throw LLMError("ChatGPT sign-in failed: " + serviceErrorText(answer));
  auto json = parseObject(answer.body);
  if (!json) throw LLMError("ChatGPT sign-in failed: the answer wasn't readable.");
  OAuthTokens tokens = tokensFromAnswer(*json, context.clock, nullptr);
  if (!tokens.accountID) throw LLMError("No chatgpt_account_id; sign in again.");
  log::info("ChatGPT sign-in finished; tokens valid until {}", iso8601(tokens.expires));
  return Credential::oauth(std::move(tokens));
}

bool needsRefresh(const OAuthTokens& tokens, const Clock& clock) {
  return tokens.expires < clock.nowMillis() + kRefreshMarginMillis;
}

OAuthTokens refreshChatGPTTokens(const LLMEndpoints& endpoints, HttpClient& http, Clock& clock,
                                 const OAuthTokens& tokens) {
  HttpResponse answer = http.send(formPost(endpoints.openaiAuth + "/oauth/token",
                                           {{"grant_type", "refresh_token"},
                                            {"client_id", kChatGPTClientID},
                                            {"refresh_token", tokens.refresh},
                                            {"scope", "openid profile email"}}));
  if (!answer.ok()) throw LLMError("ChatGPT couldn't renew the sign-in: " + serviceErrorText(answer));
  auto json = parseObject(answer.body);
  if (!json) throw LLMError("ChatGPT couldn't renew the sign-in: the answer wasn't readable.");
  OAuthTokens fresh = tokensFromAnswer(*json, clock, &tokens);
  log::info("ChatGPT tokens renewed; valid until {}", iso8601(fresh.expires));
  return fresh;
}

std::filesystem::path codexLoginFile(const std::filesystem::path& home) { return home / ".codex" / "auth.json"; }

ChatGPTAccess readCodexLogin(const std::filesystem::path& file, const Clock& clock) {
  std::optional<std::string> text;
  try {
    text = readFile(file);
  } catch (const FileError&) {
    text.reset();
  }
  std::optional<Json> json = text ? parseObject(*text) : std::nullopt;
  const Json* tokens = nullptr;
  if (json) {
    auto t = json->find("tokens");
    if (t != json->end() && t->is_object()) tokens = &*t;
  }
  auto field = [&](const char* key) -> std::string {
    if (!tokens) return {};
    auto it = tokens->find(key);
    return it != tokens->end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  ChatGPTAccess access;
  access.accessToken = field("access_token");
  if (access.accessToken.empty()) throw LLMError("Codex CLI isn't signed in with ChatGPT.");
  if (auto exp = expiryOf(access.accessToken); exp && *exp <= clock.nowMillis()) {
    throw LLMError("The Codex CLI login expired. Run codex once or sign in via the browser.");
  }
  access.accountID = field("account_id");
  if (access.accountID.empty()) access.accountID = chatGPTAccountID(field("id_token")).value_or("");
  if (access.accountID.empty()) access.accountID = chatGPTAccountID(access.accessToken).value_or("");
  if (access.accountID.empty()) throw LLMError("No chatgpt_account_id; sign in again.");
  return access;
}

Credential signInWithOpenRouter(const LLMEndpoints& endpoints, SignInContext& context) {
  PKCE pkce = PKCE::make(context.random);
  auto server = LoopbackServer::start(0, "/callback");
  std::string callback = fmt::format("http://localhost:{}/callback", server->port());
  log::info("OpenRouter sign-in: waiting for the browser on port {}", server->port());
  context.openBrowser(endpoints.openRouter + "/auth?" +
                      formBody({{"callback_url", callback},
                                {"code_challenge", pkce.challenge},
                                {"code_challenge_method", "S256"}}));
  QueryItems query;
  try {
    query = server->nextQuery(context.waitLimit, context.cancellation);
  } catch (...) {
    server->cancel();
    throw;
  }
  server->cancel();
  auto code = query.find("code");
  if (code == query.end() || code->second.empty()) {
    log::info("OpenRouter sign-in: the callback carried no code");
    throw LLMError("OpenRouter sign-in cancelled.");
  }
  Json body = Json::object();
  body["code"] = code->second;
  body["code_verifier"] = pkce.verifier;
  body["code_challenge_method"] = "S256";
  HttpRequest request = HttpRequest::postJson(endpoints.openRouter + "/api/v1/auth/keys", body.dump());
  request.timeout = kTokenTimeout;
  HttpResponse answer = context.http.send(request);
  if (!answer.ok()) throw LLMError("OpenRouter sign-in failed: " + serviceErrorText(answer));
  auto json = parseObject(answer.body);
  std::optional<std::string> key = json ? optionalString(*json, "key") : std::nullopt;
  if (!key || key->empty()) throw LLMError("OpenRouter sign-in failed: no key came back.");
  log::info("OpenRouter sign-in finished");
  return Credential::apiKey(*key);
}

std::optional<std::filesystem::path> findClaudeProgram(const std::filesystem::path& home,
                                                       std::string_view searchPath) {
  const std::filesystem::path places[] = {home / ".local" / "bin" / "claude", "/usr/local/bin/claude",
                                          home / ".claude" / "local" / "claude"};
  for (const auto& place : places)
    if (isExecutableFile(place)) return place;
  return findOnPath("claude", searchPath);
}

std::filesystem::path homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

void openInBrowser(const std::string& url) {
  std::cout << "Open this address to sign in:\n  " << url << std::endl;
  if (auto opener = findProgram("xdg-open")) {
    try {
      spawnDetached(*opener, {url});
    } catch (const ProcessError& e) {
      log::warn("couldn't start the browser: {}", e.what());
    }
  }
}

}  // namespace orwenna
