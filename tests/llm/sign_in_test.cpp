// Browser sign-ins end to end: the loopback callback, the token and key
// exchanges against fake servers, refresh timing, existing logins, and the
// diagnostic log staying free of secrets.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <mutex>
#include <thread>

#include "base/files.h"
#include "base/log.h"
#include "fakes/fake_server.h"
#include "llm/clients.h"
#include "llm/llm_test_support.h"
#include "llm/loopback_server.h"
#include "llm/providers.h"
#include "llm/sign_in.h"

namespace orwenna {
namespace {

using testing::FakeResponse;
using testing::FakeServer;
using testing::failureOf;
using testing::FixedClock;
using testing::kNow;
using testing::RecordedRequest;
using testing::ScriptedRandom;
using testing::TempDir;


// Plays the user's browser: records the address it was given, then runs a
// script against the loopback port on its own thread.
class FakeBrowser {
 public:
  using Script = std::function<void(const QueryItems& query, int port)>;
  explicit FakeBrowser(Script script) : script_(std::move(script)) {}
  ~FakeBrowser() {
    for (auto& t : threads_) t.join();
  }
  std::function<void(const std::string&)> opener() {
    return [this](const std::string& url) {
      std::lock_guard lock(mutex_);
      opened_.push_back(url);
      QueryItems query = parseQuery(url.substr(url.find('?') + 1));
      std::string back = query.count("redirect_uri") ? query["redirect_uri"] : query["callback_url"];
      int port = std::stoi(back.substr(back.rfind(':') + 1));
      threads_.emplace_back(script_, query, port);
    };
  }
  std::vector<std::string> opened() {
    std::lock_guard lock(mutex_);
    return opened_;
  }

 private:
  Script script_;
  std::mutex mutex_;
  std::vector<std::string> opened_;
  std::vector<std::thread> threads_;
};

using Items = std::vector<std::pair<std::string, std::string>>;

std::string callbackTarget(const std::string& path, const Items& items) {
  std::string target = path;
  char sep = '?';
  for (const auto& [k, v] : items) {
    target += sep + percentEncode(k) + "=" + percentEncode(v);
    sep = '&';
  }
  return target;
}

// The token endpoint of OpenAI's auth service: answers a code exchange (after
// checking the PKCE pair) and a refresh.
struct FakeAuth {
  FakeServer server;
  std::string accessToken = testing::openAIToken(kNow / 1000 + 3600, "acct-42");
  std::string idToken = testing::openAIToken(kNow / 1000 + 3600, "acct-42");
  std::string refreshToken = "rt-first-7f3a";
  std::string challengeSeen;
  bool pkceMatched = false;
  std::string tokenAnswer;  // overrides the normal answer when set

  FakeAuth() {
    server.on("POST", "/oauth/token", [this](const RecordedRequest& r) {
      QueryItems form = parseQuery(r.body);
      if (form["grant_type"] == "authorization_code")
        pkceMatched = PKCE::fromVerifier(form["code_verifier"]).challenge == challengeSeen;
      if (!tokenAnswer.empty()) return FakeResponse::json(tokenAnswer);
      Json answer = Json::object();
      answer["access_token"] = accessToken;
      answer["refresh_token"] = refreshToken;
      answer["id_token"] = idToken;
      answer["expires_in"] = 3600;
      return FakeResponse::json(answer.dump());
    });
  }
};

struct Harness {
  FixedClock clock{kNow};
  ScriptedRandom random;
  MemoryCredentialStore store;
  LLMEndpoints endpoints = LLMEndpoints::defaults();
};

SignInContext contextFor(Harness& h, FakeBrowser& browser, std::chrono::milliseconds wait = std::chrono::seconds(20)) {
  return SignInContext{CurlHttpClient::shared(), h.clock, h.random, browser.opener(), wait, nullptr, 0};
}

TEST(LoopbackServer, AnswersTheExpectedPathAndRefusesOthersByteForByte) {
  auto server = LoopbackServer::start(0, "/auth/callback");
  ASSERT_NE(server->port(), 0);
  auto page = [](const std::string& status, const std::string& text) {
    std::string body = "<!doctype html><meta charset=utf-8><title>orwenna</title><p style=\"font:16px "
                       "-apple-system;margin:40px\">" + text + "</p>";
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  };
  EXPECT_EQ(testing::rawGet(server->port(), "/favicon.ico"), page("404 Not Found", "Not found"));
  EXPECT_EQ(testing::rawGet(server->port(), "/auth/callbackx?code=1"), page("404 Not Found", "Not found"));
  EXPECT_EQ(testing::rawGet(server->port(), "/auth/callback?code=a%2Bb+c&state=s%3D1&empty"),
            page("200 OK", "Signed in. You can go back to orwenna."));
  // Only the request on the expected path was queued.
  QueryItems q = server->nextQuery(std::chrono::seconds(1));
  EXPECT_EQ(q, (QueryItems{{"code", "a+b c"}, {"state", "s=1"}, {"empty", ""}}));
}

TEST(LoopbackServer, TimeOutInterruptionAndABusyPort) {
  auto server = LoopbackServer::start(0, "/callback");
  EXPECT_EQ(failureOf([&] { (void)server->nextQuery(std::chrono::milliseconds(300)); }),
            "Sign-in didn't finish within 0.005 min.");
  Cancellation cancel;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cancel.cancel();
  });
  EXPECT_EQ(failureOf([&] { (void)server->nextQuery(std::chrono::seconds(30), &cancel); }), "Sign-in interrupted.");
  canceller.join();
  EXPECT_EQ(failureOf([&] { (void)LoopbackServer::start(server->port(), "/x"); }),
            "Couldn't open port " + std::to_string(server->port()) + ": Address already in use.");
  server->cancel();
  EXPECT_EQ(failureOf([&] { (void)server->nextQuery(std::chrono::seconds(30)); }), "Sign-in interrupted.");
}

