// The 1Click and Relay clients against fakes of their HTTP APIs: both of
// 1Click's answer shapes, its refusals in the system's own words, and Relay's
// EVM steps read into calls.
#include <gtest/gtest.h>

#include "base/http.h"
#include "defi/one_click.h"
#include "defi/relay.h"
#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

const char* kFlatQuote =
    R"({"depositAddress":"7Yq1depositFlat","amountIn":"2000000","amountInFormatted":"2",)"
    R"("amountOutFormatted":"0.5","minAmountOut":"490000000000000000000000","deadline":"2027-01-15T08:30:00Z",)"
    R"("timeEstimate":140,"amountInUsd":"2.00","amountOutUsd":"1.99"})";

TEST(OneClick, QuotesAndStatusesAreReadNestedOrFlatAndTheEchoIsKept) {
  FakeServer server;
  std::string nested;
  server.on("POST", "/v0/quote", [&](const RecordedRequest& r) {
    Json echo = *parseJson(r.body);
    nested = Json{{"timestamp", "2027-01-15T08:00:00Z"}, {"signature", "ed25519:abc"}, {"quoteRequest", echo},
                  {"quote", *parseJson(kFlatQuote)}}
                 .dump();
    return FakeResponse::json(nested);
  });
  server.on("GET", "/v0/status", [](const RecordedRequest& r) {
    return FakeResponse::json(r.query.find("flat") != std::string::npos
                                  ? R"({"status":"REFUNDED","refundedAmountFormatted":"2","destinationChainTxHashes":[]})"
                                  : R"({"status":"SUCCESS","updatedAt":"x","quoteResponse":{},)"
                                    R"("swapDetails":{"amountOutFormatted":"0.5","destinationChainTxHashes":[{"hash":"0xabc"}]}})");
  });
  OneClick client(CurlHttpClient::shared(), server.url(), std::string("token-1"));
  OneClick::QuoteRequest request;
  request.originAsset = OneClick::kSolanaUSDC;
  request.destinationAsset = OneClick::kNEAR;
  request.amount = "2000000";
  request.refundTo = "me.sol";
  request.recipient = "me.near";
  const std::int64_t now = 1'800'000'000'000;

  OneClick::Quote q = client.quote(request, now);
  EXPECT_EQ(q.depositAddress, "7Yq1depositFlat");
  EXPECT_EQ(q.amountIn, "2000000");
  EXPECT_EQ(q.timeEstimate, 140);
  EXPECT_EQ(q.signature, "ed25519:abc");
  EXPECT_EQ(q.quoteRequest, OneClick::requestBody(request, now));
  EXPECT_EQ(q.quoteRequest["deadline"], iso8601(now + 1'800'000));
  EXPECT_EQ(server.requests().at(0).header("X-API-Key"), "token-1");

  OneClick::Quote flat = OneClick::readQuote(*parseJson(kFlatQuote));
  EXPECT_EQ(flat.depositAddress, q.depositAddress);
  EXPECT_EQ(flat.amountOutFormatted, "0.5");
  EXPECT_TRUE(flat.quoteRequest.is_null());
  // A dry quote gives no address to fund.
  EXPECT_FALSE(OneClick::readQuote(Json{{"quote", {{"amountIn", "1"}, {"amountOutFormatted", "1"}}}}).depositAddress);

  OneClick::Status done = client.status("nested");
  EXPECT_EQ(done.status, "SUCCESS");
  EXPECT_EQ(done.amountOutFormatted, "0.5");
  EXPECT_EQ(done.destinationTxs, std::vector<std::string>{"0xabc"});
  OneClick::Status refunded = client.status("flat");
  EXPECT_EQ(refunded.refundedFormatted, "2");
  EXPECT_TRUE(OneClick::isFinal(refunded.status));
  EXPECT_FALSE(OneClick::isFinal("KNOWN_DEPOSIT_TX"));
}

TEST(OneClick, ARefusedKeyAndASilentServiceAreSaidInTheSystemsWords) {
  FakeServer server;
  server.onJson("GET", "/v0/status", R"({"message":"Unauthorized"})", 401);
  OneClick refused(CurlHttpClient::shared(), server.url(), std::string("bad"));
  EXPECT_EQ(errorOf([&] { (void)refused.status("x"); }),
            "1Click turned the key away (401): copy the whole token from https://partners.near-intents.org again.");
  EXPECT_THROW((void)refused.status("x"), OneClickError);
  OneClick silent(CurlHttpClient::shared(), "http://127.0.0.1:9", std::nullopt);
  EXPECT_EQ(errorOf([&] { (void)silent.status("x"); }), "1Click didn't answer. Try again in a minute.");
}

TEST(Relay, AnEVMQuotesStepsAreReadAsCallsAndTheRequestIdFallsBackToTheTop) {
  Json answer = *parseJson(R"({"requestId":"0xtop","steps":[
      {"id":"approve","kind":"transaction","items":[{"data":{"to":"0xusdc","data":"0x095ea7b3","value":"0","chainId":8453}}]},
      {"id":"deposit","kind":"transaction","items":[{"data":{"to":"0xrelay","data":"0xabcd","chainId":"8453"}}]}],
    "fees":{"relayer":{"amountUsd":"0.05"}},
    "details":{"sender":"0xme","recipient":"0xme","timeEstimate":9,
      "currencyIn":{"amount":"5000000","amountFormatted":"5"},"currencyOut":{"amount":"4950000","amountFormatted":"4.95"}}})");
  RelayQuote q = RelayClient::readAnyQuote(answer);
  EXPECT_EQ(q.requestId, "0xtop");
  ASSERT_EQ(q.evm.size(), 2u);
  EXPECT_EQ(q.evm[0].id, "approve");
  EXPECT_EQ(q.evm[0].data, (Bytes{0x09, 0x5e, 0xa7, 0xb3}));
  EXPECT_EQ(q.evm[1].chainId, 8453u);
  EXPECT_EQ(q.evm[1].value, "0");
  EXPECT_EQ(q.amountOut, "4950000");
  EXPECT_EQ(q.amountOutFormatted, Decimal::parse("4.95"));
  // The executor's reading wants a Solana deposit and refuses this one.
  EXPECT_EQ(errorOf([&] { (void)RelayClient::readQuote(answer); }),
            "Relay's quote has no Solana deposit to sign. Nothing was signed.");
  EXPECT_EQ(errorOf([&] { (void)RelayClient::readAnyQuote(Json{{"requestId", "0x1"}}); }),
            "Relay's quote has nothing to sign. Nothing was signed.");
}

}  // namespace
}  // namespace orwenna
