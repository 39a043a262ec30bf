// The automatic rules and the graded advice, where their numbers and
// boundaries can go wrong.
#include <gtest/gtest.h>

#include <algorithm>

#include "trading/advice.h"
#include "trading/risk_rules.h"
#include "support/core_fixtures.h"

namespace orwenna {
namespace {

using testing::D;
using testing::market;

TradeIntent intent(Side side) {
  TradeIntent t;
  t.asset = "BTC";
  t.side = side;
  return t;
}

TEST(RiskRules, ByTheBookFillsEverythingWithNotesInOrder) {
  Market m = market("BTC", "100", 2, 3);
  m.atrPct = D("1.2345");
  TradeIntent t = intent(Side::long_);
  t.autoRules = true;
  t.pullbackPct = D("2");
  RulesOutcome r = RiskRules::apply(t, &m, D("1234.56"), RiskPolicy{});

  EXPECT_EQ(r.intent.entryPx, D("98"));
  EXPECT_EQ(r.intent.stopPct, D("1.9"));  // 1.5 × 1.2345 = 1.85175, rounded up
  EXPECT_EQ(r.intent.takePct, D("3.8"));
  EXPECT_EQ(r.intent.leverage, D("3"));  // the market's cap is below the policy's
  EXPECT_EQ(r.intent.partialTake, true);
  EXPECT_EQ(r.intent.riskUSD, D("12.34"));  // 12.3456 rounded down
  EXPECT_EQ(r.notes, (std::vector<std::string>{
                         "Limit entry on a 2% pullback: 98 vs. 100 now.",
                         "Stop by volatility: 1.5 × 4h ATR (1.23%) ≈ 1.9%.",
                         "Take-profit 2R: 2 × stop = 3.8%.",
                         "Leverage 3×, the rules' cap; the stop sets the loss, leverage only shrinks the margin.",
                         "Exit in parts: half at 1R, then stop to breakeven, the rest runs to the take-profit.",
                         "Risk 1% of $1,234.56 capital = $12.34.",
                     }));
}

TEST(RiskRules, WithoutAutoRulesOnlyTheAskedChangesHappen) {
  Market m = market("BTC", "100", 2, 50);
  m.atrPct = D("2");
  TradeIntent t = intent(Side::short_);
  t.pullbackPct = D("1.5");
  RulesOutcome r = RiskRules::apply(t, &m, D("1000"), RiskPolicy{});
  EXPECT_EQ(r.intent.entryPx, D("101.5"));  // above the price for a short
  EXPECT_FALSE(r.intent.stopPct);
  EXPECT_FALSE(r.intent.takePct);
  EXPECT_FALSE(r.intent.partialTake);
  EXPECT_FALSE(r.intent.riskUSD);
  EXPECT_EQ(r.intent.leverage, D("5"));
  EXPECT_EQ(r.notes.size(), 2u);

  // A take in R is honoured without auto rules, rounded half away from zero.
  TradeIntent withR = intent(Side::long_);
  withR.stopPct = D("1.33");
  withR.takeR = D("1.5");
  withR.leverage = D("2");
  RulesOutcome rr = RiskRules::apply(withR, nullptr, std::nullopt, RiskPolicy{});
  EXPECT_EQ(rr.intent.takePct, D("2"));  // 1.995
  EXPECT_EQ(rr.notes, std::vector<std::string>{"Take-profit 1.5R: 1.5 × stop = 2%."});
}

TEST(RiskRules, MarginAmountBecomesRisk) {
  struct Case {
    const char* name;
    const char* equity;       // nullptr: unknown
    const char* leverage;     // nullptr: set by the rules
    const char* wantLeverage;
    const char* wantRisk;
    std::vector<std::string> notes;
  };
  const char* cap = "Leverage 5×, the rules' cap; the stop sets the loss, leverage only shrinks the margin.";
  std::vector<Case> cases{
      // f = 0.02 + 0.0009; 2% of 1000 allows 20 / 2.09 = 9× — above the cap, cap stays.
      {"cap holds", "1000", nullptr, "5", "10.45", {cap, "100 USDC in the trade at 5× with a 2% stop risks $10.45."}},
      // 2% of 500 allows 10 / 2.09 = 4.78 → 4×.
      {"risk limit lowers leverage", "500", nullptr, "4", "8.36",
       {cap, "Leverage 4× keeps 100 USDC in the trade within the 2% risk limit.",
        "100 USDC in the trade at 4× with a 2% stop risks $8.36."}},
      {"user leverage kept", "500", "10", "10", "20.9", {"100 USDC in the trade at 10× with a 2% stop risks $20.90."}},
      {"no equity", nullptr, nullptr, "5", "10.45", {cap, "100 USDC in the trade at 5× with a 2% stop risks $10.45."}},
  };
  Market m = market("BTC", "100", 2, 50);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TradeIntent t = intent(Side::long_);
    t.amountUSDC = D("100");
    t.stopPct = D("2");
    if (c.leverage) t.leverage = D(c.leverage);
    std::optional<Decimal> equity;
    if (c.equity) equity = D(c.equity);
    RulesOutcome r = RiskRules::apply(t, &m, equity, RiskPolicy{});
    EXPECT_EQ(r.intent.leverage, D(c.wantLeverage));
    EXPECT_EQ(r.intent.riskUSD, D(c.wantRisk));
    EXPECT_FALSE(r.intent.amountUSDC);
    EXPECT_EQ(r.notes, c.notes);
  }
}

TEST(RiskRules, RiskIsRaisedToReachTheMinimumOrderWithinTheLimit) {
  // BTC at 100000: the smallest order 0.0001 risks 0.0001 × 2089.1 = 0.20891 → $0.21.
  Market m = market("BTC", "100000", 5, 40);
  struct Case {
    const char* name;
    const char* equity;
    const char* amount;
    const char* wantRisk;
    bool raised;
  };
  for (const Case& c : {
           Case{"raised", "20", nullptr, "0.21", true},          // 1% = 0.20; limit 0.40
           Case{"over the limit", "10", nullptr, "0.1", false},  // limit 0.20 < 0.21
           Case{"large enough", "100", nullptr, "1", false},
           // 1 USDC at 5× cannot reach $10 whatever the risk.
           Case{"amount too small", "20", "1", "0.1", false},  // 1 × 5 × 0.0209
           Case{"amount reaches", "20", "2", "0.21", true},  // 2 × 5 = 10
       }) {
    SCOPED_TRACE(c.name);
    TradeIntent t = intent(Side::long_);
    t.autoRules = true;
    t.stopPct = D("2");
    t.takePct = D("4");
    if (c.amount) t.amountUSDC = D(c.amount);
    RulesOutcome r = RiskRules::apply(t, &m, D(c.equity), RiskPolicy{});
    ASSERT_TRUE(r.intent.riskUSD);
    EXPECT_EQ(r.intent.riskUSD, D(c.wantRisk));
    bool noted = std::any_of(r.notes.begin(), r.notes.end(), [](const std::string& n) {
      return n == "Risk raised to $0.21 so the order reaches Hyperliquid's $10 minimum.";
    });
    EXPECT_EQ(noted, c.raised);
    if (c.raised) {
      Evaluation ev = RiskCalc::evaluate(r.intent, &m);
      EXPECT_TRUE(ev.canPlace()) << ev.problem.value_or("");
      EXPECT_EQ(ev.sizing->notional, D("10"));
    }
  }
}

// Advice for the worked long (risk 10, stop 2%, entry 100, 5×) unless changed.
struct AdviceSetup {
  Side side = Side::long_;
  const char* take = nullptr;
  const char* leverage = "5";
  const char* entry = nullptr;
  const char* markPx = "100";
  std::optional<Decimal> equity = D("1000");
  std::optional<Decimal> openRisk = Decimal(0);
  std::optional<Decimal> prevDayPx;
  std::optional<Decimal> funding;
  std::optional<Decimal> atrPct;
  RiskPolicy policy;

