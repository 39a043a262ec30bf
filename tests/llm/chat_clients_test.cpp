// The OpenAI-compatible and Ollama clients against fake servers speaking
// their wire formats: whole answers, server-sent events, NDJSON, errors.
#include <gtest/gtest.h>

#include "fakes/fake_server.h"
#include "llm/clients.h"
#include "llm/llm_test_support.h"

namespace orwenna {
namespace {

using testing::FakeResponse;
using testing::FakeServer;
using testing::failureOfAsking;
using testing::RecordedRequest;

LLMRequest askFor(bool wantsJSON = false, bool thinking = false) {
  LLMRequest r;
  r.model = "m-1";
  r.messages = {{LLMMessage::Role::system, "Be brief."},
                {LLMMessage::Role::user, "Hi"},
                {LLMMessage::Role::assistant, "Hello"},
                {LLMMessage::Role::user, "Price of SOL?"}};
  r.wantsJSON = wantsJSON;
  r.thinking = thinking;
  return r;
}

FakeResponse sse(std::vector<std::string> events) {
  FakeResponse r;
  r.contentType = "text/event-stream";
  r.chunks = std::move(events);
  return r;
}

std::string deltaEvent(const std::string& text) {
  return "data: {\"choices\":[{\"index\":0,\"delta\":{\"content\":" + Json(text).dump() + "}}]}\n\n";
}

TEST(OpenAIChatClient, SendsTheRequestAndReadsTheWholeAnswer) {
  FakeServer server;
  server.onJson("POST", "/v1/chat/completions",
                R"({"id":"x","choices":[{"index":0,"message":{"role":"assistant","content":"{\"reply\":\"ok\"}"}}]})");
  OpenAIChatClient client(CurlHttpClient::shared(), server.url() + "/v1", std::string("sk-test"), true);
  EXPECT_EQ(client.complete(askFor(true, true)), R"({"reply":"ok"})");

  auto seen = server.requests().at(0);
  EXPECT_EQ(seen.header("authorization"), "Bearer sk-test");
  EXPECT_EQ(seen.header("content-type"), "application/json");
  EXPECT_EQ(seen.body,
            R"({"model":"m-1","messages":[{"role":"system","content":"Be brief."},{"role":"user","content":"Hi"},)"
            R"({"role":"assistant","content":"Hello"},{"role":"user","content":"Price of SOL?"}],"stream":false,)"
            R"("response_format":{"type":"json_object"},"reasoning_effort":"medium"})");
}

TEST(OpenAIChatClient, OptionalKeysFollowTheRequestAndTheEndpoint) {
  FakeServer server;
  server.onJson("POST", "/chat/completions", R"({"choices":[{"message":{"content":"fine"}}]})");
  struct Case {
    bool jsonMode, wantsJSON, thinking, hasKey;
    bool expectFormat, expectEffort;
  } cases[] = {
      {false, true, false, false, false, false},  // JSON mode off: no response_format even when asked
      {true, false, false, true, false, false},
      {true, true, false, true, true, false},
      {false, false, true, true, false, true},
  };
  for (const auto& c : cases) {
    OpenAIChatClient client(CurlHttpClient::shared(), server.url(),
                            c.hasKey ? std::optional<std::string>("k") : std::nullopt, c.jsonMode);
    EXPECT_EQ(client.complete(askFor(c.wantsJSON, c.thinking)), "fine");
    auto seen = server.requests().back();
    auto body = *parseJson(seen.body);
    EXPECT_EQ(body.contains("response_format"), c.expectFormat);
    EXPECT_EQ(body.contains("reasoning_effort"), c.expectEffort);
    EXPECT_EQ(seen.header("authorization").empty(), !c.hasKey);
  }
}

