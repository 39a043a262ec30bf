#include "language/intent_parser.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace orwenna {
namespace {

using std::nullopt;

Decimal d(const char* text) { return Decimal::parse(text); }

const MarketNames kParserMarkets = {"BTC", "ETH", "SOL", "NEAR", "LINK", "kPEPE", "kBONK", "CL",
                              "BRENTOIL", "GOLD", "xyz:TSLA", "HYPE"};

struct ParseCase {
  const char* text;
  const char* want;  // the intent's JSON, as a merge patch onto the current plan; nullptr: no intent
};

void check(const std::vector<ParseCase>& cases, const MarketNames& markets,
           const std::optional<TradeIntent>& current = nullopt) {
  for (const ParseCase& c : cases) {
    auto got = IntentParser::parse(c.text, markets, current);
    ASSERT_EQ(got.has_value(), c.want != nullptr) << c.text;
    if (!got) continue;
    // Compared without key order: the patch appends the keys it adds.
    nlohmann::json want = nlohmann::json::parse(current ? current->toJson().dump() : "{}");
    want.merge_patch(nlohmann::json::parse(c.want));
    EXPECT_EQ(nlohmann::json::parse(got->toJson().dump()), want) << c.text;
  }
}

TradeIntent plan() {
  TradeIntent t;
  t.asset = "BTC";
  t.riskUSD = d("50");
  t.stopPct = d("2");
  t.takeR = d("3");
  t.pullbackPct = d("1");
  return t;
}

TEST(IntentParserTest, WholeTradesInEnglishAndRussian) {
  check(
      {
          {"лонг эфир риск 5 стоп 2%", R"({"asset":"ETH","side":"long","riskUSD":5,"stopPct":2})"},
          {"Long BTC risk $50 stop 1.5% take 3R leverage 5x",
           R"({"asset":"BTC","side":"long","riskUSD":50,"stopPct":1.5,"takeR":3,"leverage":5})"},
          {"шорт SOL, стоп 1,5%, тейк 4%", R"({"asset":"SOL","side":"short","stopPct":1.5,"takePct":4})"},
          {"long btc then short it", R"({"asset":"BTC","side":"short"})"},  // both words: short wins
          {"long BTC risk 2% stop 1%", R"({"asset":"BTC","side":"long","stopPct":1})"},
          {"long BTC 200 usdc take profit 5%", R"({"asset":"BTC","side":"long","amountUSDC":200,"takePct":5})"},
          {"лонг биткоин по правилам частями", R"({"asset":"BTC","side":"long","autoRules":true,"partialTake":true})"},
          {"шорт нефть риск-менеджмент", R"({"asset":"CL","side":"short","autoRules":true})"},
          {"long brent crude", R"({"asset":"BRENTOIL","side":"long"})"},  // brent is tried before oil
          // The stop word inside "trailing stop" reads too.
          {"short $hype trailing stop 2,5%", R"({"asset":"HYPE","side":"short","stopPct":2.5,"trailingPct":2.5})"},
          {"long TSLA risk 10", R"({"asset":"xyz:TSLA","side":"long","riskUSD":10})"},
          {"long BTC take 1:3", R"({"asset":"BTC","side":"long","takeR":3})"},
          {"лонг BTC тейк 1к2,5", R"({"asset":"BTC","side":"long","takeR":2.5})"},
          {"long", R"({"asset":"","side":"long"})"},  // a whole trade without a market: empty asset
      },
      kParserMarkets);
}

TEST(IntentParserTest, LeverageSigns) {
  const char* five = R"({"asset":"BTC","side":"long","leverage":5})";
  const char* none = R"({"asset":"BTC","side":"long"})";
  check(
      {
          {"long BTC 5x", five},
          {"long BTC 5 x", five},
          {"лонг BTC 5х", five},  // Cyrillic х
          {"long BTC 5×", five},
          {"long BTC плечо 5", five},
          {"long BTC lev 2,5", R"({"asset":"BTC","side":"long","leverage":2.5})"},
          {"long BTC 5xyz", none},
          {"лонг BTC 5хорошо", none},
      },
      kParserMarkets);
}

TEST(IntentParserTest, AddressesAndZeroAreNoLeverage) {
  const char* five = R"({"asset":"BTC","side":"long","leverage":5})";
  const char* none = R"({"asset":"BTC","side":"long"})";
  const std::vector<ParseCase> whole = {
      {"0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913", nullptr},
      {"what is 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913?", nullptr},
      {"что за токен 0x4200000000000000000000000000000000000042", nullptr},
      {"0x1", nullptr},
      {"long BTC 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913", none},
      {"long BTC 0x", none},
      {"long BTC leverage 0", none},
      {"лонг BTC плечо 0", none},
      {"long BTC 0 x", none},
      {"long BTC 5x 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913", five},
      {"long BTC 0.5x", R"({"asset":"BTC","side":"long","leverage":0.5})"},
      {"long BTC 10x", R"({"asset":"BTC","side":"long","leverage":10})"},
  };
  check(whole, kParserMarkets);
  // On a plan, an address line changes nothing.
  check({{"0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913", nullptr}, {"leverage 0", nullptr}, {"3x", R"({"leverage":3})"}},
        kParserMarkets, plan());
}

TEST(IntentParserTest, ChangesMergeIntoThePlan) {
  check(
      {
          {"risk 100", R"({"riskUSD":100})"},
          {"take 5%", R"({"takePct":5,"takeR":null})"},
          {"move the stop to 1.2%", R"({"stopPct":1.2})"},
          {"limit 60000", R"({"entryPx":60000,"pullbackPct":null})"},
          {"вход по 59500,5", R"({"entryPx":59500.5,"pullbackPct":null})"},
          {"dip 3%", R"({"pullbackPct":3})"},
          {"on a 2% pullback", R"({"pullbackPct":2})"},
          {"short at market", R"({"side":"short","pullbackPct":null})"},
          {"по рынку лонг ETH", R"({"asset":"ETH","pullbackPct":null})"},
          {"what do you think about this?", nullptr},
          {"ok", nullptr},
      },
      kParserMarkets, plan());

  // The other way round: a take in R clears the percent, a pullback the limit.
  TradeIntent fixed = plan();
  fixed.takeR.reset();
  fixed.takePct = d("4");
  fixed.pullbackPct.reset();
  fixed.entryPx = d("61000");
  check({{"тейк 2R", R"({"takeR":2,"takePct":null})"}, {"откат 1,5%", R"({"pullbackPct":1.5,"entryPx":null})"}},
        kParserMarkets, fixed);
}

TEST(IntentParserTest, AtMarketClearsALimitOrAPullback) {
  TradeIntent limited = plan();
  limited.pullbackPct.reset();
  limited.entryPx = d("61000");
  const std::vector<ParseCase> clearing = {
      {"at market", "{}"},
      {"At market.", "{}"},
      {"по рынку", "{}"},
      {"вход по рынку", "{}"},
      {"enter at the market", "{}"},
      {"market order", "{}"},
      {"by market", "{}"},
      {"market", nullptr},  // a bare word is no request
      {"the market is slow today", nullptr},
      {"рынок сегодня вялый", nullptr},
      {"marketing budget", nullptr},
  };
  for (const TradeIntent& current : {plan(), limited}) {
    std::vector<ParseCase> cases;
    for (const ParseCase& c : clearing) {
      cases.push_back({c.text, c.want ? R"({"pullbackPct":null,"entryPx":null})" : nullptr});
    }
    check(cases, kParserMarkets, current);
  }

  // Nothing to clear: a plan already at market, or no plan at all.
  TradeIntent atMarket = plan();
  atMarket.pullbackPct.reset();
  for (const std::optional<TradeIntent>& current : {std::optional<TradeIntent>(atMarket), std::optional<TradeIntent>()}) {
    check({{"at market", nullptr}, {"по рынку", nullptr}}, kParserMarkets, current);
  }
}

TEST(IntentParserTest, ClosingAPositionIsNoSide) {
  const std::vector<ParseCase> cases = {
      {"close the short", nullptr},
      {"close my long", nullptr},
      {"exit the short", nullptr},
      {"flatten the long", nullptr},
      {"закрой шорт", nullptr},
      {"выйди из лонга", nullptr},
      {"short", R"({"side":"short"})"},
      {"шорт", R"({"side":"short"})"},
      {"enter short near the close stop 2%", R"({"side":"short","stopPct":2})"},
  };
  check(cases, kParserMarkets, plan());
}

TEST(IntentParserTest, MoneyMessagesThatAreNotTrades) {
  TradeIntent current;
  current.asset = "BTC";
  check(
      {
          {"sell 50 USDC of SOL", nullptr},
          {"продай половину SOL", nullptr},  // a sale without an amount is no long either
          {"sell ETH", nullptr},
          {"продай SOL на $20", nullptr},
          {"buy SOL for 10 usdc every day", nullptr},
          {"покупай BTC каждую неделю на 20 usdc", nullptr},
          {"send 5 USDC to Mom", nullptr},
          {"переведи всё на Base", nullptr},
          {"withdraw all from HLP", nullptr},
          {"buy BTC on solana", nullptr},
          {"купи SOL на солане", nullptr},
          {"move stop 2%", R"({"stopPct":2})"},
          {"sell BTC short 50 usdc", R"({"side":"short","amountUSDC":50})"},
      },
      kParserMarkets, current);
}

TEST(IntentParserTest, MarketsByWord) {
  check(
      {
          {"long near risk 10", R"({"asset":"","side":"long","riskUSD":10})"},
          {"long NEAR", R"({"asset":"NEAR","side":"long"})"},
          {"long Link", R"({"asset":"","side":"long"})"},
          {"long LINK", R"({"asset":"LINK","side":"long"})"},
          {"long KPEPE", R"({"asset":"kPEPE","side":"long"})"},
          {"short kpepe", R"({"asset":"kPEPE","side":"short"})"},
          {"long kBonk", R"({"asset":"kBONK","side":"long"})"},
          {"long xyz:tsla", R"({"asset":"xyz:TSLA","side":"long"})"},
          {"long oil", R"({"asset":"CL","side":"long"})"},
          {"лонг золото", R"({"asset":"GOLD","side":"long"})"},
          {"long $eth", R"({"asset":"ETH","side":"long"})"},
          {"long $doge", R"({"asset":"","side":"long"})"},  // cashtag not listed, no word either
          {"long hype", R"({"asset":"HYPE","side":"long"})"},
      },
      kParserMarkets);

  // With nothing loaded only BTC, ETH and SOL are known by word; aliases stand alone.
  check(
      {
          {"long DOGE risk 10", R"({"asset":"","side":"long","riskUSD":10})"},
          {"long sol", R"({"asset":"SOL","side":"long"})"},
          {"long silver", R"({"asset":"SILVER","side":"long"})"},
          {"short эфир", R"({"asset":"ETH","side":"short"})"},
      },
      {});

  EXPECT_EQ(IntentParser::market("kpepe", kParserMarkets), "kPEPE");
  EXPECT_EQ(IntentParser::market("Btc", {}), "BTC");
  EXPECT_EQ(IntentParser::market("DOGE", {}), nullopt);
  EXPECT_EQ(IntentParser::market("TSLA", kParserMarkets), "xyz:TSLA");
}

TEST(IntentParserTest, CommandLineReadsBack) {
  for (const char* json : {
           R"({"asset":"BTC","side":"long","riskUSD":50,"stopPct":1.5,"leverage":10,"amountUSDC":200.5,"takeR":3,)"
           R"("autoRules":true,"pullbackPct":2,"partialTake":true,"trailingPct":0.7})",
           R"({"asset":"kPEPE","side":"short","takePct":4.25,"entryPx":"0.000012345"})",
           R"({"asset":"xyz:TSLA","side":"long","riskUSD":12.5})",
       }) {
    TradeIntent t = TradeIntent::fromJson(*parseJson(json));
    auto back = IntentParser::parse(t.command(), kParserMarkets, nullopt);
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
