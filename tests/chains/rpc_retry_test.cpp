// The pieces the Solana and EVM node clients share: the request envelope, the
// reading of a JSON-RPC error, which failures are retried, and the loop's
// waits and node order (the clients' own tests cover them over the wire).
#include "chains/rpc_retry.h"

#include <gtest/gtest.h>

#include "base/http.h"
#include "chains/solana_fake_node.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FixedClock;

TEST(RPCRetry, WritesTheEnvelopeAndReadsErrors) {
  EXPECT_EQ(RPCRetry::requestBody("getSlot", Json::array()), R"({"jsonrpc":"2.0","id":1,"method":"getSlot","params":[]})");
  EXPECT_EQ(RPCRetry::errorMessage(Json{{"code", -32005}, {"message", "Node is behind"}}), "Node is behind");
  EXPECT_EQ(RPCRetry::errorMessage(Json{{"code", -32005}}), R"({"code":-32005})");
  EXPECT_EQ(RPCRetry::errorMessage(Json("plain")), R"("plain")");
  EXPECT_EQ(RPCRetry::excerpt(std::string(200, 'x')), std::string(120, 'x'));
}

TEST(RPCRetry, TellsWhichFailuresAreWorthAnotherTry) {
  EXPECT_TRUE(RPCRetry::isRetryableStatus(429, false));
  EXPECT_TRUE(RPCRetry::isRetryableStatus(503, false));
  EXPECT_FALSE(RPCRetry::isRetryableStatus(401, false));
  EXPECT_TRUE(RPCRetry::isRetryableStatus(403, true));  // another node may take the call
  EXPECT_FALSE(RPCRetry::isRetryableStatus(400, true));
  EXPECT_TRUE(RPCRetry::isRetryableText("QUOTA exceeded"));
  EXPECT_TRUE(RPCRetry::isRetryableText("request timed out"));
  EXPECT_FALSE(RPCRetry::isRetryableText("execution reverted: rate limit"));
  EXPECT_FALSE(RPCRetry::isRetryableText("Transaction simulation failed"));
}

TEST(RPCRetry, AsksTheNodesInTurnWithGrowingWaits) {
  FixedClock clock;
  std::vector<std::string> asked;
  auto failing = [&](const std::string& url) -> Json {
    asked.push_back(url);
    throw RPCRetry::Again(true, std::make_exception_ptr(WalletError("busy at " + url)), "busy");
  };
  EXPECT_EQ(errorOf([&] { (void)RPCRetry::run({"a", "b"}, clock, failing); }), "busy at a");
  EXPECT_EQ(asked, (std::vector<std::string>{"a", "b", "a", "b", "a"}));
  EXPECT_EQ(clock.sleeps(), (std::vector<std::int64_t>{1000, 2000, 4000, 8000}));

  asked.clear();
  auto final = [&](const std::string& url) -> Json {
    asked.push_back(url);
    throw RPCRetry::Again(false, std::make_exception_ptr(WalletError("refused")), "refused");
  };
  EXPECT_EQ(errorOf([&] { (void)RPCRetry::run({"a", "b"}, clock, final); }), "refused");
  EXPECT_EQ(asked.size(), 1u);

  EXPECT_EQ(errorOf([&] { (void)RPCRetry::run({}, clock, final); }), "No RPC node is set.");
  EXPECT_EQ(asked.size(), 1u);
}

}  // namespace
}  // namespace orwenna