TEST(OpenAIChatClient, StreamsServerSentEventsUntilDone) {
  FakeServer server;
  server.on("POST", "/v1/chat/completions", [](const RecordedRequest&) {
    FakeResponse r = sse({": keep-alive\n\n", deltaEvent("Hel"), deltaEvent(""),
                          "data: {\"choices\":[{\"delta\":{\"role\":\"assistant\"}}]}\n\n", deltaEvent("lo "),
                          deltaEvent("wörld"), "data: [DONE]\n\n", deltaEvent(" ignored after done")});
    r.pause = std::chrono::milliseconds(5);
    return r;
  });
  OpenAIChatClient client(CurlHttpClient::shared(), server.url() + "/v1", std::string("k"), true);
  std::vector<std::string> partials;
  std::string text = client.completeStreaming(askFor(), [&](const std::string& t) { partials.push_back(t); });
  EXPECT_EQ(text, "Hello wörld");
  EXPECT_EQ(partials, (std::vector<std::string>{"Hel", "Hello ", "Hello wörld"}));
  auto seen = server.requests().at(0);
  EXPECT_EQ(seen.header("accept"), "text/event-stream");
  EXPECT_EQ(parseJson(seen.body)->at("stream"), true);
}

TEST(ChatClients, FailuresCarryTheServiceText) {
  struct Case {
    const char* name;
    FakeResponse answer;
    bool streaming;
    std::string message;
    bool ollama = false;
  } cases[] = {
      {"done first", sse({"data: [DONE]\n\n"}), true, "The model returned an empty reply."},
      {"error mid-stream",
       sse({deltaEvent("partial"), "data: {\"error\":{\"message\":\"Rate limit reached\",\"code\":429}}\n\n",
            deltaEvent("more")}),
       true, "The model service: Rate limit reached"},
      {"non-2xx streamed", FakeResponse::json(R"({"error":{"message":"Invalid API key","type":"auth"}})", 401), true,
       "The model service: Invalid API key"},
      {"non-2xx whole", FakeResponse::json(R"({"error":{"message":"Model not found"}})", 404), false,
       "The model service: Model not found"},
      {"non-2xx plain text", FakeResponse::text("upstream overloaded", 503), false,
       "The model service: upstream overloaded"},
      {"non-2xx empty body", FakeResponse::text("", 502), false, "The model service: HTTP 502"},
      {"error object in a 200", FakeResponse::json(R"({"error":{"message":"context too long"}})"), false,
       "The model service: context too long"},
      {"empty content", FakeResponse::json(R"({"choices":[{"message":{"content":""}}]})"), false,
       "The model returned an empty reply."},
      {"null content", FakeResponse::json(R"({"choices":[{"message":{"content":null}}]})"), false,
       "The model returned an empty reply."},
      {"no choices", FakeResponse::json(R"({"choices":[]})"), false, "The model returned an empty reply."},
      {"empty body", FakeResponse::json(""), false, "The model returned an empty reply."},
      {"ollama status", FakeResponse::json(R"({"error":"model \"gemma4:26b\" not found, try pulling it first"})", 404),
       false, "Ollama: model \"gemma4:26b\" not found, try pulling it first", true},
      {"ollama mid-stream", FakeResponse::json(R"({"message":{"content":"a"}})" "\n" R"({"error":"out of memory"})" "\n"),
       true, "Ollama: out of memory", true},
      {"ollama empty", FakeResponse::json(R"({"message":{"content":""},"done":true})"), false,
       "The model returned an empty reply.", true},
      {"ollama empty streamed", FakeResponse::json(R"({"message":{"content":""},"done":true})" "\n"), true,
       "The model returned an empty reply.", true},
  };
  for (auto& c : cases) {
    FakeServer server;
    FakeResponse answer = c.answer;
    server.on("POST", c.ollama ? "/api/chat" : "/chat/completions", [answer](const RecordedRequest&) { return answer; });
    OpenAIChatClient openAI(CurlHttpClient::shared(), server.url(), std::string("k"), true);
    OllamaChatClient ollama(CurlHttpClient::shared(), server.url());
    LLMClient& client = c.ollama ? static_cast<LLMClient&>(ollama) : openAI;
    EXPECT_EQ(failureOfAsking(client, askFor(), c.streaming), c.message) << c.name;
  }
}

