// The posted body of a signed action and its trip to a local fake exchange.
#include "hyperliquid/exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_server.h"
#include "signing/hl_action.h"
#include "signing/wallet_error.h"

namespace orwenna {
namespace {

using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

EVMSignature sampleSignature() {
  EVMSignature s;
  s.r[31] = 0x0a;  // leading zero bytes must survive as zero digits
  for (std::size_t i = 0; i < 32; ++i) s.s[i] = static_cast<std::uint8_t>(0xA0 + i % 16);
  s.v = 28;
  return s;
}

TEST(HLExchangeBody, FourKeysLowerCaseHexAndNullVault) {
  HLCancel cancel{2, 77};
  MsgPack action = HLAction::cancel(std::span(&cancel, 1));
  Json body = HLExchange::body(action, 1700000000123, sampleSignature(), std::nullopt);
  EXPECT_EQ(body.dump(),
            R"({"action":{"type":"cancel","cancels":[{"a":2,"o":77}]},"nonce":1700000000123,)"
            R"("signature":{"r":"0x000000000000000000000000000000000000000000000000000000000000000a",)"
            R"("s":"0xa0a1a2a3a4a5a6a7a8a9aaabacadaeafa0a1a2a3a4a5a6a7a8a9aaabacadaeaf","v":28},)"
            R"("vaultAddress":null})");
  Json vaulted = HLExchange::body(action, 1, sampleSignature(), "0x1719884eb866cb12b2287399b15f7db5e7d775ea");
  EXPECT_EQ(vaulted["vaultAddress"], "0x1719884eb866cb12b2287399b15f7db5e7d775ea");
  // The posted action reads back as the very bytes that were hashed.
  EXPECT_EQ(MsgPack::fromPlainJson(Json::parse(body.dump())["action"]).encoded(), action.encoded());
}

// Delegates to the real client and keeps what it was asked to send.
class RecordingClient : public HttpClient {
 public:
  HttpResponse send(const HttpRequest& request) override {
    last = request;
    return CurlHttpClient::shared().send(request);
  }
  HttpResponse stream(const HttpRequest& request, const LineHandler& onLine) override {
    return CurlHttpClient::shared().stream(request, onLine);
  }
  HttpRequest last;
};

TEST(HLExchangePost, PostsToTheChosenNetworkAndReturnsTheReplyAsWritten) {
  FakeServer mainnet;
  FakeServer testnet;
  const std::string okReply = R"({"status":"ok", "response":{"type":"cancel","data":{"statuses":["success"]}}})";
  mainnet.onJson("POST", "/exchange", okReply);
  testnet.on("POST", "/exchange", [](const RecordedRequest&) {
    return FakeResponse::text("Failed to deserialize the JSON body into the target type", 422);
  });
  HLEndpoints endpoints{mainnet.url(), testnet.url()};
  HLCancel cancel{0, 1};
  Json body = HLExchange::body(HLAction::cancel(std::span(&cancel, 1)), 5, sampleSignature(), std::nullopt);

  RecordingClient http;
  EXPECT_EQ(HLExchange::post(http, body, true, endpoints), okReply);
  EXPECT_EQ(http.last.timeout, std::chrono::milliseconds(20000));
  ASSERT_EQ(mainnet.requestCount(), 1u);
  RecordedRequest got = mainnet.requests()[0];
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.path, "/exchange");
  EXPECT_EQ(got.header("Content-Type"), "application/json");
  EXPECT_EQ(got.body, body.dump());

  // An error answer is the caller's to read, not swallowed.
  EXPECT_EQ(HLExchange::post(http, body, false, endpoints), "Failed to deserialize the JSON body into the target type");
  EXPECT_EQ(testnet.requestCount(), 1u);
  EXPECT_EQ(mainnet.requestCount(), 1u);

  Json broken = body;
  broken["action"]["type"] = std::string("\xff\xfe");
  EXPECT_THROW((void)HLExchange::post(http, broken, true, endpoints), WalletError);
  EXPECT_EQ(mainnet.requestCount(), 1u);
}

// Answers every request itself and keeps its address: nothing leaves the machine.
class AnsweringClient : public HttpClient {
 public:
  HttpResponse send(const HttpRequest& request) override {
    urls.push_back(request.url);
    return HttpResponse{200, {}, R"({"status":"err","response":"Invalid nonce"})"};
  }
  HttpResponse stream(const HttpRequest& request, const LineHandler&) override { return send(request); }
  std::vector<std::string> urls;
};

TEST(HLExchangePost, WithoutEndpointsTheRootsArePublic) {
  AnsweringClient http;
  EXPECT_EQ(HLExchange::post(http, Json::object(), true), R"({"status":"err","response":"Invalid nonce"})");
  EXPECT_EQ(HLExchange::post(http, Json::object(), false), R"({"status":"err","response":"Invalid nonce"})");
  EXPECT_EQ(http.urls, (std::vector<std::string>{"https://api.hyperliquid.xyz/exchange",
                                                  "https://api.hyperliquid-testnet.xyz/exchange"}));
}

}  // namespace
}  // namespace orwenna
