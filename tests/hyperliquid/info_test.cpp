// Market and balance reads against local fake Hyperliquid info and Solana
// nodes answering in the services' own JSON shapes.
#include <gtest/gtest.h>

#include <string>

#include "base/clock.h"
#include "base/http.h"
#include "base/json.h"
#include "hyperliquid/info.h"
#include "trading/market.h"
#include "support/core_fixtures.h"
#include "fakes/fake_server.h"
#include "hyperliquid/info_fake.h"

namespace orwenna {
namespace {

using testing::D;
using testing::failureOf;
using testing::FakeInfo;
using testing::FixedClock;
using testing::FakeServer;

constexpr std::int64_t kNow = testing::kInfoNow;

// Shapes as the exchange sends them: every number a string, extra fields,
// nulls where a market has no trades.
const char* kOwnMarkets = R"([
  {"universe":[
     {"szDecimals":5,"name":"BTC","maxLeverage":40,"marginTableId":56},
     {"szDecimals":4,"name":"ETH","maxLeverage":25,"marginTableId":55},
     {"szDecimals":2,"name":"MATIC","maxLeverage":20,"marginTableId":20,"isDelisted":true},
     {"szDecimals":0,"name":"kPEPE","maxLeverage":10,"marginTableId":10,"onlyIsolated":false},
     {"szDecimals":1,"name":"NEWCOIN","maxLeverage":3,"marginTableId":3},
     {"szDecimals":2,"name":"SOL","maxLeverage":20,"marginTableId":20,"isDelisted":false}],
   "marginTables":[[56,{"description":"","marginTiers":[{"lowerBound":"0.0","maxLeverage":40}]}]],
   "collateralToken":0},
  [{"funding":"0.0000125","openInterest":"30000.1","prevDayPx":"90000.0","dayNtlVlm":"2500000000.5","premium":"0.0001","oraclePx":"91000.0","markPx":"91012.0","midPx":"91011.5","impactPxs":["91011.0","91012.0"],"dayBaseVlm":"27000.0"},
   {"funding":"-0.00001","openInterest":"500000.0","prevDayPx":null,"dayNtlVlm":"900000000.0","premium":"0.0","oraclePx":"3000.0","markPx":"3001.5","midPx":"3001.4","impactPxs":null,"dayBaseVlm":"300000.0"},
   {"funding":"0.0","openInterest":"0.0","prevDayPx":"0.5","dayNtlVlm":"0.0","premium":null,"oraclePx":"0.5","markPx":"0.5","midPx":null,"impactPxs":null,"dayBaseVlm":"0.0"},
   {"funding":"0.0000125","openInterest":"1.0","prevDayPx":"0.0101","markPx":"0.010234","midPx":"0.0102","impactPxs":null},
   {"funding":null,"openInterest":"0.0","prevDayPx":null,"dayNtlVlm":"0.0","premium":null,"oraclePx":"1.0","markPx":null,"midPx":null,"impactPxs":null},
   {"funding":"0.00002","openInterest":"1.0","prevDayPx":"140.0","dayNtlVlm":"100.0","markPx":"150.25","midPx":"150.2"}]
])";

const char* kPerpDexs = R"([null,
  {"name":"flx","fullName":"Felix Exchange","deployer":"0x1111111111111111111111111111111111111111","oracleUpdater":null,"feeRecipient":null},
  {"name":"vntl","fullName":"Ventuals","deployer":"0x2222222222222222222222222222222222222222","oracleUpdater":null,"feeRecipient":null},
  {"name":"xyz","fullName":"XYZ","deployer":"0x3333333333333333333333333333333333333333","oracleUpdater":null,"feeRecipient":null}])";

const char* kXyzMarkets = R"([
  {"universe":[
     {"szDecimals":4,"name":"xyz:XYZ100","maxLeverage":20},
     {"szDecimals":3,"name":"xyz:NVDA","maxLeverage":10},
     {"szDecimals":2,"name":"xyz:GOLD","maxLeverage":10}],
   "collateralToken":0},
  [{"funding":"0.00000625","prevDayPx":"25000.0","dayNtlVlm":"1000000.0","markPx":"25100.5"},
   {"funding":"0.0000125","prevDayPx":"180.0","dayNtlVlm":"500000.0","markPx":"181.2"}]
])";

const char* kFlxMarkets = R"([{"universe":[{"szDecimals":2,"name":"flx:SILVER","maxLeverage":10}]},
  [{"funding":"0.0","prevDayPx":"30.0","dayNtlVlm":"10.0","markPx":"31.0"}]])";

