#include "core/intent_parser.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

using std::nullopt;
using O = std::optional<Decimal>;

Decimal d(const char* text) { return Decimal::parse(text); }

const MarketNames kMarkets = {"BTC", "ETH", "SOL", "NEAR", "LINK", "kPEPE", "kBONK", "CL",
                              "BRENTOIL", "GOLD", "xyz:TSLA", "HYPE"};

TradeIntent intent(const char* asset, Side side = Side::long_) {
  TradeIntent t;
  t.asset = asset;
  t.side = side;
  return t;
}

struct Case {
  const char* text;
  std::optional<TradeIntent> want;
};

void check(const std::vector<Case>& cases, const MarketNames& markets,
           const std::optional<TradeIntent>& current = nullopt) {
  for (const Case& c : cases) {
    auto got = IntentParser::parse(c.text, markets, current);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.text;
    if (got) {
      EXPECT_EQ(got->toJson(), c.want->toJson()) << c.text;
    }
  }
}

TradeIntent with(TradeIntent t, void (*edit)(TradeIntent&)) {
  edit(t);
  return t;
}

TEST(IntentParserTest, WholeTradesInEnglishAndRussian) {
  check(
      {
          {"лонг эфир риск 5 стоп 2%", with(intent("ETH"), [](TradeIntent& t) {
             t.riskUSD = d("5");
             t.stopPct = d("2");
           })},
          {"Long BTC risk $50 stop 1.5% take 3R leverage 5x",
           with(intent("BTC"), [](TradeIntent& t) {
             t.riskUSD = d("50");
             t.stopPct = d("1.5");
             t.takeR = d("3");
             t.leverage = d("5");
           })},
          {"шорт SOL, стоп 1,5%, тейк 4%", with(intent("SOL", Side::short_), [](TradeIntent& t) {
             t.stopPct = d("1.5");
             t.takePct = d("4");
           })},
          {"long btc then short it", intent("BTC", Side::short_)},  // both words: short wins
          {"long BTC risk 2% stop 1%", with(intent("BTC"), [](TradeIntent& t) { t.stopPct = d("1"); })},
          {"long BTC 200 usdc take profit 5%", with(intent("BTC"), [](TradeIntent& t) {
             t.amountUSDC = d("200");
             t.takePct = d("5");
           })},
          {"лонг биткоин по правилам частями", with(intent("BTC"), [](TradeIntent& t) {
             t.autoRules = true;
             t.partialTake = true;
           })},
          {"шорт нефть риск-менеджмент", with(intent("CL", Side::short_),
                                               [](TradeIntent& t) { t.autoRules = true; })},
          {"long brent crude", intent("BRENTOIL")},  // brent is tried before oil
          {"short $hype trailing stop 2,5%", with(intent("HYPE", Side::short_), [](TradeIntent& t) {
             t.stopPct = d("2.5");  // the stop word inside "trailing stop" reads too
             t.trailingPct = d("2.5");
           })},
          {"long TSLA risk 10", with(intent("xyz:TSLA"), [](TradeIntent& t) { t.riskUSD = d("10"); })},
          {"long BTC take 1:3", with(intent("BTC"), [](TradeIntent& t) { t.takeR = d("3"); })},
          {"лонг BTC тейк 1к2,5", with(intent("BTC"), [](TradeIntent& t) { t.takeR = d("2.5"); })},
          {"long", intent("")},  // a whole trade without a market: empty asset
      },
      kMarkets);
}

TEST(IntentParserTest, LeverageSigns) {
  TradeIntent five = intent("BTC");
  five.leverage = d("5");
  TradeIntent none = intent("BTC");
  TradeIntent half = intent("BTC");
  half.leverage = d("2.5");
  check(
      {
          {"long BTC 5x", five},
          {"long BTC 5 x", five},
          {"лонг BTC 5х", five},  // Cyrillic х
          {"long BTC 5×", five},
          {"long BTC плечо 5", five},
          {"long BTC lev 2,5", half},
          {"long BTC 5xyz", none},
          {"лонг BTC 5хорошо", none},
      },
      kMarkets);
}

