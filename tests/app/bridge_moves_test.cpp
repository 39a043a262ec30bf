// BridgeMoves over the fake bridges and ledgers with an in-process signer:
// a 1Click move read from the flat answer shape lands and settles, a Relay
// quote whose step is for another chain signs nothing, and a command that is
// not a bridge goes on to the next runner.
#include <gtest/gtest.h>

#include <cctype>

#include "app/bridge_moves.h"
#include "base/http.h"
#include "chains/spl.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_bridges.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using BridgeOutcome = ExecutionResult::Outcome;
const std::string kBridgeUsdc(SolanaPrograms::kUsdcMint);

class BridgeMovesTest : public ::testing::Test {
 protected:
  BridgeMovesTest() {
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.evmNodes["base"] = {base.node.url()};
    services.endpoints.oneClick = oneClick.url();
    services.endpoints.relay = relay.url();
    solana.fund(signer.solana, 50'000'000);
    solana.fundToken(signer.solana, kBridgeUsdc, 10'000'000);
    base.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
    base.fundToken("0x833589fcd6edb6e08f4c7c32d4f71b54bda02913", signer.evm, UInt256(10'000'000));
  }
  std::vector<std::string> kinds(const std::string& chain) {
    std::vector<std::string> out;
    for (const auto& e : journal.entries()) {
      if (e.chain == chain) out.emplace_back(Journal::kindName(e.kind));
    }
    return out;
  }

  testing::FixedClock clock;
  testing::TempDir dir;
  testing::FakeSolanaLedger solana;
  testing::FakeEVMLedger base{8453};
  testing::FakeNearNode near;
  testing::FakeOneClick oneClick{solana, near};
  testing::FakeServer relay;
  testing::FakeRelayBridge relayBridge{{&solana, {{8453, &base}}}};
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  BridgeMoves moves{services, signer, journal,
                    [this] { return WalletAddresses{signer.solana, signer.evm, signer.near}; }, nullptr};
};

TEST_F(BridgeMovesTest, AOneClickMoveReadFromTheFlatShapeLandsAndSettles) {
  oneClick.flatAnswers();
  std::vector<ActivityBubble> steps;
  moves.onStep([&](const ActivityBubble& step) { steps.push_back(step); });
  auto r = moves.run(PendingAction{*WalletCommand::parse("move 4 USDC from Solana to NEAR")});
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, BridgeOutcome::done) << r->reply;
  // The step card ran with the deposit's progress and ended done, with the reply as its last line.
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps.front().status, "running");
  EXPECT_EQ(steps.front().lines.size(), 1u);
  EXPECT_EQ(steps.back().status, "done");
  EXPECT_EQ(steps.back().lines.back(), r->reply);
  ASSERT_EQ(r->bubbles.size(), 1u);
  EXPECT_EQ(r->bubbles[0], steps.back());
  EXPECT_EQ(oneClick.delivered(signer.near), "1");
  EXPECT_EQ(solana.token(SPL::associatedTokenAddress(signer.solana, kBridgeUsdc, SolanaPrograms::kToken))->amount,
            6'000'000u);
  EXPECT_EQ(kinds("1click"), (std::vector<std::string>{"signed", "settled"}));
}

TEST_F(BridgeMovesTest, ARelayStepForAnotherChainSignsNothingAndOtherCommandsPassOn) {
  relay.on("POST", "/quote/v2", [this](const testing::RecordedRequest&) {
    Json step{{"to", "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913"}, {"data", "0x"}, {"value", "0"}, {"chainId", 1}};
    return testing::FakeResponse::json(
        Json{{"steps", Json::array({Json{{"id", "deposit"}, {"requestId", "0xr1"},
                                         {"items", Json::array({Json{{"data", step}}})}}})},
             {"details",
              {{"sender", signer.evm},
               {"recipient", signer.solana},
               {"currencyIn", {{"amount", "5000000"}, {"amountFormatted", "5"}}},
               {"currencyOut", {{"amount", "4950000"}, {"amountFormatted", "4.95"}}}}}}
            .dump());
  });
  auto r = moves.run(PendingAction{*WalletCommand::parse("move 5 USDC from Base to Solana")});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, BridgeOutcome::failed);
  EXPECT_EQ(r->reply, "Relay's step deposit is for chain 1, not Base. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(journal.entries().empty());

  EXPECT_FALSE(moves.run(PendingAction{*WalletCommand::parse("send 5 USDC to Mom")}));
}

TEST_F(BridgeMovesTest, ARelayQuoteNamingOurAddressInAnotherLetterCaseLands) {
  services.endpoints.relay = relayBridge.url();
  std::string shouted = "0x" + signer.evm.substr(2);
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  shouted[1] = 'x';
  relayBridge.redirectTo(shouted);
  auto r = moves.run(PendingAction{*WalletCommand::parse("move 5 USDC from Solana to Base")});
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, BridgeOutcome::done) << r->reply;
  EXPECT_EQ(base.token("0x833589fcd6edb6e08f4c7c32d4f71b54bda02913", signer.evm), UInt256(10'000'000 + 4'950'000));
  EXPECT_EQ(kinds("relay"), (std::vector<std::string>{"signed", "settled"}));
}

TEST_F(BridgeMovesTest, ARouteThatWouldLoseMoreThanAMoveMaySignsNothing) {
  services.endpoints.relay = relayBridge.url();
  relayBridge.payOutPercent(95);
  // $0.25 of $5 is within the dollar a move may always lose …
  auto small = moves.card(*WalletCommand::parse("move 5 USDC from Solana to Base"));
  ASSERT_TRUE(small);
  EXPECT_FALSE(small->refusal) << small->text;
  // … $2.50 of $50 is neither within $1 nor within 3%.
  solana.fundToken(signer.solana, kBridgeUsdc, 50'000'000);
  auto big = moves.card(*WalletCommand::parse("move 50 USDC from Solana to Base"));
  ASSERT_TRUE(big && big->refusal);
  EXPECT_EQ(*big->refusal,
            "Bridging 50 USDC from Solana to Base over Relay would lose $2.50 of $50.00, more than a move may lose on "
            "its own. Nothing was signed.");
  auto r = moves.bridge(*WalletCommand::parse("move 50 USDC from Solana to Base"), big);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reply, *big->refusal);
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(journal.entries().empty());
}

}  // namespace
}  // namespace orwenna
