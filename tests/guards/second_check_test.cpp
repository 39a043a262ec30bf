// The second check against a local decisions endpoint speaking OpenRouter's
// wire format.
#include "guards/second_check.h"

#include <gtest/gtest.h>

#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

std::string answer(const std::string& choice, const std::string& confidence) {
  return R"({"answers":{"answer":{"choice":")" + choice + R"(","confidence":)" + confidence + "}}}";
}

using testing::errorOf;

class SecondCheck : public ::testing::Test {
 protected:
  FakeServer server;
  CurlHttpClient http;
  SecondCheckClassifier classifier{http, std::string("sk-or-test-key"), server.url(), std::chrono::milliseconds(400)};
};

TEST_F(SecondCheck, EachReviewSendsItsQuestion) {
  struct Case {
    SecondCheckReview::Kind kind;
    std::vector<Json> values;
    std::vector<std::string> keys;
    std::vector<std::string> choices;
    std::string instructionStart;
    std::string goodText;
  };
  const Case cases[] = {
      {SecondCheckReview::Kind::command,
       {Json::array({"user: hi"}), "long btc 100 usdc", "long BTC 100 USDC"},
       {"recent_chat", "message", "command"},
       {"matches", "mismatch", "unclear"},
       "A crypto wallet's assistant read state.message",
       "the command matches the message."},
      {SecondCheckReview::Kind::plan,
       {Json::array({"long eth risk 20"}), "Long ETH, risk $20"},
       {"user_messages", "plan"},
       {"matches", "mismatch", "risky"},
       "state.user_messages are what a trader typed",
       "The plan matches your request."},
      {SecondCheckReview::Kind::signatures,
       {"Bridge 100 USDC", "1. deposit 100 USDC", "USDC -100"},
       {"plan", "signatures", "balance_changes"},
       {"consistent", "inconsistent", "unclear"},
       "An app is about to sign state.signatures",
       "signatures and balance changes match the plan."},
      {SecondCheckReview::Kind::site,
       {"jup.ag", "Swap", "Jupiter Swap", "SOL -1, USDC +180"},
       {"site", "page_title", "programs", "balance_changes"},
       {"ordinary", "suspicious", "unclear"},
       "A web page open in a crypto wallet's built-in browser",
       "an ordinary action for this kind of site."},
  };
  for (const auto& c : cases) {
    server.onJson("POST", "/api/alpha/decisions", answer(c.choices[0], "0.91"));
    auto review = SecondCheckReview::run(classifier, c.kind, c.values);
    EXPECT_EQ(review.label, c.choices[0]);
    EXPECT_FALSE(review.concern);
    EXPECT_EQ(review.text, c.goodText);
    EXPECT_DOUBLE_EQ(review.confidence, 0.91);

    RecordedRequest sent = server.requests().back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.header("Authorization"), "Bearer sk-or-test-key");
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    Json body = Json::parse(sent.body);
    EXPECT_EQ(body["model"], "typesafe/jev-1.13");
    std::vector<std::string> keys;
    for (const auto& [k, value] : body["state"].items()) keys.push_back(k);
    EXPECT_EQ(keys, c.keys);
    for (std::size_t i = 0; i < c.keys.size(); ++i) EXPECT_EQ(body["state"][c.keys[i]], c.values[i]);
    ASSERT_EQ(body["questions"].size(), 1u);
    const Json& q = body["questions"]["answer"];
    EXPECT_EQ(q["type"], "choice");
    EXPECT_EQ(q["instructions"].get<std::string>().rfind(c.instructionStart, 0), 0u);
    std::vector<std::string> choices;
    for (const auto& [k, description] : q["criteria"].items()) {
      choices.push_back(k);
      EXPECT_FALSE(description.get<std::string>().empty());
    }
    EXPECT_EQ(choices, c.choices);
  }
  EXPECT_EQ(server.requestCount(), 4u);
}

TEST_F(SecondCheck, WeakObjectionsCountAsTheGoodChoice) {
  struct Case {
    std::string choice;
    std::string confidence;
    std::string label;
    bool concern;
    std::string text;
  };
  const Case cases[] = {
      {"mismatch", "0.49", "matches", false, "the command matches the message."},
      {"mismatch", "0.5", "mismatch", true, "the command does something other than the message asks."},
      {"unclear", "0.0", "matches", false, "the command matches the message."},
      {"unclear", "1", "unclear", true, "the message is too vague to tell."},
      {"matches", "0.1", "matches", false, "the command matches the message."},
  };
  for (const auto& c : cases) {
    server.onJson("POST", "/api/alpha/decisions", answer(c.choice, c.confidence));
    auto review = SecondCheckReview::run(classifier, SecondCheckReview::Kind::command, {"", "buy", "buy"});
    EXPECT_EQ(review.label, c.label) << c.choice << " " << c.confidence;
    EXPECT_EQ(review.concern, c.concern) << c.choice << " " << c.confidence;
    EXPECT_EQ(review.text, c.text);
  }
}

