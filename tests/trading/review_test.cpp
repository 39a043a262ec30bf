// The rules → sizing → advice chain as one review: each step sees what the
// one before it made, and advice exists only for a sized trade.
#include <gtest/gtest.h>

#include <algorithm>

#include "trading/review.h"
#include "support/core_fixtures.h"

namespace orwenna {
namespace {

using testing::D;

TradeIntent byTheBook() {
  TradeIntent t;
  t.asset = "BTC";
  t.side = Side::long_;
  t.autoRules = true;
  return t;
}

Market btc() {
  Market m = testing::market("BTC", "100", 2, 50);
  m.atrPct = D("2");
  return m;
}

bool has(const std::vector<Advice>& all, Advice::Level level, std::string_view start) {
  return std::any_of(all.begin(), all.end(),
                     [&](const Advice& a) { return a.level == level && a.text.starts_with(start); });
}

TEST(Review, SizesAndAdvisesTheTradeTheRulesCompleted) {
  Market m = btc();
  m.prevDayPx = D("94.3");  // +6% in 24h
  TradeIntent asked = byTheBook();
  asked.pullbackPct = D("2");
  const Review r = review(asked, &m, D("1000"), RiskPolicy{}, Decimal(0));
  ASSERT_TRUE(r.evaluation.sizing);
  EXPECT_TRUE(r.evaluation.canPlace());
  EXPECT_EQ(r.rules.intent.stopPct, D("3"));  // 1.5 × ATR 2%
  EXPECT_EQ(r.evaluation.sizing->entry, D("98"));  // sized at the rules' limit entry
  EXPECT_EQ(r.evaluation.sizing->stopPrice, D("95.06"));
  EXPECT_TRUE(r.evaluation.sizing->takePrice);
  // The advice reads the completed trade: its limit entry answers the sharp rise.
  EXPECT_TRUE(has(r.advice, Advice::Level::ok, "BTC +6% in 24h, so the entry is a limit below the market."));
  EXPECT_FALSE(has(r.advice, Advice::Level::warn, "Not the best entry"));
  EXPECT_FALSE(has(r.advice, Advice::Level::warn, "No take-profit"));
  EXPECT_FALSE(r.breaksARule());
  EXPECT_EQ(r.rules.notes.size(), 6u);
}

TEST(Review, OpenRiskOverTheLimitBlocksButKeepsTheSizing) {
  const Market m = btc();
  const Review blocked = review(byTheBook(), &m, D("1000"), RiskPolicy{}, D("55"));
  ASSERT_TRUE(blocked.evaluation.sizing);
  EXPECT_TRUE(blocked.evaluation.canPlace());
  ASSERT_FALSE(blocked.advice.empty());
  EXPECT_EQ(blocked.advice.front().level, Advice::Level::block);
  EXPECT_TRUE(blocked.advice.front().text.starts_with("With open positions"));
  EXPECT_TRUE(blocked.breaksARule());

  const Review unstopped = review(byTheBook(), &m, D("1000"), RiskPolicy{}, std::nullopt);
  EXPECT_TRUE(has(unstopped.advice, Advice::Level::warn, "An open position has no stop"));
  EXPECT_FALSE(unstopped.breaksARule());
}

TEST(Review, NoAdviceUntilTheTradeIsSized) {
  const Market m = btc();
  // Without a market the rules can set the risk but not a stop.
  const Review noMarket = review(byTheBook(), nullptr, D("1000"), RiskPolicy{}, Decimal(0));
  EXPECT_EQ(noMarket.evaluation.missing, std::vector<std::string>{"stop in %"});
  EXPECT_FALSE(noMarket.evaluation.sizing);
  EXPECT_TRUE(noMarket.advice.empty());
  EXPECT_FALSE(noMarket.breaksARule());

  // Without the rules nothing fills the risk or the stop.
  TradeIntent asked = byTheBook();
  asked.autoRules = false;
  const Review bare = review(asked, &m, D("1000"), RiskPolicy{}, Decimal(0));
  EXPECT_EQ(bare.evaluation.missing, (std::vector<std::string>{"risk in $", "stop in %"}));
  EXPECT_TRUE(bare.advice.empty());

  // A sized trade that fails a check is still advised: `orwenna size` shows both.
  asked.riskUSD = D("0.05");
  asked.stopPct = D("2");
  const Review tooSmall = review(asked, &m, D("1000"), RiskPolicy{}, Decimal(0));
  ASSERT_TRUE(tooSmall.evaluation.sizing);
  ASSERT_TRUE(tooSmall.evaluation.problem);
  EXPECT_FALSE(tooSmall.advice.empty());
}

}  // namespace
}  // namespace orwenna
