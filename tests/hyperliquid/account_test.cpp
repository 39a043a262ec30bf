// The account reads against a local info endpoint answering in Hyperliquid's
// own shapes: request bodies and time-out, optional fields, nested children,
// and strict numbers.
#include "hyperliquid/account.h"

#include <gtest/gtest.h>

#include "hyperliquid/info_fake.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace HA = HyperliquidAccount;

constexpr const char* kUser = "0x9858effd232b4033e47d90003d41ec34ecaeda94";

TEST(HyperliquidAccount, PositionsAndOrdersInTheExchangesShapes) {
  testing::FakeInfo d;
  d.answer("clearinghouseState/xyz", R"({"marginSummary":{"accountValue":"1000.5"},"withdrawable":"900",
    "assetPositions":[
      {"type":"oneWay","position":{"coin":"ETH","szi":"-0.5","entryPx":"2000.5","unrealizedPnl":"-12.25",
       "liquidationPx":"2400.1","leverage":{"type":"isolated","value":5}}},
      {"type":"oneWay","position":{"coin":"BTC","szi":"0.01","unrealizedPnl":"3","liquidationPx":null}}]})");
  auto positions = HA::positions(d.api(), kUser, "xyz");
  EXPECT_EQ(d.lastBody().dump(), R"({"type":"clearinghouseState","user":")" + std::string(kUser) + R"(","dex":"xyz"})");
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(positions[0].size, Decimal::parse("-0.5"));
  EXPECT_EQ(positions[0].entry, Decimal::parse("2000.5"));
  EXPECT_EQ(positions[0].unrealizedPnl, Decimal::parse("-12.25"));
  EXPECT_EQ(positions[0].liquidation, Decimal::parse("2400.1"));
  EXPECT_FALSE(positions[1].liquidation.has_value());

  d.answer("frontendOpenOrders", R"([{"coin":"ETH","side":"B","limitPx":"1850.1","sz":"0.5","oid":91,
    "isTrigger":false,"triggerPx":"0.0","reduceOnly":false,"orderType":"Limit","children":[
      {"coin":"ETH","side":"A","limitPx":"1620","sz":"0.5","oid":92,"isTrigger":true,"triggerPx":"1800",
       "reduceOnly":true,"orderType":"Stop Market","children":[]}]},
    {"coin":"BTC","side":"A","limitPx":"66000","sz":"0.01","oid":93,"isTrigger":true,"triggerPx":"60000",
     "reduceOnly":true,"orderType":"Take Profit Market","children":[]}])");
  auto orders = HA::openOrders(d.api(), kUser);
  EXPECT_EQ(d.lastBody().dump(), R"({"type":"frontendOpenOrders","user":")" + std::string(kUser) + R"("})");
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_TRUE(orders[0].isBuy());
  ASSERT_EQ(orders[0].children.size(), 1u);
  EXPECT_TRUE(orders[0].children[0].isStop());
  EXPECT_EQ(orders[0].children[0].triggerPx, Decimal::parse("1800"));
  EXPECT_TRUE(orders[1].isTake());
  EXPECT_FALSE(orders[1].isStop());
  EXPECT_EQ(orders[1].size, Decimal::parse("0.01"));

  // Execution waits on these between orders: 20 seconds, not the market reads' 15.
  for (auto t : d.http.timeouts) EXPECT_EQ(t, std::chrono::milliseconds(20000));

  d.answer("clearinghouseState", R"({"assetPositions":[{"position":{"coin":"ETH","szi":"1e3","unrealizedPnl":"0"}}]})");
  EXPECT_EQ(testing::errorOf([&] { HA::positions(d.api(), kUser); }), "Unexpected number format: 1e3");
  d.answer("frontendOpenOrders", R"({"oops":true})");
  EXPECT_EQ(testing::errorOf([&] { HA::openOrders(d.api(), kUser); }),
            "Hyperliquid's answer to frontendOpenOrders has an unexpected shape: the answer is not a list.");
}

TEST(HyperliquidAccount, FillsVaultsSpotAndMids) {
  testing::FakeInfo d;
  d.answer("userFills", R"([{"coin":"ETH","px":"2001.3","sz":"0.5","side":"B","time":1733000000123,
    "dir":"Open Long","closedPnl":"0.0","oid":1}])");
  auto fills = HA::fills(d.api(), kUser);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].px, "2001.3");
  EXPECT_EQ(fills[0].dir, "Open Long");
  EXPECT_EQ(fills[0].time, 1733000000123.0);

  d.answer("userVaultEquities", R"([{"vaultAddress":"0xdfc24b077bc1425ad1dea75bcb6f8158e10df303",
    "equity":"250.123456","lockedUntilTimestamp":1733500000000},{"vaultAddress":"0x01","equity":"1"}])");
  auto vaults = HA::vaultEquities(d.api(), kUser);
  ASSERT_EQ(vaults.size(), 2u);
  EXPECT_EQ(vaults[0].equity, "250.123456");
  EXPECT_EQ(vaults[0].lockedUntilTimestamp, 1733500000000.0);
  EXPECT_FALSE(vaults[1].lockedUntilTimestamp.has_value());

  const std::string meta = R"({"tokens":[{"name":"USDC","szDecimals":8,"weiDecimals":8,"index":0,
    "tokenId":"0x6d1e7cde53ba9467b783cb7c530ce054"},{"name":"PURR","szDecimals":0,"weiDecimals":5,"index":1}],
    "universe":[{"name":"PURR/USDC","tokens":[1,0],"index":0}]})";
  d.answer("spotMeta", meta);
  d.answer("spotMetaAndAssetCtxs", "[" + meta + R"(,[{"coin":"PURR/USDC","midPx":"0.2","markPx":"0.2001"}]])");
  HA::SpotMeta spot = HA::spotMeta(d.api());
  ASSERT_EQ(spot.universe.size(), 1u);
  EXPECT_EQ(spot.token(spot.universe[0].tokens[0])->name, "PURR");
  auto markets = HA::spotMarkets(d.api());
  ASSERT_EQ(markets.size(), 1u);
  EXPECT_EQ(markets[0].midPx, Decimal::parse("0.2"));

  d.answer("spotClearinghouseState", R"({"balances":[{"coin":"USDC","token":0,"total":"12.5","hold":"2"},
    {"coin":"PURR","token":1,"total":"100","hold":"0.0"}]})");
  auto balances = HA::spotBalances(d.api(), kUser);
  ASSERT_EQ(balances.size(), 2u);
  EXPECT_EQ(balances[0].hold, Decimal(2));

  d.answer("allMids", R"({"BTC":"60000.5","@107":"0.123"})");
  auto mids = HA::mids(d.api());
  EXPECT_EQ(d.lastBody().dump(), R"({"type":"allMids"})");
  EXPECT_EQ(mids.at("BTC"), Decimal::parse("60000.5"));
  EXPECT_EQ(mids.at("@107"), Decimal::parse("0.123"));
}

}  // namespace
}  // namespace orwenna
