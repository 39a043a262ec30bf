// Stories from fills: a flip counted once, a window opening inside a
// position; a period without closed trades; the portfolio history file.
#include "trading/pnl.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace orwenna {
namespace {

TradeHistory::Fill fillOf(const char* coin, const char* side, const char* sz, const char* start, const char* pnl,
                          const char* fee, std::int64_t time) {
  return {coin, Decimal(100), Decimal::parse(sz), side, time, Decimal::parse(start), "", Decimal::parse(pnl),
          Decimal::parse(fee), std::nullopt, std::nullopt};
}

TEST(TradeStories, AFlipEndsOneStoryAndStartsTheOtherWithoutCountingTwice) {
  PnL::Inputs in;
  in.fills = {fillOf("ETH", "B", "1", "0", "0", "1", 1), fillOf("ETH", "A", "2", "1", "10", "2", 2),
              fillOf("ETH", "B", "1", "-1", "-4", "1", 3)};
  auto s = TradeHistory::stories(in.fills);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_TRUE(s[0].long_ && s[0].closed);
  EXPECT_EQ(s[0].result(), Decimal(7));
  EXPECT_EQ(s[0].fills.back().sz, Decimal(1));
  EXPECT_FALSE(s[1].long_);
  EXPECT_TRUE(s[1].closed);
  EXPECT_EQ(s[1].result(), Decimal(-5));  // the flip's pnl and fee stay with the long

  auto r = PnL::report(PnL::Period::all, std::nullopt, in, 10);
  EXPECT_EQ(r.realized, Decimal(2));
  EXPECT_EQ(r.realized, s[0].result() + s[1].result());
}

TEST(TradeStories, AWindowInsideALongStartsFromItsPosition) {
  auto s = TradeHistory::stories({fillOf("BTC", "A", "0.5", "1", "5", "0", 1), fillOf("BTC", "A", "0.5", "0.5", "5", "0", 2)});
  ASSERT_EQ(s.size(), 1u);
  EXPECT_TRUE(s[0].long_ && s[0].closed);
  ASSERT_EQ(s[0].fills.size(), 3u);
  EXPECT_EQ(s[0].fills[0].dir, "Open Long");
}

TEST(PnLText, NoClosedTradesNoBestOrWorstAndNoPortfolioLineWithoutValues) {
  PnL::Inputs in;
  in.fills = {fillOf("ETH", "B", "1", "0", "0", "0.5", 5)};
  auto lines = PnL::text(PnL::report(PnL::Period::all, std::string("ETH"), in, 10));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "P/L all time on ETH: trading −$0.50 (realized after fees −$0.50, funding $0.00), 0 closed "
                      "trades, 0 in profit; open positions now $0.00.");
}

TEST(PortfolioHistoryFile, KeepsHourlyValuesAndFlowsAcrossReopens) {
  testing::TempDir dir;
  PortfolioHistory h(dir.path() / "portfolio-history.json");
  h.recordValue({0, Decimal(100)});
  h.recordValue({1000, Decimal(101)});  // within the hour: not kept
  h.recordValue({3'600'000, Decimal(102)});
  h.addFlow({5, Decimal(-20), "sent", "solana"});
  PortfolioHistory again(dir.path() / "portfolio-history.json");
  ASSERT_EQ(again.values().size(), 2u);
  EXPECT_EQ(again.values()[1].usd, Decimal(102));
  ASSERT_EQ(again.flows().size(), 1u);
  EXPECT_EQ(again.flows()[0].usd, Decimal(-20));
}

}  // namespace
}  // namespace orwenna
