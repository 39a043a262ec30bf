// The wiring of services: every client Services builds reaches the endpoint
// it was given (fake servers on 127.0.0.1), and the command line's address
// portfolio reads Hyperliquid and the Solana wallet through them.
#include "app/services.h"

#include <gtest/gtest.h>

#include "app/read_tools.h"
#include "chains/solana_fake_node.h"
#include "fakes/fake_server.h"

namespace orwenna {
namespace {

using testing::FixedClock;
using testing::FakeResponse;
using testing::FakeServer;
using testing::FakeSolanaNode;
using testing::kEvmWallet;
using testing::kSolanaWallet;
using testing::RecordedRequest;


TEST(Services, BuildsEachClientOnTheEndpointsItHolds) {
  FixedClock clock;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  services.endpoints.hyperliquid.mainnet = "http://127.0.0.1:9/hl";
  services.endpoints.solanaRpc = "http://127.0.0.1:9/solana/";
  services.endpoints.evmNodes["base"] = {"http://127.0.0.1:9/base/"};
  services.endpoints.llm.openRouter = "http://127.0.0.1:9/or";
  services.endpoints.llm.providerBase["deepseek"] = "http://127.0.0.1:9/ds";

  EXPECT_EQ(services.hyperliquidInfo().root, "http://127.0.0.1:9/hl");
  EXPECT_EQ(services.solana().nodes(), std::vector<std::string>{"http://127.0.0.1:9/solana/"});
  services.solanaNode = "https://own.example/";
  EXPECT_EQ(services.solana().nodes(), (std::vector<std::string>{"https://own.example/", "http://127.0.0.1:9/solana/"}));
  EXPECT_EQ(services.rpcNodes({}).solana.list(), services.solana().nodes());

  const EVMNetwork& base = *EVMNetwork::byKey("base");
  const EVMNetwork& bnb = *EVMNetwork::byKey("bnb");
  EXPECT_EQ(services.evm(base).url(), "http://127.0.0.1:9/base/");
  EXPECT_TRUE(services.evm(base).fallbacks().empty());
  EXPECT_EQ(services.evm(bnb).url(), bnb.defaultNodes.front());  // a network without an entry
  EXPECT_EQ(services.gasInputs({}).nodes(base), std::vector<std::string>{"http://127.0.0.1:9/base/"});
  EXPECT_EQ(services.rpcNodes({}).evmNodes.at("base"), std::vector<std::string>{"http://127.0.0.1:9/base/"});

  SecureRandom& random = SecureRandom::shared();
  MemoryCredentialStore store;
  LLMEnvironment llm = services.llm(random, store);
  EXPECT_EQ(llm.endpoints.baseURL("deepseek"), "http://127.0.0.1:9/ds");
  EXPECT_EQ(llm.endpoints.openRouter, "http://127.0.0.1:9/or");
  EXPECT_EQ(&llm.http, &services.http);
}

TEST(Services, TheSecondCheckUsesTheKeyAndOpenRoutersRoot) {
  FakeServer openRouter;
  openRouter.onJson("POST", "/api/alpha/decisions", R"({"answers":{"answer":{"choice":"data","confidence":0.9}}})");
  FixedClock clock;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  services.endpoints.llm.openRouter = openRouter.url();
  EXPECT_FALSE(services.secondCheck().connected());

  services.secondCheckKey = "sk-or-test";
  const SecondCheckClassifier check = services.secondCheck();
  ASSERT_TRUE(check.connected());
  EXPECT_EQ(check.decide(Json::object(), "Which?", Json{{"data", "plain data"}}).choice, "data");
  ASSERT_EQ(openRouter.requestCount(), 1u);
  EXPECT_EQ(openRouter.requests()[0].header("Authorization"), "Bearer sk-or-test");
}

TEST(AddressPortfolio, ReadsTheGivenAddressesThroughTheServices) {
  FakeServer hl;
  hl.on("POST", "/info", [](const RecordedRequest& r) {
    Json body = Json::parse(r.body);
    if (body["type"] == "clearinghouseState") {
      return FakeResponse::json(R"({"marginSummary":{"accountValue":"1500.5"},"withdrawable":"1200"})");
    }
    return FakeResponse::json(R"({"balances":[{"coin":"USDC","total":"25.25","hold":"0"}]})");
  });
  FakeSolanaNode solana;
  solana.result("getBalance", {{"value", 1500000000}});
  solana.result("getTokenAccountsByOwner", {{"value", Json::array()}});
  FixedClock clock;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  services.endpoints.hyperliquid.mainnet = hl.url();
  services.endpoints.solanaRpc = solana.url();

  Agent::AddressPortfolio both(services, {kEvmWallet, kSolanaWallet});
  Agent::PortfolioSnapshot s = both.snapshot();
  EXPECT_EQ(s.balances, (std::vector<std::string>{
                            "Hyperliquid: $1,500.50 account value, $1,200.00 withdrawable, $25.25 spot USDC",
                            "Solana wallet: 0 USDC, 1.5 SOL"}));
  EXPECT_EQ(s.notRead.front(), "open positions");

  // A node that fails is named, with SolanaRPC's sentence, and the rest is kept.
  solana.on("getBalance", [](const Json&) { return FakeSolanaNode::rpcError(-32602, "Invalid param: WrongSize"); });
  s = both.snapshot();
  EXPECT_EQ(s.balances.size(), 1u);
  EXPECT_EQ(s.notRead.back(), "the Solana balance (Solana RPC getBalance: Invalid param: WrongSize)");

  Agent::AddressPortfolio none(services, {});
  EXPECT_EQ(none.snapshot().notRead.front(), "balances (no --evm or --solana address given)");
}

}  // namespace
}  // namespace orwenna