TEST(ChatGPTSignIn, RunsTheWholeFlowAndIgnoresStrayRequests) {
  Harness h;
  FakeAuth auth;
  h.endpoints.openaiAuth = auth.server.url();
  std::string stray, state;
  int port = 0;
  FakeBrowser browser([&](const QueryItems& q, int p) {
    auth.challengeSeen = q.at("code_challenge");
    state = q.at("state");
    port = p;
    stray = testing::rawGet(port, "/favicon.ico");  // the sign-in must go on after this
    testing::rawGet(port, callbackTarget("/auth/callback", {{"code", "ac-secret-code"}, {"state", q.at("state")}}));
  });
  SignInContext context = contextFor(h, browser);
  Credential credential = signInWithChatGPT(h.endpoints, context);

  EXPECT_EQ(stray.substr(0, 22), "HTTP/1.1 404 Not Found");
  const OAuthTokens* tokens = credential.oauthValue();
  ASSERT_NE(tokens, nullptr);
  EXPECT_EQ(tokens->access, auth.accessToken);
  EXPECT_EQ(tokens->refresh, "rt-first-7f3a");
  EXPECT_EQ(tokens->expires, kNow + 3600'000);
  EXPECT_EQ(tokens->accountID, "acct-42");
  EXPECT_TRUE(auth.pkceMatched);

  // The authorize address: OpenAI's path, the query items in their fixed order.
  EXPECT_EQ(browser.opened().at(0),
            auth.server.url() + "/oauth/authorize?response_type=code&client_id=app_Q7rTn2VxL9cWp4HsK8dMfZ3b"
                "&redirect_uri=http%3A%2F%2Flocalhost%3A" + std::to_string(port) + "%2Fauth%2Fcallback"
                "&scope=openid%20profile%20email%20offline_access&code_challenge=" + auth.challengeSeen +
                "&code_challenge_method=S256&id_token_add_organizations=true&codex_cli_simplified_flow=true&state=" +
                state + "&originator=codex_cli_rs");

  // The code exchange form.
  auto exchange = auth.server.requests().at(0);
  EXPECT_EQ(exchange.header("content-type"), "application/x-www-form-urlencoded");
  QueryItems form = parseQuery(exchange.body);
  EXPECT_EQ(exchange.body.substr(0, exchange.body.find('&')), "grant_type=authorization_code");
  EXPECT_EQ(form["code"], "ac-secret-code");
  EXPECT_EQ(form["redirect_uri"], "http://localhost:" + std::to_string(port) + "/auth/callback");
  EXPECT_EQ(form["client_id"], "app_Q7rTn2VxL9cWp4HsK8dMfZ3b");
}

TEST(ChatGPTSignIn, RefusesBadCallbacksAndAnswers) {
  const std::string noAccount = testing::openAIToken(kNow / 1000 + 3600, "");
  const std::string state = "<the state sent>";
  struct Case {
    const char* name;
    Items callback;
    std::string tokenAnswer;
    std::string message;
    bool exchanges;
  } cases[] = {
      {"wrong state", {{"code", "c"}, {"state", "forged"}}, "", "ChatGPT sign-in cancelled.", false},
      {"no code", {{"state", state}}, "", "ChatGPT sign-in cancelled.", false},
      {"provider's reason", {{"error", "access_denied"}, {"error_description", "The user denied access."}, {"state", state}},
       "", "The user denied access.", false},
      {"no refresh token", {{"code", "c"}, {"state", state}},
       Json{{"access_token", testing::openAIToken(kNow / 1000 + 3600, "a")}}.dump(),
       "ChatGPT didn't return a refresh token.", true},
      {"no account id", {{"code", "c"}, {"state", state}},
       Json{{"access_token", noAccount}, {"refresh_token", "r"}, {"id_token", noAccount}}.dump(),
       "No chatgpt_account_id; sign in again.", true},
  };
  for (auto& c : cases) {
    Harness h;
    FakeAuth auth;
    auth.tokenAnswer = c.tokenAnswer;
    h.endpoints.openaiAuth = auth.server.url();
    FakeBrowser browser([&](const QueryItems& q, int port) {
      Items items = c.callback;
      for (auto& item : items)
        if (item.second == state) item.second = q.at("state");
      testing::rawGet(port, callbackTarget("/auth/callback", items));
    });
    SignInContext context = contextFor(h, browser);
    EXPECT_EQ(failureOf([&] { (void)signInWithChatGPT(h.endpoints, context); }), c.message) << c.name;
    EXPECT_EQ(auth.server.requestCount(), c.exchanges ? 1u : 0u) << c.name;
  }
}

TEST(ChatGPTSignIn, WaitsOnPort1455AndTimesOutWhenTheBrowserNeverReturns) {
  Harness h;
  FakeBrowser browser([](const QueryItems&, int) {});
  SignInContext context = contextFor(h, browser, std::chrono::milliseconds(300));
  context.chatGPTPort = kChatGPTCallbackPort;
  std::string message = failureOf([&] { (void)signInWithChatGPT(h.endpoints, context); });
  if (message.rfind("Couldn't open port 1455", 0) == 0) GTEST_SKIP() << "port 1455 is taken on this machine";
  EXPECT_EQ(message, "Sign-in didn't finish within 0.005 min.");
  EXPECT_EQ(parseQuery(browser.opened().at(0).substr(browser.opened().at(0).find('?') + 1))["redirect_uri"],
            "http://localhost:1455/auth/callback");
}

// A backend that answers the responses endpoint with a fixed event stream.
struct FakeBackend {
  FakeServer server;
  FakeBackend() {
    server.on("POST", "/backend-api/codex/responses", [](const RecordedRequest&) {
      FakeResponse r;
      r.contentType = "text/event-stream";
      r.chunks = {"event: response.created\ndata: {\"type\":\"response.created\"}\n\n",
                  "event: response.output_text.delta\ndata: {\"type\":\"response.output_text.delta\",\"delta\":\"ok\"}\n\n",
                  "event: response.completed\ndata: {\"type\":\"response.completed\"}\n\n"};
      return r;
    });
  }
};

LLMRequest simple() {
  LLMRequest r;
  r.model = "gpt-6.1-sol";
  r.messages = {{LLMMessage::Role::user, "hi"}};
  return r;
}

TEST(ChatGPTClient, RefreshesTokensThatExpireWithinFiveMinutes) {
  struct Case {
    std::int64_t expiresIn;
    bool refreshes;
  } cases[] = {{4 * 60'000, true}, {6 * 60'000, false}, {-60'000, true}};
  for (const auto& c : cases) {
    Harness h;
    FakeAuth auth;
    auth.refreshToken = "rt-second-91bc";
    h.endpoints.openaiAuth = auth.server.url();
    FakeBackend backend;
    h.endpoints.chatgptBackend = backend.server.url();
    OAuthTokens old{"at-old", "rt-old", kNow + c.expiresIn, std::string("acct-42")};
    std::vector<OAuthTokens> saved;
    ChatGPTClient client(CurlHttpClient::shared(), h.clock, h.endpoints, old,
                         [&](const OAuthTokens& t) { saved.push_back(t); }, "SESSION-1");
    EXPECT_EQ(client.complete(simple()), "ok");
    EXPECT_EQ(auth.server.requestCount(), c.refreshes ? 1u : 0u) << c.expiresIn;
    EXPECT_EQ(saved.size(), c.refreshes ? 1u : 0u);
    std::string bearer = backend.server.requests().at(0).header("authorization");
    if (c.refreshes) {
      QueryItems form = parseQuery(auth.server.requests().at(0).body);
      EXPECT_EQ(form, (QueryItems{{"grant_type", "refresh_token"},
                                  {"client_id", "app_Q7rTn2VxL9cWp4HsK8dMfZ3b"},
                                  {"refresh_token", "rt-old"},
                                  {"scope", "openid profile email"}}));
      EXPECT_EQ(saved[0].refresh, "rt-second-91bc");
      EXPECT_EQ(saved[0].expires, kNow + 3600'000);
      EXPECT_EQ(bearer, "Bearer " + auth.accessToken);
      // The fresh tokens are used from then on: no second refresh.
      EXPECT_EQ(client.complete(simple()), "ok");
      EXPECT_EQ(auth.server.requestCount(), 1u);
    } else {
      EXPECT_EQ(bearer, "Bearer at-old");
    }
  }
}

TEST(ChatGPTClient, ARefreshThatFailsSaysSoAndKeepsTheOldTokens) {
  Harness h;
  FakeServer auth;
  auth.onJson("POST", "/oauth/token", R"({"error":"invalid_grant","error_description":"Refresh token reused."})", 400);
  h.endpoints.openaiAuth = auth.url();
  int saves = 0;
  ChatGPTClient client(CurlHttpClient::shared(), h.clock, h.endpoints,
                       OAuthTokens{"a", "r", kNow + 1000, std::string("acct")},
                       [&](const OAuthTokens&) { ++saves; });
  EXPECT_EQ(failureOf([&] { (void)client.complete(simple()); }),
            "ChatGPT couldn't renew the sign-in: Refresh token reused.");
  EXPECT_EQ(saves, 0);
}

TEST(CodexLogin, ReadsTheFileFreshAndRefusesWhatCannotBeUsed) {
  TempDir home;
  auto file = codexLoginFile(home.path());
  FixedClock clock(kNow);
  std::string live = testing::openAIToken(kNow / 1000 + 600, "acct-from-token");
  std::string expired = testing::openAIToken(kNow / 1000 - 1, "acct");
  std::string anonymous = testing::openAIToken(kNow / 1000 + 600, "");
  struct Case {
    std::optional<std::string> contents;
    std::string message;     // empty: accepted
    std::string accountID;
  } cases[] = {
      {std::nullopt, "Codex CLI isn't signed in with ChatGPT.", ""},
      {R"({"OPENAI_API_KEY":null})", "Codex CLI isn't signed in with ChatGPT.", ""},
      {"not json", "Codex CLI isn't signed in with ChatGPT.", ""},
      {Json{{"tokens", {{"access_token", expired}, {"account_id", "a"}}}}.dump(),
       "The Codex CLI login expired. Run codex once or sign in via the browser.", ""},
      {Json{{"tokens", {{"access_token", anonymous}}}}.dump(), "No chatgpt_account_id; sign in again.", ""},
      {Json{{"tokens", {{"access_token", live}, {"account_id", "acct-in-file"}}}}.dump(), "", "acct-in-file"},
      {Json{{"tokens", {{"access_token", anonymous}, {"id_token", testing::openAIToken(0, "acct-from-id")}}}}.dump(), "",
       "acct-from-id"},
      {Json{{"tokens", {{"access_token", live}}}}.dump(), "", "acct-from-token"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(file);
    if (c.contents) testing::writeText(file, *c.contents);
    if (c.message.empty()) {
      ChatGPTAccess access = readCodexLogin(file, clock);
      EXPECT_EQ(access.accountID, c.accountID);
    } else {
      EXPECT_EQ(failureOf([&] { (void)readCodexLogin(file, clock); }), c.message) << c.contents.value_or("missing");
    }
  }
}

TEST(ChatGPTClient, CodexFileIsReadForEveryRequestAndNeverWritten) {
  TempDir home;
  auto file = codexLoginFile(home.path());
  Harness h;
  FakeBackend backend;
  h.endpoints.chatgptBackend = backend.server.url();
  std::string first = testing::openAIToken(kNow / 1000 + 600, "acct-1");
  std::string second = testing::openAIToken(kNow / 1000 + 900, "acct-2");
  std::string text = Json{{"tokens", {{"access_token", first}}}}.dump();
  testing::writeText(file, text);
  ChatGPTClient client(CurlHttpClient::shared(), h.clock, h.endpoints, file, nullptr);
  EXPECT_EQ(client.complete(simple()), "ok");
  testing::writeText(file, Json{{"tokens", {{"access_token", second}}}}.dump());
  EXPECT_EQ(client.complete(simple()), "ok");
  auto seen = backend.server.requests();
  EXPECT_EQ(seen.at(0).header("chatgpt-account-id"), "acct-1");
  EXPECT_EQ(seen.at(1).header("authorization"), "Bearer " + second);
  std::string written = Json{{"tokens", {{"access_token", second}}}}.dump();
  EXPECT_EQ(*readFile(file), written);
}

TEST(OpenRouterSignIn, ExchangesTheCodeForAKey) {
  Harness h;
  FakeServer openrouter;
  std::string challenge;
  int port = 0;
  openrouter.on("POST", "/api/v1/auth/keys", [&](const RecordedRequest& r) {
    auto body = *parseJson(r.body);
    bool ok = body.size() == 3 && body["code"] == "or-code-55" && body["code_challenge_method"] == "S256" &&
              PKCE::fromVerifier(body["code_verifier"].get<std::string>()).challenge == challenge;
    return ok ? FakeResponse::json(R"({"key":"sk-or-v1-abc","user_id":"u"})")
              : FakeResponse::json(R"({"error":{"message":"bad verifier"}})", 400);
  });
  h.endpoints.openRouter = openrouter.url();
  FakeBrowser browser([&](const QueryItems& q, int p) {
    challenge = q.at("code_challenge");
    port = p;
    testing::rawGet(port, "/auth/callback?code=wrong-path");
    testing::rawGet(port, callbackTarget("/callback", {{"code", "or-code-55"}}));
  });
  SignInContext context = contextFor(h, browser);
  EXPECT_EQ(signInWithOpenRouter(h.endpoints, context), Credential::apiKey("sk-or-v1-abc"));
  EXPECT_EQ(browser.opened().at(0), openrouter.url() + "/auth?callback_url=http%3A%2F%2Flocalhost%3A" +
                                        std::to_string(port) + "%2Fcallback&code_challenge=" + challenge +
                                        "&code_challenge_method=S256");
  EXPECT_EQ(openrouter.requests().at(0).header("content-type"), "application/json");
}

TEST(OpenRouterSignIn, RefusesACallbackWithoutACodeAndAFailedExchange) {
  for (bool withCode : {false, true}) {
    Harness h;
    FakeServer openrouter;
    openrouter.onJson("POST", "/api/v1/auth/keys", R"({"error":{"message":"Invalid code"}})", 403);
    h.endpoints.openRouter = openrouter.url();
    FakeBrowser browser([&](const QueryItems&, int port) {
      testing::rawGet(port, withCode ? "/callback?code=x" : "/callback?error=denied");
    });
    SignInContext context = contextFor(h, browser);
    EXPECT_EQ(failureOf([&] { (void)signInWithOpenRouter(h.endpoints, context); }),
              withCode ? "OpenRouter sign-in failed: Invalid code" : "OpenRouter sign-in cancelled.");
  }
}

TEST(Providers, MissingKeysAndUnsupportedPathsSaySoAndWorkingOnesAnswer) {
  Harness h;
  FakeServer ollama;
  ollama.onJson("POST", "/api/chat", R"({"message":{"content":"hi"},"done":true})");
  FakeAuth auth;
  FakeBackend backend;
  LLMEnvironment env{CurlHttpClient::shared(), h.clock, h.random, h.store};
  env.endpoints = h.endpoints;
  env.endpoints.providerBase["ollama"] = ollama.url() + "/v1";  // the client talks to the server root
  env.endpoints.openaiAuth = auth.server.url();
  env.endpoints.chatgptBackend = backend.server.url();
  auto providers = makeProviders(env);
  ASSERT_EQ(providers.size(), providerCatalog().size());
  auto provider = [&](const std::string& id) -> LLMProvider& { return testing::providerOf(providers, id); };
  struct Case {
    const char* id;
    bool signIn;  // else: a client without a credential
    std::string message;
  } cases[] = {
      {"deepseek", true, "DeepSeek API: sign-in isn't supported."},
      {"claude-code", true, "Claude (subscription via Claude Code): sign-in isn't supported."},
      {"openai", false, "OpenAI API: add a key in Settings."},
      {"openrouter", false, "OpenRouter: sign in or add a key in Settings."},
      {"chatgpt", false, "ChatGPT: sign in via the browser or use the Codex CLI login."},
      {"claude-code", false, "Claude Code isn't connected."},
      {"apple", false, "Apple Intelligence isn't available on this machine."},
      {"grok-subscription", false, findProvider("grok-subscription")->unavailable.value()},
  };
  for (const auto& c : cases) {
    LLMProvider& p = provider(c.id);
    auto attempt = [&] { c.signIn ? (void)p.signIn() : (void)p.makeClient(std::nullopt, "gpt-6.1-sol"); };
    EXPECT_EQ(failureOf(attempt), c.message) << c.id;
  }
  // Local servers need no key; a renewed ChatGPT sign-in is stored.
  EXPECT_NE(provider("lmstudio").makeClient(std::nullopt, "x"), nullptr);
  EXPECT_EQ(provider("ollama").makeClient(std::nullopt, "gemma4:26b")->complete(simple()), "hi");
  auto chatgpt =
      provider("chatgpt").makeClient(Credential::oauth({"old", "rt-old", kNow, std::string("acct-42")}), "gpt-6.1-sol");
  EXPECT_EQ(chatgpt->complete(simple()), "ok");
  auto stored = LLMCredentials(h.store).load("chatgpt");
  ASSERT_TRUE(stored && stored->oauthValue());
  EXPECT_EQ(stored->oauthValue()->refresh, auth.refreshToken);
}

TEST(DiagnosticLog, NeverHoldsKeysTokensOrCodes) {
  TempDir folder;
  log::openLog(folder.path());
  const std::vector<std::string> secrets = {"ac-secret-code", "rt-first-7f3a", "rt-stale-0042", "sk-or-v1-abc",
                                            "or-code-55", "sk-live-key-99"};
  Harness h;
  FakeAuth auth;
  h.endpoints.openaiAuth = auth.server.url();
  FakeBackend backend;
  h.endpoints.chatgptBackend = backend.server.url();
  {
    FakeBrowser browser([&](const QueryItems& q, int port) {
      auth.challengeSeen = q.at("code_challenge");
      testing::rawGet(port, callbackTarget("/auth/callback", {{"code", "ac-secret-code"}, {"state", q.at("state")}}));
    });
    SignInContext context = contextFor(h, browser);
    (void)signInWithChatGPT(h.endpoints, context);
  }
  {
    ChatGPTClient client(CurlHttpClient::shared(), h.clock, h.endpoints,
                         OAuthTokens{"at-stale", "rt-stale-0042", kNow, std::string("acct")}, nullptr);
    (void)client.complete(simple());
  }
  {
    FakeServer openrouter;
    openrouter.onJson("POST", "/api/v1/auth/keys", R"({"key":"sk-or-v1-abc"})");
    h.endpoints.openRouter = openrouter.url();
    FakeBrowser browser([&](const QueryItems&, int port) { testing::rawGet(port, "/callback?code=or-code-55"); });
    SignInContext context = contextFor(h, browser);
    (void)signInWithOpenRouter(h.endpoints, context);
  }
  {
    FakeServer api;
    api.onJson("POST", "/chat/completions", R"({"error":{"message":"no"}})", 401);
    OpenAIChatClient client(CurlHttpClient::shared(), api.url(), std::string("sk-live-key-99"), true);
    EXPECT_THROW((void)client.complete(simple()), LLMError);
  }
  log::logger()->flush();
  std::string text = readFile(folder.path() / "orwenna.log").value_or("");
  EXPECT_NE(text.find("sign-in"), std::string::npos) << "the flows should have left some record";
  for (const auto& s : secrets) EXPECT_EQ(text.find(s), std::string::npos) << s;
  EXPECT_EQ(text.find(auth.accessToken), std::string::npos);
  log::openLog(folder.path() / "after");  // later tests write elsewhere
}

}  // namespace
}  // namespace orwenna