  std::vector<Advice> run() const {
    Market m = market("BTC", markPx, 2, 50);
    m.prevDayPx = prevDayPx;
    m.funding = funding;
    m.atrPct = atrPct;
    TradeIntent t = intent(side);
    t.riskUSD = D("10");
    t.stopPct = D("2");
    if (take) t.takePct = D(take);
    if (leverage) t.leverage = D(leverage);
    if (entry) t.entryPx = D(entry);
    Evaluation ev = RiskCalc::evaluate(t, &m);
    EXPECT_TRUE(ev.sizing.has_value());
    return Advice::check(t, *ev.sizing, m, equity, policy, openRisk);
  }
};

std::optional<Advice> find(const std::vector<Advice>& all, std::string_view part) {
  for (const Advice& a : all) {
    if (a.text.find(part) != std::string::npos) return a;
  }
  return std::nullopt;
}

TEST(Advice, RiskPerTradeExactlyAtTheLimitIsOk) {
  AdviceSetup s;
  s.equity = D("499.2949");  // 9.985898 is exactly 2%
  EXPECT_EQ(find(s.run(), "of capital, within"), (Advice{Advice::Level::ok, "Risk 2% of capital, within 2%."}));

  s.equity = D("499.29");
  EXPECT_EQ(find(s.run(), "At the stop"),
            (Advice{Advice::Level::block,
                    "At the stop −$9.99: 2% of $499.29 capital. Rule: at most 2% per trade, i.e. up to $9.98. "
                    "Lower the risk or top up; the limit is in Settings."}));
}

TEST(Advice, OpenRiskAgainstTheLimit) {
  struct Case {
    std::optional<Decimal> openRisk;
    std::optional<Advice> first;
  };
  std::vector<Case> cases{
      {std::nullopt, Advice{Advice::Level::warn, "An open position has no stop: total risk is unlimited."}},
      {D("50.014102"), Advice{Advice::Level::ok, "All positions together: 6% of capital at the stops, limit 6%."}},
      {D("50.5"), Advice{Advice::Level::ok, "All positions together: 6% of capital at the stops, limit 6%."}},
      {D("50.6"), Advice{Advice::Level::block,
                          "With open positions, −$60.59 at the stops: 6.1% of capital. Rule: all positions "
                          "together at most 6%."}},
      {Decimal(0), Advice{Advice::Level::ok, "Risk 1% of capital, within 2%."}},  // nothing open: no item
  };
  for (const Case& c : cases) {
    AdviceSetup s;
    s.openRisk = c.openRisk;
    auto all = s.run();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), c.first);
  }
}