TEST(HyperliquidMarkets, ReadsOwnMarketsSkippingDelistedAndPriceless) {
  FakeInfo info;
  info.answer("metaAndAssetCtxs", kOwnMarkets);
  auto markets = Hyperliquid::markets(info.api());

  ASSERT_EQ(markets.size(), 4u);
  EXPECT_FALSE(markets.contains("MATIC"));    // delisted
  EXPECT_FALSE(markets.contains("NEWCOIN"));  // no mark price yet

  const Market& btc = markets.at("BTC");
  EXPECT_EQ(btc.markPx, D("91012"));
  EXPECT_EQ(btc.szDecimals, 5);
  EXPECT_EQ(btc.maxLeverage, 40);
  EXPECT_EQ(btc.index, 0);
  EXPECT_EQ(btc.prevDayPx, D("90000"));
  EXPECT_EQ(btc.funding, D("0.0000125"));
  EXPECT_EQ(btc.volume24h, D("2500000000.5"));
  EXPECT_FALSE(btc.dex);
  EXPECT_FALSE(btc.atrPct);

  EXPECT_FALSE(markets.at("ETH").prevDayPx);  // null stays absent
  EXPECT_EQ(markets.at("ETH").funding, D("-0.00001"));
  EXPECT_EQ(markets.at("kPEPE").index, 3);
  EXPECT_EQ(markets.at("kPEPE").volume24h, Decimal(0));  // no dayNtlVlm
  EXPECT_EQ(markets.at("SOL").index, 5);                 // the position in the universe, gaps and all

  auto sent = Json::parse(info.server.requests().at(0).body);
  EXPECT_EQ(sent, Json({{"type", "metaAndAssetCtxs"}}));
  EXPECT_EQ(info.server.requests()[0].header("content-type"), "application/json");
}

TEST(HyperliquidMarkets, BuilderDexMarketsCarryTheDexAndItsIndexRange) {
  FakeInfo info;
  info.answer("metaAndAssetCtxs/xyz", kXyzMarkets);
  auto markets = Hyperliquid::markets(info.api(), Hyperliquid::DexRef{"xyz", 2});

  ASSERT_EQ(markets.size(), 2u);  // the universe is longer than the contexts: stop at the shorter
  EXPECT_EQ(markets.at("xyz:XYZ100").index, 120000);
  EXPECT_EQ(markets.at("xyz:NVDA").index, 120001);
  EXPECT_EQ(markets.at("xyz:NVDA").dex, "xyz");
  EXPECT_EQ(Json::parse(info.server.requests().at(0).body), Json({{"type", "metaAndAssetCtxs"}, {"dex", "xyz"}}));
}

TEST(HyperliquidMarkets, TableMergesOwnAndEveryBuilderDex) {
  FakeInfo info;
  info.answer("metaAndAssetCtxs", kOwnMarkets);
  info.answer("perpDexs", kPerpDexs);
  info.answer("metaAndAssetCtxs/xyz", kXyzMarkets);
  info.answer("metaAndAssetCtxs/flx", kFlxMarkets);
  // "vntl" has no answer: the fake returns HTTP 500 for it.

  MarketTable table = Hyperliquid::loadMarketTable(info.api());
  EXPECT_EQ(table.size(), 4u + 2u + 1u);
  ASSERT_NE(table.find("flx:SILVER"), nullptr);
  EXPECT_EQ(table.find("flx:SILVER")->index, 110000);
  EXPECT_EQ(table.find("xyz:NVDA")->index, 130001);
  EXPECT_EQ(table.find("BTC")->index, 0);
  EXPECT_EQ(table.unreadDexes(), std::vector<std::string>{"vntl"});

  EXPECT_EQ(table.find("BTC")->group(), Market::Group::crypto);
  EXPECT_EQ(table.find("flx:SILVER")->group(), Market::Group::commodities);
  EXPECT_EQ(table.find("xyz:XYZ100")->group(), Market::Group::indices);
  EXPECT_EQ(table.find("xyz:NVDA")->group(), Market::Group::stocks);

  auto dexes = Hyperliquid::perpDexs(info.api());  // own dex first, with an empty name
  ASSERT_EQ(dexes.size(), 4u);
  EXPECT_EQ(dexes[0].name, "");
  EXPECT_EQ(dexes[2].fullName, "Ventuals");

  // Without the dex list the own markets still load.
  info.answer("perpDexs", "{\"error\":\"busy\"}", 429);
  EXPECT_TRUE(Hyperliquid::perpDexs(info.api()).empty());
  EXPECT_EQ(Hyperliquid::loadMarketTable(info.api()).size(), 4u);
}

