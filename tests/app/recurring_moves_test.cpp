// RecurringMoves over a fake recurring API and the fake Solana ledger: the
// active orders listed, a cancel by ticker signed and landed, and a create
// whose transaction would pay someone else's account signed by no one.
#include <gtest/gtest.h>

#include "app/recurring_moves.h"
#include "base/http.h"
#include "chains/spl.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using DcaOutcome = ExecutionResult::Outcome;
const std::string kDcaUsdc(SolanaPrograms::kUsdcMint);
const std::string kDcaJup = "JUPyiwrYJFskUPiHa7hkeR8VUtAeFoSYbKedZNsDvCN";
const std::string kDcaVault = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";

class RecurringMovesTest : public ::testing::Test {
 protected:
  RecurringMovesTest() {
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.jupiterRecurring = jupiter.url();
    solana.fund(signer.solana, 50'000'000);
    solana.fundToken(signer.solana, kDcaUsdc, 200'000'000);
    solana.fundToken(kDcaVault, kDcaUsdc, 0);
    jupiter.on("GET", "/getRecurringOrders", [](const testing::RecordedRequest&) {
      Json order{{"orderKey", "K1"},        {"inputMint", kDcaUsdc},    {"outputMint", kDcaJup},
                 {"inDeposited", "100"},    {"inUsed", "50"},           {"inAmountPerCycle", "25"},
                 {"cycleFrequency", "86400"}, {"outReceived", "3.5"},   {"trades", Json::array({1, 2})}};
      Json other = order;
      other["orderKey"] = "K2";
      other["outputMint"] = "So11111111111111111111111111111111111111112";
      return testing::FakeResponse::json(Json{{"totalPages", 1}, {"time", {order, other}}}.dump());
    });
    // A cancel's transaction only sets its fee; a create's pays the vault from the wallet's USDC.
    jupiter.on("POST", "/cancelOrder", [this](const testing::RecordedRequest&) { return answer({}); });
    jupiter.on("POST", "/createOrder", [this](const testing::RecordedRequest&) {
      return answer(SPL::transferInstructions(
          {signer.solana, kDcaVault, kDcaUsdc, std::string(SolanaPrograms::kToken), 100'000'000, 6, false}));
    });
  }
  testing::FakeResponse answer(const std::vector<SolanaInstruction>& instructions) {
    auto built = SolanaTransaction::build(instructions, signer.solana, rpc.latestBlockhash().blockhash, 1000);
    return testing::FakeResponse::json(Json{{"requestId", "req"}, {"transaction", toBase64(built.transaction)}}.dump());
  }
  ExecutionResult run(const std::string& line) {
    auto command = WalletCommand::parse(line);
    EXPECT_TRUE(command) << line;
    return *moves.run(PendingAction{*command});
  }

  testing::FixedClock clock;
  testing::TempDir dir;
  testing::FakeSolanaLedger solana;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, solana.node.url());
  testing::FakeServer jupiter;
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  RecurringMoves moves{services, signer, journal,
                       [this] { return WalletAddresses{signer.solana, signer.evm, signer.near}; }, nullptr};
};

TEST_F(RecurringMovesTest, OrdersAreListedAndACancelByTickerLands) {
  ExecutionResult shown = run("show Jupiter DCA");
  EXPECT_EQ(shown.outcome, DcaOutcome::done);
  EXPECT_EQ(shown.reply, "2 Jupiter DCA orders active.");
  ASSERT_EQ(shown.lines.size(), 2u);
  EXPECT_EQ(shown.lines[0], "JUP: 25 USDC every 1 day, 50 of 100 spent in 2 fills, 3.5 received.");

  ExecutionResult cancelled = run("cancel Jupiter DCA JUP");
  ASSERT_EQ(cancelled.outcome, DcaOutcome::done) << cancelled.reply;
  EXPECT_EQ(cancelled.reply, "Cancelled 1 Jupiter DCA order; what was left in them goes back to your wallet.");
  EXPECT_EQ(signer.signatures, 1);
  std::vector<Json> bodies;
  for (const auto& r : jupiter.requests()) {
    if (r.path == "/cancelOrder") bodies.push_back(*parseJson(r.body));
  }
  EXPECT_EQ(bodies, (std::vector<Json>{Json{{"order", "K1"}, {"user", signer.solana}, {"recurringType", "time"}}}));
}

TEST_F(RecurringMovesTest, ACreateThatPaysSomeoneElsesAccountSignsNothing) {
  ExecutionResult r = run("Jupiter DCA 100 USDC into JUP in 4 orders every day");
  EXPECT_EQ(r.outcome, DcaOutcome::failed);
  EXPECT_TRUE(r.reply.starts_with("Tokens go to someone else's account")) << r.reply;
  EXPECT_TRUE(r.reply.ends_with("Nothing was signed.")) << r.reply;
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(journal.entries().empty());
  Json body;
  for (const auto& q : jupiter.requests()) {
    if (q.path == "/createOrder") body = *parseJson(q.body);
  }
  EXPECT_EQ(body["params"]["time"]["inAmount"], 100'000'000);
  EXPECT_EQ(body["params"]["time"]["numberOfOrders"], 4);
  EXPECT_EQ(body["params"]["time"]["interval"], 86400);
}

}  // namespace
}  // namespace orwenna
