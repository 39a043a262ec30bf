// The app's MoneyExecutor against the fake exchange: a confirmed trade card
// opens a protected position, a second Confirm of the same plan opens none,
// a position order reaches the exchange, and steps without a runner are
// said to be unavailable, never done.
#include "app/app_executor.h"

#include <gtest/gtest.h>

#include "app/chat_replies.h"
#include "execution/hl_nonces.h"
#include "fakes/fake_hyperliquid.h"
#include "fakes/test_trade_signer.h"
#include "support/test_support.h"

namespace orwenna::app_executor_test {
namespace {

using testing::FakeHyperliquid;
using Outcome = ExecutionResult::Outcome;

Decimal dec(const char* text) { return Decimal::parse(text); }

struct Runner final : WalletMoveRunner {
  std::optional<ExecutionResult> answer;
  int calls = 0;
  std::optional<ExecutionResult> run(const PendingAction&) override {
    ++calls;
    return answer;
  }
};

struct App {
  testing::FixedClock clock;
  FakeHyperliquid exchange{clock};
  testing::TestTradeSigner signer;
  testing::TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  HLNonces nonces{clock};
  HLOrders orders{{CurlHttpClient::shared(), clock, signer, journal, nonces, exchange.endpoints(), true, signer.address()}};
  Executor executor{{{"", signer.address()}, orders, clock, CurlHttpClient::shared(), nullptr, nullptr, {}}};
  Runner runner;
  // The fake exchange serves no market metadata: its two markets as the table has them.
  AppExecutor app{&executor, [](const std::string& name) -> std::optional<Market> {
                    if (name != "ETH" && name != "BTC") return std::nullopt;
                    Market m;
                    m.name = name;
                    m.markPx = name == "ETH" ? dec("2000") : dec("60000");
                    m.szDecimals = name == "ETH" ? 4 : 5;
                    m.maxLeverage = 25;
                    m.index = name == "ETH" ? 1 : 0;
                    return m;
                  }, &runner};

  App() {
    exchange.addMarket("BTC", 5, dec("60000"));
    exchange.addMarket("ETH", 4, dec("2000"));
    exchange.addAccount(signer.address(), dec("1000"));
  }

  static PendingAction ethLong() {
    TradeIntent intent;
    intent.asset = "ETH";
    intent.riskUSD = dec("20");
    intent.stopPct = dec("2");
    intent.takePct = dec("4");
    intent.leverage = dec("5");
    return PendingAction{PendingAction::Trade{intent, dec("2000")}};
  }
};

TEST(AppExecutor, ConfirmedTradeOpensOnePositionAndPositionOrdersReachTheExchange) {
  App a;
  ExecutionResult r = a.app.execute({App::ethLong()});
  ASSERT_EQ(r.outcome, Outcome::done) << r.reply;
  EXPECT_EQ(r.lines.front(), "Leverage 5×, isolated margin.");
  ASSERT_EQ(r.bubbles.size(), 1u);
  EXPECT_EQ(r.bubbles[0].status, "done");
  ASSERT_EQ(a.exchange.positions(a.signer.address()).size(), 1u);

  // The same card confirmed again: refused before any signature.
  const int signedBefore = a.signer.l1Signatures();
  ExecutionResult again = a.app.execute({App::ethLong()});
  EXPECT_EQ(again.outcome, Outcome::failed);
  EXPECT_TRUE(again.reply.starts_with("There's already a position or order on ETH.")) << again.reply;
  EXPECT_EQ(a.signer.l1Signatures(), signedBefore);

  a.exchange.setMid("ETH", dec("2100"));
  ExecutionResult be = a.app.execute(
      {PendingAction{PendingAction::Position{PositionCommand{PositionCommand::stopToBreakeven{}}, "ETH"}}});
  ASSERT_EQ(be.outcome, Outcome::done) << be.reply;
  EXPECT_TRUE(be.reply.starts_with("Stop moved to ")) << be.reply;
  bool stopAboveEntry = false;
  for (const auto& o : a.exchange.orders(a.signer.address()))
    stopAboveEntry = stopAboveEntry || (o.tpsl == "sl" && o.triggerPx > dec("2000"));
  EXPECT_TRUE(stopAboveEntry);
}

TEST(AppExecutor, TrailIsHandedToTheGuardianOnlyForAnOpenPosition) {
  App a;
  std::vector<std::pair<std::string, Decimal>> trails;
  a.app.setTrail([&](const std::string& coin, const HyperliquidAccount::Position& p, const Decimal& pct) {
    EXPECT_EQ(p.entry, dec("2000"));
    trails.emplace_back(coin, pct);
  });
  auto trail = [](const char* pct) {
    return PendingAction{PendingAction::Position{PositionCommand{PositionCommand::trail{dec(pct)}}, "ETH"}};
  };
  ExecutionResult none = a.app.execute({trail("2")});
  EXPECT_EQ(none.outcome, Outcome::failed);
  EXPECT_EQ(none.reply, "No open ETH position.");
  EXPECT_TRUE(trails.empty());

  ASSERT_EQ(a.app.execute({App::ethLong()}).outcome, Outcome::done);
  ExecutionResult bad = a.app.execute({trail("100")});
  EXPECT_EQ(bad.outcome, Outcome::failed);
  EXPECT_TRUE(trails.empty());

  const int signedBefore = a.signer.l1Signatures();
  ExecutionResult ok = a.app.execute({trail("2.5")});
  ASSERT_EQ(ok.outcome, Outcome::done) << ok.reply;
  EXPECT_TRUE(ok.reply.ends_with(" behind the best price and only ever tightens it — while orwenna is open or in "
                                 "the menu bar."))
      << ok.reply;
  EXPECT_EQ(ok.lines.size(), 1u) << "the position's stop rests on the exchange";
  ASSERT_EQ(trails.size(), 1u);
  EXPECT_EQ(trails[0].first, "ETH");
  EXPECT_EQ(trails[0].second, dec("2.5"));
  EXPECT_EQ(a.signer.l1Signatures(), signedBefore) << "setting a trail signs nothing itself";
}

TEST(AppExecutor, StepsWithoutARunnerAreNotAvailableAndStopTheCard) {
  App a;
  auto send = WalletCommand::parse("send 1 SOL to alice");
  ASSERT_TRUE(send);
  PendingAction step{*send};
  ExecutionResult r = a.app.execute({step, App::ethLong()});
  EXPECT_EQ(a.runner.calls, 1);
  EXPECT_EQ(r.outcome, Outcome::failed);
  EXPECT_EQ(r.reply, Replies::notAvailable(step.line(), Language::english));
  EXPECT_TRUE(a.exchange.positions(a.signer.address()).empty()) << "the card stops at its first failure";

  a.runner.answer = ExecutionResult{Outcome::done, "Sent 1 SOL to alice.", {"Sent 1 SOL to alice."}, {}};
  ExecutionResult ran = a.app.execute({step});
  EXPECT_EQ(ran.outcome, Outcome::done);
  EXPECT_EQ(ran.reply, "Sent 1 SOL to alice.");

  AppExecutor bare(nullptr, {}, nullptr);
  ExecutionResult none = bare.execute({App::ethLong()});
  EXPECT_EQ(none.outcome, Outcome::failed);
  EXPECT_TRUE(none.reply.ends_with("Nothing was signed.")) << none.reply;
}

}  // namespace
}  // namespace orwenna::app_executor_test