TEST(HyperliquidMarkets, FailuresFailTheWholeCall) {
  struct Case {
    const char* name;
    std::string body;
    int status;
    std::string message;
  };
  std::string badMark = kOwnMarkets;
  badMark.replace(badMark.find("\"150.25\""), 8, "\"1,50.25\"");
  std::string exponent = kOwnMarkets;
  exponent.replace(exponent.find("\"3000.0\",\"markPx\":\"3001.5\""), 26, "\"3000.0\",\"markPx\":\"3e3\"");
  std::string badFunding = kOwnMarkets;
  badFunding.replace(badFunding.find("\"-0.00001\""), 10, "\"--0.00001\"");
  std::vector<Case> cases{
      {"http error", R"({"error":"rate limited"})", 429, R"(Hyperliquid answered HTTP 429: {"error":"rate limited"})"},
      {"bad price", badMark, 200, "Unexpected number format: 1,50.25"},
      {"exponent price", exponent, 200, "Unexpected number format: 3e3"},
      {"bad funding", badFunding, 200, "Unexpected number format: --0.00001"},
      {"not json", "<html>", 200, "Hyperliquid sent an unreadable answer to metaAndAssetCtxs."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeInfo info;
    info.answer("metaAndAssetCtxs", c.body, c.status);
    EXPECT_EQ(failureOf<std::runtime_error>([&] { (void)Hyperliquid::markets(info.api()); }), c.message);
  }
}

TEST(HyperliquidMarkets, ShapeErrorsAndBadUrlsAreSentences) {
  FakeInfo info;
  info.answer("metaAndAssetCtxs", R"([{"universe":[{"name":"BTC","maxLeverage":40}]},[{"markPx":"1.0"}]])");
  EXPECT_THROW((void)Hyperliquid::markets(info.api()), MarketDataError);

  FixedClock clock(kNow);
  Hyperliquid::InfoApi bad{CurlHttpClient::shared(), clock, "api.hyperliquid.xyz"};
  EXPECT_EQ(failureOf<MarketDataError>([&] { (void)Hyperliquid::markets(bad); }),
            "Invalid URL: api.hyperliquid.xyz/info");

  // Nothing listening: the transport error reaches the caller unchanged.
  FakeServer gone;
  std::string url = gone.url();
  gone.stop();
  Hyperliquid::InfoApi down{CurlHttpClient::shared(), clock, url};
  EXPECT_THROW((void)Hyperliquid::balance(down, "0xaa"), NetError);
}

// Candles as candleSnapshot sends them, rising by 1 with a fixed shape so
// each true range is easy to state.
std::string candleJson(int count) {
  Json rows = Json::array();
  for (int i = 0; i < count; ++i) {
    int base = 100 + i;
    rows.push_back({{"t", kNow - (count - i) * 14400000LL},
                    {"T", kNow - (count - i - 1) * 14400000LL - 1},
                    {"s", "BTC"},
                    {"i", "4h"},
                    {"o", std::to_string(base)},
                    {"c", std::to_string(base) + ".5"},
                    {"h", std::to_string(base + 1)},
                    {"l", std::to_string(base - 1)},
                    {"v", "12.5"},
                    {"n", 42}});
  }
  return rows.dump();
}

TEST(HyperliquidCandles, AtrUsesTheLastFourteenTrueRanges) {
  FakeInfo info;
  info.answer("candleSnapshot", candleJson(15));
  // Each high-low is 2; no gap is wider. Last close 114.5.
  Decimal atr = Hyperliquid::atrPct(info.api(), "BTC");
  EXPECT_EQ(atr, Decimal(2) / D("114.5") * Decimal(100));

  auto sent = Json::parse(info.server.requests().at(0).body);
  EXPECT_EQ(sent["req"]["interval"], "4h");
  EXPECT_EQ(sent["req"]["endTime"], kNow);
  EXPECT_EQ(sent["req"]["startTime"], kNow - 230400000);
  EXPECT_EQ(sent["req"]["coin"], "BTC");

  info.answer("candleSnapshot", candleJson(14));
  EXPECT_EQ(failureOf<MarketDataError>([&] { (void)Hyperliquid::atrPct(info.api(), "BTC"); }),
            "Not enough BTC candles for ATR.");
  Json rows = Json::parse(candleJson(20));
  rows[7]["l"] = "98.5.1";
  info.answer("candleSnapshot", rows.dump());
  EXPECT_EQ(failureOf<NumberFormatError>([&] { (void)Hyperliquid::atrPct(info.api(), "BTC"); }),
            "Unexpected number format: 98.5.1");
}

TEST(HyperliquidCandles, TrueRangeTakesGapsFromThePreviousClose) {
  auto candle = [](const char* h, const char* l, const char* c) {
    return Hyperliquid::Candle{std::nullopt, std::nullopt, D(h), D(l), D(c)};
  };
  std::vector<Hyperliquid::Candle> cs;
  cs.push_back(candle("999", "0", "10"));  // only its close counts
  for (int i = 0; i < 12; ++i) cs.push_back(candle("11", "9", "10"));  // TR 2 each
  cs.push_back(candle("16", "15", "15.5"));  // gap up: |16 - 10| = 6
  cs.push_back(candle("11", "10", "10"));    // gap down: |10 - 15.5| = 5.5
  // (12 × 2 + 6 + 5.5) / 14 / 10 × 100
  EXPECT_EQ(Hyperliquid::atrPctOf(cs, "X"), D("35.5") / Decimal(14) / Decimal(10) * Decimal(100));

  // More than 15 candles: the oldest true ranges drop out.
  cs.insert(cs.begin(), candle("5000", "1", "10"));
  EXPECT_EQ(Hyperliquid::atrPctOf(cs, "X"), D("35.5") / Decimal(14) / Decimal(10) * Decimal(100));
}

TEST(HyperliquidCandles, RangesPickWindowAndInterval) {
  struct Case {
    ChartRange range;
    std::int64_t window;
    const char* interval;
  };
  for (const Case& c : {Case{ChartRange::day, 86400000, "15m"},
                        Case{ChartRange::week, 604800000, "1h"},
                        Case{ChartRange::month, 2592000000LL, "4h"}}) {
    FakeInfo info;
    info.answer("candleSnapshot", candleJson(3));
    auto cs = Hyperliquid::candles(info.api(), "ETH", c.range);
    ASSERT_EQ(cs.size(), 3u);
    EXPECT_EQ(cs[2].c, D("102.5"));
    EXPECT_EQ(cs[2].o, Decimal(102));
    auto req = Json::parse(info.server.requests().at(0).body)["req"];
    EXPECT_EQ(req["interval"], c.interval);
    EXPECT_EQ(req["endTime"].get<std::int64_t>() - req["startTime"].get<std::int64_t>(), c.window);
  }
}

const char* kPerpState = R"({"marginSummary":{"accountValue":"1523.456789","totalNtlPos":"0.0","totalRawUsd":"1523.456789","totalMarginUsed":"0.0"},
  "crossMarginSummary":{"accountValue":"1523.456789","totalNtlPos":"0.0","totalRawUsd":"1523.456789","totalMarginUsed":"0.0"},
  "crossMaintenanceMarginUsed":"0.0","withdrawable":"1400.12","assetPositions":[],"time":1765000000000})";