TEST(Advice, NoEquityStartsWithCapitalUnknownAndSkipsMargin) {
  AdviceSetup s;
  s.equity = std::nullopt;
  s.leverage = "1";  // margin 478: more than any small capital
  auto all = s.run();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front(), (Advice{Advice::Level::warn, "Capital unknown: no balance, so risk in % isn't checked."}));
  EXPECT_FALSE(find(all, "Margin takes"));
  EXPECT_FALSE(find(all, "positions"));

  s.equity = D("0");
  EXPECT_EQ(s.run().front().text, "Capital unknown: no balance, so risk in % isn't checked.");

  s.equity = D("900");  // 478 of 900
  EXPECT_EQ(find(s.run(), "Margin takes"),
            (Advice{Advice::Level::warn, "Margin takes 53% of capital: little is left for other trades."}));
  s.equity = D("956");  // exactly half: not more
  EXPECT_FALSE(find(s.run(), "Margin takes"));
}

TEST(Advice, RewardRiskAndStopNoiseAndLeverage) {
  struct Case {
    const char* take;
    const char* leverage;
    std::optional<Decimal> atr;
    std::vector<Advice> expected;  // each must be in the list
    std::vector<std::string> absent;
  };
  std::vector<Case> cases{
      {"4", "5", std::nullopt, {{Advice::Level::ok, "Reward/risk 1:1.9."}}, {"Leverage", "Liquidation"}},
      {"3.2", "5", std::nullopt, {{Advice::Level::ok, "Reward/risk 1:1.5."}}, {}},  // 1.488 shows as 1.5
      {"2", "5", std::nullopt,
       {{Advice::Level::warn, "Reward/risk 1:0.9: the take-profit is close. The usual minimum is 1:2, “take 2R”."}}, {}},
      {nullptr, "5", std::nullopt, {{Advice::Level::warn, "No take-profit. By the 1:2 rule: “take 2R”."}}, {}},
      {"4", "6", D("2.345"),
       {{Advice::Level::warn,
         "Stop 2% is below the average 4-hour move of BTC (ATR 2.35%): normal noise can hit it. “Stop by the book” "
         "sets 1.5 ATR."},
        {Advice::Level::warn,
         "Leverage 6× is above 5×: risk comes from the stop, but liquidation is closer and mistakes cost more."}},
       {}},
      {"4", "5", D("2"), {}, {"below the average"}},
      // 25×: liquidation 96.97 is 3.03 from entry, less than two 2-point stops.
      {"4", "25", std::nullopt,
       {{Advice::Level::warn,
         "Liquidation (96.969697) is less than two stops from entry: a slipping stop could reach it. Lower the "
         "leverage."}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.take ? c.take : "no take");
    AdviceSetup s;
    s.take = c.take;
    s.leverage = c.leverage;
    s.atrPct = c.atr;
    auto all = s.run();
    for (const Advice& want : c.expected) {
      EXPECT_NE(std::find(all.begin(), all.end(), want), all.end()) << want.text;
    }
    for (const auto& text : c.absent) EXPECT_FALSE(find(all, text)) << text;
  }
}

TEST(Advice, TwentyFourHourMove) {
  struct Case {
    Side side;
    const char* markPx;
    const char* entry;
    Advice expected;
  };
  const char* sharpRise = "Not the best entry: BTC +5% in 24h. A sharp rise is often followed by a pullback: “pullback 2%” sets a limit below.";
  const char* sharpDrop = "Not the best entry: BTC -5% in 24h. A sharp drop is often followed by a bounce: “pullback 2%” sets a limit above.";
  std::vector<Case> cases{
      {Side::long_, "105", nullptr, {Advice::Level::warn, sharpRise}},
      {Side::long_, "104.96", nullptr, {Advice::Level::warn, sharpRise}},  // 4.96 shows and counts as 5.0
      {Side::long_, "104.9", nullptr, {Advice::Level::ok, "24h: +4.9%, no sharp move before entry."}},
      {Side::long_, "105", "104", {Advice::Level::ok, "BTC +5% in 24h, so the entry is a limit below the market."}},
      {Side::short_, "95", nullptr, {Advice::Level::warn, sharpDrop}},
      {Side::short_, "95", "96", {Advice::Level::ok, "BTC -5% in 24h, so the entry is a limit above the market."}},
      {Side::short_, "95.1", nullptr, {Advice::Level::ok, "24h: -4.9%, no sharp move before entry."}},
      {Side::long_, "95", nullptr,
       {Advice::Level::warn, "Trade against the 24h move (-5%): catching a reversal is riskier than following the trend."}},
      {Side::short_, "105", nullptr,
       {Advice::Level::warn, "Trade against the 24h move (+5%): catching a reversal is riskier than following the trend."}},
      {Side::long_, "100", nullptr, {Advice::Level::ok, "24h: 0%, no sharp move before entry."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.markPx);
    AdviceSetup s;
    s.side = c.side;
    s.markPx = c.markPx;
    s.entry = c.entry;
    s.prevDayPx = D("100");
    EXPECT_EQ(find(s.run(), "24h"), c.expected);
  }
  AdviceSetup none;
  none.prevDayPx = D("0");
  EXPECT_FALSE(find(none.run(), "24h"));
}

TEST(Advice, FundingFromThirtyPercentAYear) {
  struct Case {
    Side side;
    const char* funding;
    const char* expected;  // nullptr: no funding item
  };
  for (const Case& c : {
           // 0.0000342466 × 24 × 365 × 100 = 30.00002; 478 × it × 24 = 0.39288 → $0.40
           Case{Side::long_, "0.0000342466", "Funding: longs pay ≈30% a year, ≈ $0.40 a day for this position."},
           Case{Side::short_, "-0.0000342466", "Funding: shorts pay ≈30% a year, ≈ $0.40 a day for this position."},
           Case{Side::short_, "0.0000342466", nullptr},   // shorts are paid
           Case{Side::long_, "0.000033105", nullptr},     // 29% a year
           Case{Side::long_, "0.0001", "Funding: longs pay ≈88% a year, ≈ $1.15 a day for this position."},
       }) {
    SCOPED_TRACE(c.funding);
    AdviceSetup s;
    s.side = c.side;
    s.funding = D(c.funding);
    auto item = find(s.run(), "Funding:");
    if (c.expected) {
      EXPECT_EQ(item, (Advice{Advice::Level::warn, c.expected}));
    } else {
      EXPECT_FALSE(item);
    }
  }
}

TEST(TakeStyle, TextsAndProjectedProfit) {
  EXPECT_EQ(projectedProfitText(TakeStyle::classic, D("10")), "$20.00");
  EXPECT_EQ(projectedProfitText(TakeStyle::partial, D("10")), "$15.00");
  EXPECT_EQ(projectedProfitText(TakeStyle::trend, D("10")), "no cap");
  EXPECT_EQ(summary(TakeStyle::partial), "Half at 1R, stop to breakeven, the rest at 2R.");
  EXPECT_EQ(takeStyleFromRaw("trend"), TakeStyle::trend);
  EXPECT_FALSE(takeStyleFromRaw("Trend"));
}

}  // namespace
}  // namespace orwenna
