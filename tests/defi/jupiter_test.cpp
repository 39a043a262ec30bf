// Jupiter's client against a fake of its HTTP API, and swaps end to end:
// fake Jupiter building transactions for a fake Solana ledger that applies
// them, the Solana pipeline checking, simulating and signing in between.
#include <gtest/gtest.h>

#include "base/http.h"
#include "chains/spl.h"
#include "defi/jupiter.h"
#include "defi/jupiter_swap.h"
#include "execution/execution_error.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_jupiter.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

const std::string kQuote =
    R"({"inputMint":"EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v","inAmount":"1000000",)"
    R"("outputMint":"So11111111111111111111111111111111111111112","outAmount":"7000000",)"
    R"("otherAmountThreshold":"6965000","priceImpactPct":1e-7,)"
    R"("routePlan":[{"swapInfo":{"label":"Whirlpool"}},{"swapInfo":{"label":"Raydium CLMM"}}]})";

TEST(Jupiter, QuoteAsksAsDocumentedAndSendsTheQuoteBackUnchanged) {
  FakeServer server;
  server.on("GET", "/quote", [](const RecordedRequest&) { return FakeResponse::json(kQuote); });
  server.on("POST", "/swap", [](const RecordedRequest&) {
    return FakeResponse::json(R"({"swapTransaction":"AQID","lastValidBlockHeight":321})");
  });
  Jupiter jupiter(CurlHttpClient::shared(), server.url());

  auto q = jupiter.quote(Jupiter::kUSDC, Jupiter::kWrappedSol, 1'000'000, 50, {});
  EXPECT_EQ(q.route, "Whirlpool → Raydium CLMM");
  EXPECT_EQ(q.dexes, (std::vector<std::string>{"Whirlpool", "Raydium CLMM"}));
  EXPECT_EQ(q.minOut, 6'965'000u);
  EXPECT_EQ(server.requests().at(0).query,
            "inputMint=EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v&outputMint="
            "So11111111111111111111111111111111111111112&amount=1000000&slippageBps=50");
  (void)jupiter.quote(Jupiter::kUSDC, Jupiter::kWrappedSol, 1'000'000, 50, {"Whirlpool", "Raydium CLMM"});
  EXPECT_NE(server.requests().at(1).query.find("&excludeDexes=Whirlpool,Raydium%20CLMM"), std::string::npos);

  auto tx = jupiter.swapTransaction(q, "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM");
  EXPECT_EQ(tx.transaction, (Bytes{1, 2, 3}));
  EXPECT_EQ(tx.lastValidBlockHeight, 321u);
  const std::string sent = server.requests().at(2).body;
  // "1e-7" would not survive a parse and dump: the quote goes back as received.
  EXPECT_NE(sent.find(R"({"quoteResponse":)" + kQuote + ","), std::string::npos);
  Json body = Json::parse(sent);
  EXPECT_EQ(body["prioritizationFeeLamports"]["priorityLevelWithMaxLamports"]["maxLamports"], 200000);
  EXPECT_EQ(body["prioritizationFeeLamports"]["priorityLevelWithMaxLamports"]["priorityLevel"], "medium");
  EXPECT_EQ(body["wrapAndUnwrapSol"], true);
}

TEST(Jupiter, RefusalsCarryJupitersOwnWords) {
  FakeServer server;
  Jupiter jupiter(CurlHttpClient::shared(), server.url());
  std::string html = "<html>" + std::string(293, 'x') + "ж</html>";  // the 2-byte letter straddles byte 300
  server.on("GET", "/quote", [&](const RecordedRequest&) { return FakeResponse::text(html, 502); });
  EXPECT_EQ(errorOf([&] { (void)jupiter.quote(Jupiter::kUSDC, Jupiter::kWrappedSol, 5, 50, {}); }),
            "Jupiter: " + html.substr(0, 299));

  server.on("GET", "/quote", [](const RecordedRequest&) { return FakeResponse::json(kQuote); });
  EXPECT_EQ(errorOf([&] { (void)jupiter.quote(Jupiter::kUSDC, Jupiter::kWrappedSol, 999, 50, {}); }),
            "Jupiter: the quote is for another pair or amount than was asked.");
  EXPECT_EQ(errorOf([&] { (void)Jupiter::readQuote(R"({"inAmount":"1","outAmount":"x"})"); }),
            R"(Jupiter: {"inAmount":"1","outAmount":"x"})");
  EXPECT_EQ(errorOf([&] { (void)Jupiter::readSwap(R"({"swapTransaction":"AQID"})"); }),
            R"(Jupiter: {"swapTransaction":"AQID"})");
}

