// The account history read page by page from the fake exchange (three rows a
// page, so every read crosses page edges), then the P/L of each period
// against the totals worked out by hand in tests/data/pnl_history.json.
#include "hyperliquid/history.h"

#include <gtest/gtest.h>

#include "fakes/fake_hyperliquid.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::FakeHyperliquid;

constexpr const char* kHistoryUser = "0x1111111111111111111111111111111111111111";

std::int64_t hoursAgo(const Json& row, std::int64_t now) {
  return now - static_cast<std::int64_t>(row["h"].get<double>() * 3'600'000);
}

struct History {
  Json data = testing::loadTestJson("pnl_history.json");
  std::int64_t now = data["now"].get<std::int64_t>();
  testing::FixedClock clock{now};
  FakeHyperliquid exchange{clock};
  Hyperliquid::InfoApi api{CurlHttpClient::shared(), clock, exchange.url()};

  History() {
    exchange.setPageSize(3);
    for (Json row : data["fills"]) {
      row["time"] = hoursAgo(row, now);
      row["hash"] = "0x" + std::string(64, 'a');
      row.erase("h");
      exchange.addHistory(kHistoryUser, "userFillsByTime", row);
    }
    for (const Json& f : data["funding"]) {
      exchange.addHistory(kHistoryUser, "userFunding",
                          {{"time", hoursAgo(f, now)},
                           {"hash", "0x00"},
                           {"delta", {{"type", "funding"}, {"coin", f["coin"]}, {"usdc", f["usdc"]}, {"szi", "1"},
                                      {"fundingRate", "0.0001"}}}});
    }
    for (const Json& l : data["ledger"]) {
      exchange.addHistory(kHistoryUser, "userNonFundingLedgerUpdates",
                          {{"time", hoursAgo(l, now)}, {"hash", "0x00"}, {"delta", l["delta"]}});
    }
  }
};

TEST(PnLHistory, EachPeriodMatchesTheHandWorkedTable) {
  History h;
  const auto transfers = HyperliquidHistory::transfers(h.api, kHistoryUser, 0);
  ASSERT_EQ(transfers.size(), 3u);
  EXPECT_EQ(transfers[0].text, "Deposited $1,000.00 (bridge in)");
  EXPECT_EQ(transfers[1].text, "Withdrew $200.00 out (bridge to another chain), fee $1.00");
  EXPECT_EQ(transfers[2].text, "Moved $50.00 from perps to spot");
  PnL::Inputs base;
  for (const auto& t : transfers) base.flows.push_back({t.time, t.amount, t.text, "hyperliquid"});
  for (const Json& v : h.data["values"]) base.values.push_back({hoursAgo(v, h.now), Decimal::parse(v["usd"].get<std::string>())});
  base.valueNow = Decimal::parse(h.data["valueNow"].get<std::string>());
  base.positions.push_back({"ETH", Decimal::parse("30")});

  for (const auto& [name, want] : h.data["expected"].items()) {
    SCOPED_TRACE(name);
    const PnL::Period period = *PnL::periodFromName(name);
    const std::int64_t since = PnL::periodStart(period, h.now).value_or(0);
    PnL::Inputs in = base;
    auto fills = HyperliquidHistory::fills(h.api, kHistoryUser, since);
    EXPECT_FALSE(fills.cut);
    in.fills = fills.fills;
    in.funding = HyperliquidHistory::funding(h.api, kHistoryUser, since);
    PnL::Report r = PnL::report(period, std::nullopt, in, h.now);
    auto dec = [&](const char* key) { return Decimal::parse(want[key].get<std::string>()); };
    EXPECT_EQ(r.realized, dec("realized"));
    EXPECT_EQ(r.funding, dec("funding"));
    EXPECT_EQ(r.flows, dec("flows"));
    EXPECT_EQ(r.change, dec("change"));
    EXPECT_EQ(r.unrealized, Decimal(30));
    EXPECT_EQ(r.closedTrades, want["closedTrades"].get<int>());
    EXPECT_EQ(r.wins, want["wins"].get<int>());
    ASSERT_TRUE(r.best && r.worst);
    EXPECT_EQ(r.best->realized, dec("best"));
    EXPECT_EQ(r.worst->realized, dec("worst"));
    ASSERT_EQ(r.byAsset.size(), want["byAsset"].size());
    for (const auto& line : r.byAsset) {
      const Json& w = want["byAsset"][line.coin];
      EXPECT_EQ(line.realized, Decimal::parse(w[0].get<std::string>())) << line.coin;
      EXPECT_EQ(line.closedTrades, w[1].get<int>()) << line.coin;
    }
  }
  EXPECT_GT(h.exchange.infoCount("userFillsByTime"), 4 * 2);  // several pages per period

  PnL::Inputs day = base;
  day.fills = HyperliquidHistory::fills(h.api, kHistoryUser, h.now - 86'400'000).fills;
  day.funding = HyperliquidHistory::funding(h.api, kHistoryUser, h.now - 86'400'000);
  auto lines = PnL::text(PnL::report(PnL::Period::day, std::nullopt, day, h.now),
                         [](std::int64_t ms) { return iso8601(ms).substr(0, 10); });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "P/L 24 h: trading −$157.06 (realized after fees −$155.56, funding −$1.50), 1 closed trades, 0 in "
            "profit; open positions now +$30.00.");
  EXPECT_EQ(lines[1], "Portfolio 24 h: −$150.00 since 2027-01-14, not counting −$50.00 of money moved in or out "
                      "(lending yield and price moves are inside this).");
  EXPECT_EQ(lines[2], "Worst trade: long BTC −$102.61.");
}

TEST(PnLHistory, ABadNumberOrAFailedReadFailsTheRead) {
  History h;
  h.exchange.addHistory(kHistoryUser, "userFunding",
                        {{"time", h.now}, {"delta", {{"type", "funding"}, {"coin", "ETH"}, {"usdc", "1e"}}}});
  try {
    (void)HyperliquidHistory::funding(h.api, kHistoryUser, 0);
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "Unexpected number format: 1e");
  }
  h.exchange.fail(FakeHyperliquid::Failure::infoDown);
  EXPECT_THROW((void)HyperliquidHistory::fills(h.api, kHistoryUser, 0), MarketDataError);
}

}  // namespace
}  // namespace orwenna
