#include "trading/trade_intent.h"
#include "support/core_fixtures.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

using testing::D;

TradeIntent fullIntent() {
  TradeIntent t;
  t.asset = "xyz:TSLA";
  t.side = Side::short_;
  t.riskUSD = D("50");
  t.stopPct = D("1.5");
  t.takePct = D("4.25");
  t.leverage = D("10");
  t.amountUSDC = D("200.5");
  t.autoRules = true;
  t.entryPx = D("0.000012345");
  t.partialTake = false;
  t.trailingPct = D("0.7");
  return t;
}

TEST(TradeIntentJsonTest, WritesOnlyPresentKeysInOrderAsNumbers) {
  TradeIntent bare;
  bare.asset = "BTC";
  EXPECT_EQ(bare.toJson().dump(), R"({"asset":"BTC","side":"long"})");

  Json full = fullIntent().toJson();
  EXPECT_EQ(full.dump(),
            R"({"asset":"xyz:TSLA","side":"short","riskUSD":50,"stopPct":1.5,"takePct":4.25,)"
            R"("leverage":10,"amountUSDC":200.5,"autoRules":true,"entryPx":1.2345e-05,)"
            R"("partialTake":false,"trailingPct":0.7})");
}

TEST(TradeIntentJsonTest, RoundTripsAndReadsLenientNumbers) {
  for (const TradeIntent& t : {fullIntent(), TradeIntent{}}) {
    EXPECT_EQ(TradeIntent::fromJson(*parseJson(t.toJson().dump())), t);
  }
  auto read = TradeIntent::fromJson(
      *parseJson(R"({"asset":"ETH","side":"long","riskUSD":"12.50","takeR":null,"stopPct":0.1})"));
  EXPECT_EQ(read.riskUSD, D("12.5"));
  EXPECT_EQ(read.stopPct, D("0.1"));  // a JSON double reads back as its shortest text
  EXPECT_FALSE(read.takeR.has_value());
}

TEST(TradeIntentJsonTest, RejectsBadShapes) {
  const char* bad[] = {
      R"({"side":"long"})",
      R"({"asset":"BTC"})",
      R"({"asset":"BTC","side":"Long"})",
      R"({"asset":"BTC","side":"buy"})",
      R"({"asset":"BTC","side":"long","riskUSD":true})",
      R"({"asset":"BTC","side":"long","riskUSD":"1,5"})",
      R"({"asset":"BTC","side":"long","autoRules":"yes"})",
      R"(["BTC","long"])",
  };
  for (const char* text : bad) {
    EXPECT_ANY_THROW(TradeIntent::fromJson(*parseJson(text))) << text;
  }
}

TEST(TradeIntentCommandTest, WritesTheCommandLine) {
  TradeIntent t;
  t.asset = "BTC";
  EXPECT_EQ(t.command(), "long BTC");
  EXPECT_EQ(fullIntent().command(),
            "short TSLA risk $50 stop 1.5% take 4.25% leverage 10x 200.5 USDC by the book "
            "limit 0.000012345 trailing 0.7%");

  TradeIntent r;
  r.asset = "kPEPE";
  r.takeR = D("3");
  r.pullbackPct = D("2");
  r.entryPx = D("100");  // pullback wins when both are somehow present
  r.partialTake = true;
  r.autoRules = false;
  EXPECT_EQ(r.command(), "long kPEPE take 3R pullback 2% take in parts");
}

TEST(TradeIntentChangesTest, ListsEachDifferenceInOrder) {
  TradeIntent before;
  before.asset = "BTC";
  before.riskUSD = D("50");
  before.stopPct = D("2");
  before.takeR = D("3");
  before.pullbackPct = D("1");

  TradeIntent after = before;
  after.asset = "ETH";
  after.side = Side::short_;
  after.riskUSD = D("1234.5");
  after.stopPct = D("1.456");
  after.takeR.reset();
  after.takePct = D("5");
  after.leverage = D("3");
  after.amountUSDC = D("100");
  after.trailingPct = D("0.5");
  after.pullbackPct.reset();
  after.entryPx = D("0.0123456");

  std::vector<std::string> want = {
      "market ETH", "short", "risk $1,234.50", "stop 1.46%", "take 5%", "leverage 3\u00d7",
      "100 USDC", "take \u2014", "trailing 0.5%", "limit entry at 0.012346",
  };
  EXPECT_EQ(after.changes(before), want);
  EXPECT_TRUE(before.changes(before).empty());

  TradeIntent marketEntry = before;
  marketEntry.pullbackPct.reset();
  marketEntry.riskUSD.reset();
  EXPECT_EQ(marketEntry.changes(before), (std::vector<std::string>{"risk \u2014", "market entry"}));
  EXPECT_EQ(before.changes(marketEntry),
            (std::vector<std::string>{"risk $50.00", "entry on a 1% pullback"}));
}

}  // namespace
}  // namespace orwenna
