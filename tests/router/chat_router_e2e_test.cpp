// The router through the OpenAI-compatible client against a local server that
// plays the model over server-sent events.
#include <gtest/gtest.h>

#include <atomic>

#include "base/http.h"
#include "router/chat_router.h"
#include "fakes/fake_server.h"
#include "llm/clients.h"

namespace orwenna {
namespace {

using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

// The answer streamed in small pieces, as a provider sends it.
FakeResponse streamed(const std::string& answer) {
  FakeResponse r;
  r.contentType = "text/event-stream";
  for (std::size_t i = 0; i < answer.size(); i += 7)
    r.chunks.push_back("data: {\"choices\":[{\"index\":0,\"delta\":{\"content\":" +
                       Json(answer.substr(i, 7)).dump() + "}}]}\n\n");
  r.chunks.push_back("data: [DONE]\n\n");
  return r;
}

TEST(ChatRouterEndToEnd, LookupRoundThenAnswerThroughAChatCompletionsServer) {
  FakeServer server;
  std::atomic<int> turn{0};
  server.on("POST", "/v1/chat/completions", [&turn](const RecordedRequest&) {
    if (turn++ == 0)
      return streamed(R"(Let me check. {"route":"lookup","lookups":[{"tool":"market","arg":"ETH"}]})");
    return streamed(
        R"({"route":"chat","reply":"ETH is at $2,400; a long risking $20 fits your rules.","options":[)"
        R"({"title":"Long ETH","command":"long ETH risk $20","recommended":true},)"
        R"({"title":"Chart","command":"chart ETH week"}]})");
  });
  OpenAIChatClient client(CurlHttpClient::shared(), server.url() + "/v1", std::string("sk-test"), true);

  ChatRouter::Context context;
  context.now = "2026-12-06 09:15, Sunday";
  ChatRouter::Callbacks callbacks;
  callbacks.ask = ChatRouter::askWith(client, "m-1");
  callbacks.lookup = [](const std::string& tool, const std::string& arg) {
    return tool == "market" && arg == "ETH" ? std::string("ETH mark 2400, funding -0.01%") : std::string("?");
  };
  std::vector<std::string> early;
  callbacks.onEarlyReply = [&early](const std::string& reply) { early.push_back(reply); };

  auto reading = ChatRouter::read("should I long eth?", context, callbacks);

  ChatRouter::Reading want;
  want.route = ChatRouter::Route::chat("ETH is at $2,400; a long risking $20 fits your rules.");
  want.show = "chart ETH week";
  want.options = {{"Long ETH", "", "long ETH risk $20", true}};
  want.lookups = {{"market", "ETH"}};
  EXPECT_EQ(reading, want);
  ASSERT_FALSE(early.empty());
  EXPECT_EQ(early.back(), "ETH is at $2,400; a long risking $20 fits your rules.");

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  auto second = *parseJson(requests[1].body);
  EXPECT_EQ(second.at("model"), "m-1");
  EXPECT_EQ(second.at("response_format").at("type"), "json_object");
  const auto& messages = second.at("messages");
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0].at("role"), "system");
  EXPECT_EQ(messages[2].at("content"),
            R"(Let me check. {"route":"lookup","lookups":[{"tool":"market","arg":"ETH"}]})");
  EXPECT_EQ(messages[3].at("content"), "Result of market ETH:\nETH mark 2400, funding -0.01%");
}

}  // namespace
}  // namespace orwenna
