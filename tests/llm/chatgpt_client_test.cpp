// The ChatGPT subscription client against a fake backend: the request it
// sends, the responses event stream, and the model list.
#include <gtest/gtest.h>

#include "fakes/fake_server.h"
#include "llm/clients.h"
#include "llm/llm_test_support.h"

namespace orwenna {
namespace {

using testing::FakeResponse;
using testing::FakeServer;
using testing::FixedClock;
using testing::kNow;
using testing::RecordedRequest;


std::string event(const std::string& type, const Json& data) {
  Json d = data;
  d["type"] = type;
  return "event: " + type + "\ndata: " + d.dump() + "\n\n";
}

FakeResponse stream(std::vector<std::string> events) {
  FakeResponse r;
  r.contentType = "text/event-stream";
  r.chunks = std::move(events);
  return r;
}

struct Backend {
  FakeServer server;
  FixedClock clock{kNow};
  LLMEndpoints endpoints = LLMEndpoints::defaults();
  Backend() { endpoints.chatgptBackend = server.url(); }
  ChatGPTClient client() {
    return ChatGPTClient(CurlHttpClient::shared(), clock, endpoints,
                         OAuthTokens{"at-live", "rt", kNow + 3600'000, std::string("acct-7")}, nullptr,
                         "0F3C8E8A-1B7D-4C33-9A52-6E1D2B9F0A11");
  }
  void answer(FakeResponse r) {
    server.on("POST", "/backend-api/codex/responses", [r](const RecordedRequest&) { return r; });
  }
};

LLMRequest conversation(bool thinking) {
  LLMRequest r;
  r.model = "gpt-6.1-sol";
  r.messages = {{LLMMessage::Role::system, "You read chat."},
                {LLMMessage::Role::user, "buy 1 sol"},
                {LLMMessage::Role::assistant, "{\"line\":\"buy 1 SOL\"}"},
                {LLMMessage::Role::system, "Answer in JSON."},
                {LLMMessage::Role::user, "yes"}};
  r.thinking = thinking;
  return r;
}

TEST(ChatGPTClient, SendsTheResponsesRequest) {
  Backend b;
  b.answer(stream({event("response.output_text.delta", {{"delta", "done"}}), event("response.completed", Json::object())}));
  auto client = b.client();
  EXPECT_EQ(client.complete(conversation(true)), "done");
  auto seen = b.server.requests().at(0);
  EXPECT_EQ(seen.header("authorization"), "Bearer at-live");
  EXPECT_EQ(seen.header("chatgpt-account-id"), "acct-7");
  EXPECT_EQ(seen.header("openai-beta"), "responses=experimental");
  EXPECT_EQ(seen.header("originator"), "codex_cli_rs");
  EXPECT_EQ(seen.header("session_id"), "0F3C8E8A-1B7D-4C33-9A52-6E1D2B9F0A11");
  EXPECT_EQ(seen.header("accept"), "text/event-stream");
  EXPECT_EQ(seen.header("content-type"), "application/json");
  EXPECT_EQ(seen.body,
            R"({"model":"gpt-6.1-sol","instructions":"You read chat.\n\nAnswer in JSON.","input":[)"
            R"({"type":"message","role":"user","content":[{"type":"input_text","text":"buy 1 sol"}]},)"
            R"({"type":"message","role":"assistant","content":[{"type":"output_text","text":"{\"line\":\"buy 1 SOL\"}"}]},)"
            R"({"type":"message","role":"user","content":[{"type":"input_text","text":"yes"}]}],)"
            R"("store":false,"stream":true,"prompt_cache_key":")" +
                promptCacheKey("You read chat.\n\nAnswer in JSON.") + R"(","reasoning":{"effort":"high"}})");
  (void)client.complete(conversation(false));
  EXPECT_FALSE(parseJson(b.server.requests().at(1).body)->contains("reasoning"));
}

TEST(ChatGPTClient, ReadsTheEventStream) {
  struct Case {
    const char* name;
    FakeResponse answer;
    std::string text;     // expected answer, or
    std::string failure;  // expected failure
    std::vector<std::string> partials;
  } cases[] = {
      {"deltas then completed",
       stream({event("response.created", Json::object()), event("response.output_text.delta", {{"delta", "Bu"}}),
        event("response.output_text.delta", {{"delta", "y "}}), ": ping\n\n",
        event("response.output_text.delta", {{"delta", "1"}}), event("response.completed", Json::object()),
        event("response.output_text.delta", {{"delta", " late"}})}),
       "Buy 1", "", {"Bu", "Buy ", "Buy 1"}},
      {"incomplete keeps what arrived",
       stream({event("response.output_text.delta", {{"delta", "partial"}}),
        event("response.incomplete", {{"response", {{"incomplete_details", {{"reason", "max_output_tokens"}}}}}}),
        event("response.output_text.delta", {{"delta", " dropped"}})}),
       "partial", "", {"partial"}},
      {"failed",
       stream({event("response.output_text.delta", {{"delta", "x"}}),
        event("response.failed", {{"response", {{"error", {{"code", "server_error"}, {"message", "Try again later."}}}}}})}),
       "", "ChatGPT: Try again later.", {"x"}},
      {"nothing but completed", stream({event("response.completed", Json::object())}), "",
       "ChatGPT returned an empty reply.", {}},
      {"error status", FakeResponse::json(R"({"detail":"Your plan does not include this model."})", 403), "",
       "ChatGPT: Your plan does not include this model.", {}},
  };
  for (auto& c : cases) {
    Backend b;
    b.answer(c.answer);
    auto client = b.client();
    std::vector<std::string> partials;
    try {
      std::string text = client.completeStreaming(conversation(false), [&](const std::string& t) { partials.push_back(t); });
      EXPECT_EQ(text, c.text) << c.name;
      EXPECT_TRUE(c.failure.empty()) << c.name;
    } catch (const LLMError& e) {
      EXPECT_EQ(std::string(e.what()), c.failure) << c.name;
    }
    EXPECT_EQ(partials, c.partials) << c.name;
  }
}

TEST(ChatGPTClient, OffersOnlyListedModelsByPriority) {
  Backend b;
  b.server.onJson("GET", "/backend-api/codex/models", R"({"models":[
    {"slug":"gpt-6-luna","visibility":"list","priority":7},
    {"slug":"internal-eval","visibility":"hide","priority":0},
    {"slug":"gpt-6.1-sol","visibility":"list","priority":1},
    {"slug":"no-priority","visibility":"list"},
    {"slug":"gpt-6-sol","visibility":"list","priority":3},
    {"visibility":"list","priority":2}
  ]})");
  auto client = b.client();
  EXPECT_EQ(client.listModels(), (std::vector<std::string>{"gpt-6.1-sol", "gpt-6-sol", "gpt-6-luna", "no-priority"}));
  auto seen = b.server.requests().at(0);
  EXPECT_EQ(seen.query, "client_version=0.200.0");
  EXPECT_EQ(seen.header("authorization"), "Bearer at-live");
  EXPECT_EQ(seen.header("chatgpt-account-id"), "acct-7");
}

}  // namespace
}  // namespace orwenna