TEST_F(SecondCheck, FailuresAreNotAnswers) {
  auto ask = [&] {
    return SecondCheckReview::run(classifier, SecondCheckReview::Kind::plan, {Json::array(), "plan"});
  };
  struct Case {
    FakeResponse response;
    std::string error;
  };
  const std::string wrongChoice = answer("maybe", "0.9");
  const std::string tooSure = answer("matches", "1.2");
  const std::string negative = answer("matches", "-0.1");
  const std::string noAnswer = R"({"answers":{"other":{"choice":"matches","confidence":0.9}}})";
  const std::string textConfidence = R"({"answers":{"answer":{"choice":"matches","confidence":"0.9"}}})";
  const Case cases[] = {
      {FakeResponse::json(tooSure), "unexpected reply: " + tooSure},
      {FakeResponse::json(negative), "unexpected reply: " + negative},
      {FakeResponse::json(noAnswer), "unexpected reply: " + noAnswer},
      {FakeResponse::json(textConfidence), "unexpected reply: " + textConfidence},
      {FakeResponse::json(wrongChoice), "unexpected reply: " + wrongChoice},
      {FakeResponse::text("<html>busy</html>"), "unexpected reply: <html>busy</html>"},
      {FakeResponse::json(R"({"error":{"message":"No auth"}})", 401), "HTTP 401"},
      {FakeResponse::json(answer("matches", "0.9"), 503), "HTTP 503"},
  };
  for (const auto& c : cases) {
    server.on("POST", "/api/alpha/decisions", [r = c.response](const RecordedRequest&) { return r; });
    EXPECT_EQ(errorOf(ask), c.error);
  }
}

TEST_F(SecondCheck, ATimeOutIsNotAnAnswerAndNeverBlocks) {
  server.on("POST", "/api/alpha/decisions", [](const RecordedRequest&) {
    FakeResponse r = FakeResponse::json(answer("instructions", "0.99"));
    r.delay = std::chrono::milliseconds(1500);
    return r;
  });
  EXPECT_NE(errorOf([&] { (void)classifier.classify("hello", "web page"); }), "");
  auto v = InjectionGuard::check("hello", "web page", &classifier);
  EXPECT_TRUE(v.clean());
  ASSERT_EQ(v.checks.size(), 1u);
  EXPECT_EQ(v.checks[0].rfind("The second check is unavailable (", 0), 0u) << v.checks[0];
}

TEST_F(SecondCheck, InjectionQuestion) {
  server.onJson("POST", "/api/alpha/decisions", answer("instructions", "0.97"));
  auto v = InjectionGuard::check("Please summarise the token.", "token description", &classifier);
  EXPECT_EQ(v.problems, std::vector<std::string>{"The second check: the text tries to steer the assistant (97%)."});
  Json body = Json::parse(server.requests().back().body);
  EXPECT_EQ(body["state"], (Json{{"source", "token description"}, {"text", "Please summarise the token."}}));
  std::vector<std::string> choices;
  for (const auto& [k, d] : body["questions"]["answer"]["criteria"].items()) choices.push_back(k);
  EXPECT_EQ(choices, (std::vector<std::string>{"data", "instructions", "payment_redirect"}));
}

TEST(SecondCheckConnection, WithoutAKeyNothingIsSent) {
  FakeServer server;
  CurlHttpClient http;
  for (std::optional<std::string> key : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
    SecondCheckClassifier off(http, key, server.url());
    EXPECT_FALSE(off.connected());
    EXPECT_EQ(
        errorOf([&] { (void)SecondCheckReview::run(off, SecondCheckReview::Kind::plan, {Json::array(), "p"}); }),
        std::string(SecondCheckReview::kNotConnected));
    // The outside-text guard then runs on local rules alone.
    EXPECT_EQ(InjectionGuard::check("Contest rules: be kind.", "web page", &off).checks,
              std::vector<std::string>{"Checked by local rules."});
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST(SecondCheckConnection, AsksTheRootItIsGivenElseOpenRouter) {
  EXPECT_EQ(SecondCheckClassifier::kDefaultRoot, "https://openrouter.ai");
  FakeServer server;
  server.onJson("POST", "/api/alpha/decisions", R"({"answers":{"answer":{"choice":"data","confidence":0.9}}})");
  CurlHttpClient http;
  SecondCheckClassifier classifier(http, std::string("sk-or-test-key"), server.url() + "//");  // trailing slashes dropped
  EXPECT_EQ(classifier.decide(Json::object(), "Which?", Json{{"data", "plain data"}}).choice, "data");
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].path, "/api/alpha/decisions");
}

}  // namespace
}  // namespace orwenna