TEST(OpenAIChatClient, ACallbackThatThrowsStopsTheStream) {
  FakeServer server;
  server.on("POST", "/chat/completions",
            [](const RecordedRequest&) { return sse({deltaEvent("a"), deltaEvent("b"), "data: [DONE]\n\n"}); });
  OpenAIChatClient client(CurlHttpClient::shared(), server.url(), std::nullopt, true);
  EXPECT_THROW(client.completeStreaming(askFor(), [](const std::string&) { throw std::runtime_error("stop"); }),
               std::runtime_error);
}

TEST(OpenAIChatClient, ListsModelsFromTheServer) {
  FakeServer server;
  server.onJson("GET", "/v1/models", R"({"object":"list","data":[{"id":"qwen3-8b"},{"id":"gemma-3"},{"x":1}]})");
  OpenAIChatClient client(CurlHttpClient::shared(), server.url() + "/v1", std::nullopt, false);
  EXPECT_EQ(client.listModels(), (std::vector<std::string>{"qwen3-8b", "gemma-3"}));
}

TEST(OllamaChatClient, SendsItsOwnBodyAndReadsTheWholeAnswer) {
  FakeServer server;
  server.onJson("POST", "/api/chat",
                R"({"model":"gemma4:26b","message":{"role":"assistant","content":"{\"a\":1}"},"done":true})");
  OllamaChatClient client(CurlHttpClient::shared(), server.url());
  EXPECT_EQ(client.complete(askFor(true, false)), R"({"a":1})");
  auto body = server.requests().at(0).body;
  EXPECT_EQ(body,
            R"({"model":"m-1","stream":false,"options":{"num_ctx":16384},"messages":[{"role":"system","content":"Be brief."},)"
            R"({"role":"user","content":"Hi"},{"role":"assistant","content":"Hello"},{"role":"user","content":"Price of SOL?"}],)"
            R"("think":false,"format":"json"})");
  (void)client.complete(askFor(false, true));
  auto thinking = *parseJson(server.requests().at(1).body);
  EXPECT_FALSE(thinking.contains("think"));
  EXPECT_FALSE(thinking.contains("format"));
}

TEST(OllamaChatClient, StreamsOneObjectPerLine) {
  FakeServer server;
  server.on("POST", "/api/chat", [](const RecordedRequest&) {
    FakeResponse r;
    r.contentType = "application/x-ndjson";
    r.chunks = {R"({"message":{"role":"assistant","content":"Pri"},"done":false})" "\n",
                R"({"message":{"role":"assistant","content":"ce "},"done":false})" "\n"
                R"({"message":{"role":"assistant","content":"up"},"done":false})" "\n",
                R"({"message":{"role":"assistant","content":""},"done":true,"total_duration":5})" "\n"};
    return r;
  });
  OllamaChatClient client(CurlHttpClient::shared(), server.url());
  std::vector<std::string> partials;
  EXPECT_EQ(client.completeStreaming(askFor(), [&](const std::string& t) { partials.push_back(t); }), "Price up");
  EXPECT_EQ(partials, (std::vector<std::string>{"Pri", "Price ", "Price up"}));
  EXPECT_EQ(parseJson(server.requests().at(0).body)->at("stream"), true);
}

TEST(ThinkingClient, ForwardsWithThinkingOn) {
  FakeServer server;
  server.onJson("POST", "/chat/completions", R"({"choices":[{"message":{"content":"x"}}]})");
  auto base = std::make_shared<OpenAIChatClient>(CurlHttpClient::shared(), server.url(), std::nullopt, true);
  ThinkingClient thinking(base);
  EXPECT_EQ(thinking.complete(askFor(true, false)), "x");
  (void)base->complete(askFor(true, true));
  EXPECT_EQ(server.requests().at(0).body, server.requests().at(1).body);  // only `thinking` was switched on
}

}  // namespace
}  // namespace orwenna