TEST(IntentParserTest, ChangesMergeIntoThePlan) {
  TradeIntent plan = intent("BTC");
  plan.riskUSD = d("50");
  plan.stopPct = d("2");
  plan.takeR = d("3");
  plan.pullbackPct = d("1");

  check(
      {
          {"risk 100", with(plan, [](TradeIntent& t) { t.riskUSD = d("100"); })},
          {"take 5%", with(plan, [](TradeIntent& t) {
             t.takePct = d("5");
             t.takeR.reset();
           })},
          {"move the stop to 1.2%", with(plan, [](TradeIntent& t) { t.stopPct = d("1.2"); })},
          {"limit 60000", with(plan, [](TradeIntent& t) {
             t.entryPx = d("60000");
             t.pullbackPct.reset();
           })},
          {"вход по 59500,5", with(plan, [](TradeIntent& t) {
             t.entryPx = d("59500.5");
             t.pullbackPct.reset();
           })},
          {"dip 3%", with(plan, [](TradeIntent& t) { t.pullbackPct = d("3"); })},
          {"on a 2% pullback", with(plan, [](TradeIntent& t) { t.pullbackPct = d("2"); })},
          {"short at market", with(plan, [](TradeIntent& t) {
             t.side = Side::short_;
             t.pullbackPct.reset();
           })},
          {"по рынку лонг ETH", with(plan, [](TradeIntent& t) {
             t.asset = "ETH";
             t.pullbackPct.reset();
           })},
          {"market", nullopt},  // clearing alone sets nothing
          {"what do you think about this?", nullopt},
          {"ok", nullopt},
      },
      kMarkets, plan);

  // Take in R, then in percent, then in R again: never both.
  TradeIntent t = plan;
  t = *IntentParser::parse("take 4%", kMarkets, t);
  EXPECT_EQ(t.takePct, d("4"));
  EXPECT_FALSE(t.takeR);
  t = *IntentParser::parse("тейк 2R", kMarkets, t);
  EXPECT_EQ(t.takeR, d("2"));
  EXPECT_FALSE(t.takePct);
  // A limit after a pullback, then a pullback after a limit.
  t = *IntentParser::parse("limit 61000", kMarkets, t);
  EXPECT_EQ(t.entryPx, d("61000"));
  EXPECT_FALSE(t.pullbackPct);
  t = *IntentParser::parse("откат 1,5%", kMarkets, t);
  EXPECT_EQ(t.pullbackPct, d("1.5"));
  EXPECT_FALSE(t.entryPx);
}

TEST(IntentParserTest, MoneyMessagesThatAreNotTrades) {
  TradeIntent plan = intent("BTC");
  check(
      {
          {"sell 50 USDC of SOL", nullopt},
          {"продай SOL на $20", nullopt},
          {"buy SOL for 10 usdc every day", nullopt},
          {"покупай BTC каждую неделю на 20 usdc", nullopt},
          {"send 5 USDC to Mom", nullopt},
          {"переведи всё на Base", nullopt},
          {"withdraw all from HLP", nullopt},
          {"buy BTC on solana", nullopt},
          {"купи SOL на солане", nullopt},
          {"move stop 2%", with(plan, [](TradeIntent& t) { t.stopPct = d("2"); })},
          {"sell BTC short 50 usdc", with(plan, [](TradeIntent& t) {
             t.side = Side::short_;
             t.amountUSDC = d("50");
           })},
      },
      kMarkets, plan);
}

TEST(IntentParserTest, MarketsByWord) {
  check(
      {
          {"long near risk 10", with(intent(""), [](TradeIntent& t) { t.riskUSD = d("10"); })},
          {"long NEAR", intent("NEAR")},
          {"long Link", intent("")},
          {"long LINK", intent("LINK")},
          {"long KPEPE", intent("kPEPE")},
          {"short kpepe", intent("kPEPE", Side::short_)},
          {"long kBonk", intent("kBONK")},
          {"long xyz:tsla", intent("xyz:TSLA")},
          {"long oil", intent("CL")},
          {"лонг золото", intent("GOLD")},
          {"long $eth", intent("ETH")},
          {"long $doge", intent("")},  // cashtag not listed, no word either
          {"long hype", intent("HYPE")},
      },
      kMarkets);

  // With nothing loaded only BTC, ETH and SOL are known by word; aliases stand alone.
  check(
      {
          {"long DOGE risk 10", with(intent(""), [](TradeIntent& t) { t.riskUSD = d("10"); })},
          {"long sol", intent("SOL")},
          {"long silver", intent("SILVER")},
          {"short эфир", intent("ETH", Side::short_)},
      },
      {});

  EXPECT_EQ(IntentParser::market("kpepe", kMarkets), "kPEPE");
  EXPECT_EQ(IntentParser::market("Btc", {}), "BTC");
  EXPECT_EQ(IntentParser::market("DOGE", {}), nullopt);
  EXPECT_EQ(IntentParser::market("TSLA", kMarkets), "xyz:TSLA");
}

TEST(IntentParserTest, CommandLineReadsBack) {
  std::vector<TradeIntent> intents;
  TradeIntent a = intent("BTC");
  a.riskUSD = d("50");
  a.stopPct = d("1.5");
  a.takeR = d("3");
  a.leverage = d("10");
  a.amountUSDC = d("200.5");
  a.autoRules = true;
  a.pullbackPct = d("2");
  a.trailingPct = d("0.7");
  a.partialTake = true;
  intents.push_back(a);
  TradeIntent b = intent("kPEPE", Side::short_);
  b.takePct = d("4.25");
  b.entryPx = d("0.000012345");
  intents.push_back(b);
  TradeIntent c = intent("xyz:TSLA");
  c.riskUSD = d("12.5");
  intents.push_back(c);
  for (const TradeIntent& t : intents) {
    auto back = IntentParser::parse(t.command(), kMarkets, nullopt);
    ASSERT_TRUE(back) << t.command();
    EXPECT_EQ(*back, t) << t.command();
  }
}

TEST(IntentParserTest, NumbersUseDotOrComma) {
  EXPECT_EQ(IntentParser::number("1,5"), d("1.5"));
  EXPECT_EQ(IntentParser::number("12"), d("12"));
  EXPECT_EQ(IntentParser::number("1.2.3"), nullopt);
  EXPECT_EQ(IntentParser::number("1,000.5"), nullopt);
  EXPECT_EQ(IntentParser::number("-1"), nullopt);
}

}  // namespace
}  // namespace orwenna