TEST(HyperliquidBalance, ReadsPerpAndSpotConcurrently) {
  struct Case {
    const char* name;
    const char* spot;
    const char* usdc;
  };
  for (const Case& c : {
           Case{"usdc row", R"({"balances":[{"coin":"HYPE","token":150,"hold":"0.0","total":"3.2","entryNtl":"90.0"},{"coin":"USDC","token":0,"hold":"5.0","total":"14.625485","entryNtl":"0.0"}]})", "14.625485"},
           Case{"no usdc row", R"({"balances":[{"coin":"HYPE","token":150,"hold":"0.0","total":"3.2","entryNtl":"90.0"}]})", "0"},
       }) {
    SCOPED_TRACE(c.name);
    FakeInfo info;
    info.answer("clearinghouseState", kPerpState);
    info.answer("spotClearinghouseState", c.spot);
    auto b = Hyperliquid::balance(info.api(), "0x00000000000000000000000000000000000000aa");
    EXPECT_EQ(b.accountValue, D("1523.456789"));
    EXPECT_EQ(b.withdrawable, D("1400.12"));
    EXPECT_EQ(b.spotUSDC, D(c.usdc));
    auto requests = info.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
      EXPECT_EQ(Json::parse(r.body)["user"], "0x00000000000000000000000000000000000000aa");
    }
  }
}

TEST(HyperliquidBalance, EitherHalfFailingFailsTheRead) {
  FakeInfo info;
  info.answer("clearinghouseState", kPerpState);
  info.answer("spotClearinghouseState", R"({"error":"down"})", 502);
  EXPECT_THROW((void)Hyperliquid::balance(info.api(), "0xaa"), MarketDataError);

  std::string bad = kPerpState;
  bad.replace(bad.find("\"1400.12\""), 9, "\"1400.12 \"");
  info.answer("clearinghouseState", bad);
  info.answer("spotClearinghouseState", R"({"balances":[]})");
  EXPECT_EQ(failureOf<NumberFormatError>([&] { (void)Hyperliquid::balance(info.api(), "0xaa"); }),
            "Unexpected number format: 1400.12 ");
}

}  // namespace
}  // namespace orwenna
