// Sizing and the placement checks, on hand-computed trades.
#include <gtest/gtest.h>

#include "trading/risk_calc.h"
#include "support/core_fixtures.h"

namespace orwenna {
namespace {

using testing::D;
using testing::market;

TradeIntent trade(Side side, const char* risk, const char* stop) {
  TradeIntent t;
  t.asset = "BTC";
  t.side = side;
  if (risk) t.riskUSD = D(risk);
  if (stop) t.stopPct = D(stop);
  return t;
}

TEST(RiskCalcSize, LongAndShortMirrorEachOther) {
  Market m = market("BTC", "100", 2, 50);
  Sizing l = RiskCalc::size(D("10"), D("2"), D("4"), D("5"), Side::long_, m, std::nullopt);
  EXPECT_EQ(l.entry, D("100"));
  EXPECT_EQ(l.stopPrice, D("98"));
  EXPECT_EQ(l.size, D("4.78"));  // 10 / 2.0891 = 4.7867… rounded down
  EXPECT_EQ(l.notional, D("478"));
  EXPECT_EQ(l.margin, D("95.6"));
  EXPECT_EQ(l.feesUSD, D("0.425898"));
  EXPECT_EQ(l.lossAtStopUSD, D("9.985898"));
  EXPECT_EQ(l.takePrice, D("104"));
  EXPECT_EQ(l.profitAtTakeUSD, D("18.681196"));  // 19.12 − 4.78 × 204 × 0.00045
  EXPECT_EQ(l.liquidationPrice.rounded(6), D("80.808081"));  // 100 × (1 − 0.19 / 0.99)

  Sizing s = RiskCalc::size(D("10"), D("2"), D("4"), D("5"), Side::short_, m, std::nullopt);
  EXPECT_EQ(s.stopPrice, D("102"));
  EXPECT_EQ(s.size, D("4.78"));  // 10 / 2.0909 = 4.7826…
  EXPECT_EQ(s.feesUSD, D("0.434502"));
  EXPECT_EQ(s.lossAtStopUSD, D("9.994502"));
  EXPECT_EQ(s.takePrice, D("96"));
  EXPECT_EQ(s.profitAtTakeUSD, D("18.698404"));
  EXPECT_EQ(s.liquidationPrice.rounded(6), D("118.811881"));  // 100 × (1 + 0.19 / 1.01)

  Sizing noTake = RiskCalc::size(D("10"), D("2"), std::nullopt, D("5"), Side::long_, m, std::nullopt);
  EXPECT_FALSE(noTake.takePrice);
  EXPECT_FALSE(noTake.profitAtTakeUSD);
}

TEST(RiskCalcSize, RoundsTheSizeDownToTheStepOnly) {
  struct Case {
    int szDecimals;
    const char* risk;
    const char* size;
  };
  for (const Case& c : {Case{0, "10", "4"}, Case{1, "10", "4.7"}, Case{2, "10", "4.78"}, Case{4, "10", "4.7867"},
                        Case{2, "0.02", "0"}}) {
    SCOPED_TRACE(c.szDecimals);
    Market m = market("BTC", "100", c.szDecimals, 50);
    Sizing s = RiskCalc::size(D(c.risk), D("2"), std::nullopt, D("1"), Side::long_, m, std::nullopt);
    EXPECT_EQ(s.size, D(c.size));
  }
  // A limit entry replaces the mark price.
  Sizing lim = RiskCalc::size(D("10"), D("2"), std::nullopt, D("1"), Side::long_, market("BTC", "100", 2, 50), D("99"));
  EXPECT_EQ(lim.entry, D("99"));
  EXPECT_EQ(lim.stopPrice, D("97.02"));
  EXPECT_EQ(lim.size, D("4.83"));
}

TEST(RiskCalcEvaluate, MissingInputsAndAbsentMarket) {
  Market m = market("BTC", "100", 2, 50);
  Evaluation both = RiskCalc::evaluate(trade(Side::long_, nullptr, nullptr), &m);
  EXPECT_EQ(both.missing, (std::vector<std::string>{"risk in $", "stop in %"}));
  EXPECT_FALSE(both.problem);
  EXPECT_FALSE(both.sizing);

  Evaluation stopOnly = RiskCalc::evaluate(trade(Side::long_, "10", nullptr), &m);
  EXPECT_EQ(stopOnly.missing, std::vector<std::string>{"stop in %"});

  Evaluation noMarket = RiskCalc::evaluate(trade(Side::long_, "10", "2"), nullptr);
  EXPECT_TRUE(noMarket.missing.empty());
  EXPECT_FALSE(noMarket.problem || noMarket.sizing || noMarket.canPlace());

  Evaluation good = RiskCalc::evaluate(trade(Side::long_, "10", "2"), &m);
  EXPECT_TRUE(good.canPlace());
  EXPECT_EQ(good.sizing->lossAtStopUSD, D("9.985898"));
}

struct CheckCase {
  const char* name;
  Side side;
  const char* risk;
  const char* stop;
  const char* take;
  const char* leverage;
  const char* entry;
  // market
  const char* markPx;
  int szDecimals;
  int maxLeverage;
  // expectations
  const char* problem;  // nullptr: placeable
  bool sized;
};

TEST(RiskCalcEvaluate, ChecksInOrder) {
  const char* limitAbove = "Limit 100 is above the market 100 and would fill at once. For a market entry, type “at market”.";
  const char* limitBelow = "Limit 100 is below the market 100 and would fill at once. For a market entry, type “at market”.";
  std::vector<CheckCase> cases{
      {"risk zero", Side::long_, "0", "2", nullptr, nullptr, nullptr, "100", 2, 50, "Risk must be above zero.", false},
      {"risk before stop", Side::long_, "-1", "0", nullptr, nullptr, nullptr, "100", 2, 50, "Risk must be above zero.", false},
      {"stop zero", Side::long_, "10", "0", nullptr, nullptr, nullptr, "100", 2, 50, "Stop must be above 0% and below 100%.", false},
      {"stop 100", Side::short_, "10", "100", nullptr, nullptr, nullptr, "100", 2, 50, "Stop must be above 0% and below 100%.", false},
      {"stop 99 at 1x", Side::long_, "10", "99", nullptr, nullptr, nullptr, "100", 2, 50, nullptr, true},
      {"take zero", Side::long_, "10", "2", "0", nullptr, nullptr, "100", 2, 50, "Take-profit is out of range.", false},
      {"short take 100", Side::short_, "10", "2", "100", nullptr, nullptr, "100", 2, 50, "Take-profit is out of range.", false},
      {"short take 99.99", Side::short_, "10", "2", "99.99", nullptr, nullptr, "100", 2, 50, nullptr, true},
      {"long take 150", Side::long_, "10", "2", "150", nullptr, nullptr, "100", 2, 50, nullptr, true},
      {"leverage half", Side::long_, "10", "2", nullptr, "0.5", nullptr, "100", 2, 50, "Leverage for BTC: 1× to 50×.", false},
      {"leverage over max", Side::long_, "10", "2", nullptr, "51", nullptr, "100", 2, 50, "Leverage for BTC: 1× to 50×.", false},
      {"leverage at max", Side::long_, "10", "1", nullptr, "40", nullptr, "100", 2, 40, nullptr, true},
      {"leverage 2.5", Side::long_, "10", "2", nullptr, "2.5", nullptr, "100", 2, 50,
       "Leverage on Hyperliquid is a whole number: 2× or 3×.", false},
      {"long limit at mark", Side::long_, "10", "2", nullptr, nullptr, "100", "100", 2, 50, limitAbove, false},
      {"short limit at mark", Side::short_, "10", "2", nullptr, nullptr, "100", "100", 2, 50, limitBelow, false},
      {"long limit below", Side::long_, "10", "2", nullptr, nullptr, "99.5", "100", 2, 50, nullptr, true},
      {"short limit above", Side::short_, "10", "2", nullptr, nullptr, "100.5", "100", 2, 50, nullptr, true},
      {"limit zero", Side::long_, "10", "2", nullptr, nullptr, "0", "100", 2, 50, "Limit price must be above zero.", false},
      {"size step", Side::long_, "1", "2", nullptr, nullptr, nullptr, "100", 0, 50,
       "Risk is too small for the minimum BTC size step.", true},
      // 0.3 / 2.0891 → 0.1 × 100 = exactly $10.
      {"notional exactly 10", Side::long_, "0.3", "2", nullptr, nullptr, nullptr, "100", 1, 50, nullptr, true},
      {"notional 9.99", Side::long_, "0.3", "2", nullptr, nullptr, nullptr, "99.9", 1, 50,
       "Notional $9.99 is below the Hyperliquid $10 minimum order. Raise the risk or tighten the stop.", true},
      {"long liquidation first", Side::long_, "10", "2", nullptr, "50", nullptr, "100", 2, 50,
       "Liquidation (98.989899) comes before the stop. Lower the leverage.", true},
      {"short liquidation first", Side::short_, "10", "2", nullptr, "50", nullptr, "100", 2, 50,
       "Liquidation (100.990099) comes before the stop. Lower the leverage.", true},
      {"long 25x clears stop", Side::long_, "10", "2", nullptr, "25", nullptr, "100", 2, 50, nullptr, true},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    TradeIntent t = trade(c.side, c.risk, c.stop);
    if (c.take) t.takePct = D(c.take);
    if (c.leverage) t.leverage = D(c.leverage);
    if (c.entry) t.entryPx = D(c.entry);
    Market m = market("BTC", c.markPx, c.szDecimals, c.maxLeverage);
    Evaluation ev = RiskCalc::evaluate(t, &m);
    EXPECT_TRUE(ev.missing.empty());
    if (c.problem) {
      EXPECT_EQ(ev.problem, std::string(c.problem));
    } else {
      EXPECT_FALSE(ev.problem) << *ev.problem;
    }
    EXPECT_EQ(ev.sizing.has_value(), c.sized);
    EXPECT_EQ(ev.canPlace(), c.problem == nullptr);
  }
}

}  // namespace
}  // namespace orwenna