TEST(Jupiter, AmountsFinerThanOneBaseUnitAreRefused) {
  EXPECT_EQ(JupiterSwapper::baseUnits(Decimal::parse("1.5"), 6), 1'500'000u);
  EXPECT_EQ(JupiterSwapper::baseUnits(Decimal::parse("0.0000001"), 6), std::nullopt);
  EXPECT_EQ(JupiterSwapper::baseUnits(Decimal::parse("0"), 9), std::nullopt);
}

const std::string kUsdc(Jupiter::kUSDC);
const std::string kBonk = "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263";
const std::string kPool = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";
const std::string kPool2 = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";

class JupiterSwap : public ::testing::Test {
 protected:
  testing::FixedClock clock;
  testing::TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  testing::FakeSolanaLedger ledger;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, ledger.node.url());
  testing::FakeJupiter fake{rpc};
  Jupiter jupiter{CurlHttpClient::shared(), fake.url()};
  SolanaSender sender{rpc, signer, journal, clock};
  JupiterSwapper swapper{jupiter, sender};

  void SetUp() override {
    ledger.addMint(kBonk, 6);
    ledger.fund(signer.solana, 50'000'000);
    ledger.fundToken(signer.solana, kUsdc, 10'000'000);
    ledger.fundToken(signer.solana, kBonk, 0);
    for (const auto& pool : {kPool, kPool2}) {
      ledger.fundToken(pool, kUsdc, 0);
      ledger.fundToken(pool, kBonk, 900'000'000);
    }
  }
  // 2 USDC for BONK, approved for at least `minOutput`.
  SwapOrder order(const std::string& minOutput) {
    return {signer.solana, {kUsdc, 6, false, "USDC"}, {kBonk, 6, false, "BONK"}, Decimal::parse("2"),
            Envelope{Decimal::parse("2"), Decimal::parse(minOutput), std::nullopt, clock.nowMillis() + 300'000}};
  }
  std::uint64_t bonk() { return ledger.token(SPL::associatedTokenAddress(signer.solana, kBonk, SolanaPrograms::kToken))->amount; }
};

TEST_F(JupiterSwap, ASwapLandsAndIsJournaled) {
  fake.addPool({"Whirlpool", kPool, 500'000'000, 497'500'000, 499'000'000});
  auto outcome = swapper.swap(order("497.5"));
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(bonk(), 499'000'000u);
  ASSERT_EQ(journal.entries().size(), 2u);
  EXPECT_EQ(journal.entries()[0].kind, Journal::Entry::Kind::signed_);
  EXPECT_EQ(journal.entries()[0].note, "Swap 2 USDC for at least 497.5 BONK through Whirlpool");
  EXPECT_EQ(journal.entries()[1].kind, Journal::Entry::Kind::confirmed);
}

TEST_F(JupiterSwap, AQuoteThatMovedPastTheApprovalSignsNothing) {
  fake.addPool({"Whirlpool", kPool, 480'000'000, 477'600'000, 480'000'000});
  EXPECT_EQ(errorOf([&] { (void)swapper.swap(order("497.5")); }),
            "The price moved past what was approved: at least 477.6 BONK would arrive, 497.5 was approved. "
            "Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(journal.entries().empty());
  EXPECT_EQ(bonk(), 0u);
}

TEST_F(JupiterSwap, ABadRouteIsAskedAgainWithoutItsVenues) {
  // The first pool can't deliver (6001), the second route is too large, the third works.
  fake.addPool({"Whirlpool", kPool, 500'000'000, 497'500'000, 950'000'000});
  fake.addPool({"Meteora", kPool, 500'000'000, 497'500'000, 499'000'000, 1300});
  fake.addPool({"Raydium", kPool2, 500'000'000, 497'500'000, 498'000'000});
  std::vector<std::string> heard;
  auto outcome = swapper.swap(order("497.5"), [&](const std::string& s) { heard.push_back(s); });
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(bonk(), 498'000'000u);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_NE(heard[0].find(" (Jupiter's 6001)"), std::string::npos) << heard[0];
  EXPECT_TRUE(heard[0].ends_with("Asking Jupiter for a route without Whirlpool.")) << heard[0];
  EXPECT_TRUE(heard[1].starts_with("Jupiter's route is over Solana's limit of 1232 bytes. Nothing was signed."));
  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 6u);  // three quotes, each with its swap
  EXPECT_NE(requests[4].query.find("excludeDexes=Whirlpool,Meteora"), std::string::npos) << requests[4].query;
  EXPECT_EQ(journal.entries().size(), 2u);
}

}  // namespace
}  // namespace orwenna
