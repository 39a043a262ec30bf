// The market lookup: which market a user's word names, the market's own
// numbers, and the long and short sized by the rules — checked against the
// sizing computed independently from the inputs the rules should have used.
#include "app/market_lookup.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "trading/fmt.h"
#include "trading/risk_calc.h"

namespace orwenna {
namespace {

Market market(std::string name, const char* mark, int szDecimals, int maxLeverage,
              std::optional<std::string> dex = std::nullopt) {
  Market m;
  m.name = std::move(name);
  m.markPx = Decimal::parse(mark);
  m.szDecimals = szDecimals;
  m.maxLeverage = maxLeverage;
  m.dex = std::move(dex);
  return m;
}

MarketTable table() {
  Market btc = market("BTC", "100000", 5, 40);
  btc.prevDayPx = Decimal(98000);
  btc.funding = Decimal::parse("0.0000125");
  btc.atrPct = Decimal(1);
  btc.volume24h = Decimal::parse("1234567890.4");
  Market eth = market("ETH", "2500", 4, 25);
  eth.funding = Decimal::parse("-0.00002");
  std::map<std::string, Market> markets{
      {"BTC", btc},
      {"ETH", eth},
      {"kPEPE", market("kPEPE", "0.012", 0, 10)},
      {"xyz:TSLA", market("xyz:TSLA", "250", 3, 10, "xyz")},
      {"xyz:GOLD", market("xyz:GOLD", "2400", 4, 20, "xyz")},
      {"flx:GOLD", market("flx:GOLD", "2401", 4, 20, "flx")},
      {"RISKY", market("RISKY", "10", 1, 3)},
  };
  MarketTable t;
  t.merge(markets);
  return t;
}

std::string section(const std::string& text, Side side) {
  const std::string head = "By the book, " + std::string(sideName(side)) + " (";
  auto start = text.find(head);
  if (start == std::string::npos) return "";
  auto end = text.find("By the book, ", start + head.size());
  return text.substr(start, end == std::string::npos ? end : end - start);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(MarketLookupTest, FindsTheMarketAUserMeans) {
  const MarketTable markets = table();
  const std::vector<std::pair<std::string, std::string>> cases{
      {"BTC", "BTC"},           {"btc", "BTC"},         {"$BTC", "BTC"},         {" BTC-PERP ", "BTC"},
      {"btc/usd", "BTC"},       {"BTCUSDT", "BTC"},     {"btc-usd-perp", "BTC"}, {"bitcoin", "BTC"},
      {"xyz:tsla", "xyz:TSLA"}, {"TSLA", "xyz:TSLA"},   {"pepe", "kPEPE"},       {"KPEPE", "kPEPE"},
      {"GOLD", ""},  // two dexes list it
      {"xyz:BTC", ""},          {"DOGE", ""},           {"USDT", ""},            {"$", ""},
  };
  for (const auto& [asset, name] : cases) {
    const Market* m = Agent::findMarket(asset, markets);
    EXPECT_EQ(m ? m->name : "", name) << asset;
  }
}

TEST(MarketLookupTest, FixedAnswersBeforeAnyMarketIsRead) {
  const MarketTable markets = table();
  const MarketTable none;
  Agent::MarketLookupInputs in;
  EXPECT_EQ(Agent::marketLookup("BTC", in), "Markets aren't loaded yet.");
  in.markets = &none;
  EXPECT_EQ(Agent::marketLookup("BTC", in), "Markets aren't loaded yet.");
  in.markets = &markets;
  EXPECT_EQ(Agent::marketLookup("  0xdeadbeef token ", in),
            "No Hyperliquid market for «0xdeadbeef token». For a token by its contract or name use the token "
            "lookup.");
  EXPECT_EQ(Agent::marketLookup("DOGE", in),
            "No Hyperliquid market for «DOGE». For a token by its contract or name use the token lookup.");
  EXPECT_TRUE(has(Agent::marketLookup("  ", in), "Which market?"));
  EXPECT_EQ(Agent::marketLookup("gold", in),
            "«gold» is listed on several Hyperliquid dexes: flx:GOLD, xyz:GOLD. Ask for one of them.");
}

TEST(MarketLookupTest, MarketNumbersAndBothSidesSizedByTheRules) {
  const MarketTable markets = table();
  const Market& btc = *markets.find("BTC");
  struct Case {
    std::string name;
    std::function<std::optional<Decimal>(const std::string&)> atr;
    std::optional<Decimal> equity;
    std::optional<Decimal> stopPct;   // what the rules should pick; nothing: can't be sized
    std::string volatility;
    std::string missing;              // the long's "Missing" line when not sized
  };
  auto fresh = [](const std::string& coin) -> std::optional<Decimal> {
    if (coin != "BTC") throw std::runtime_error("asked for " + coin);
    return Decimal(2);
  };
  auto failing = [](const std::string&) -> std::optional<Decimal> { throw std::runtime_error("HTTP 500"); };
  const std::vector<Case> cases{
      {"a fresh ATR wins", fresh, Decimal(1000), Decimal(3), "the average 4-hour range (ATR) is 2% of the price", ""},
      {"a failing read falls back to the market's ATR", failing, Decimal(1000), Decimal::parse("1.5"),
       "(ATR) is 1% of the price", ""},
      {"no reader: the market's ATR", nullptr, Decimal(5000), Decimal::parse("1.5"), "(ATR) is 1% of the price", ""},
      {"no capital: no risk", fresh, std::nullopt, std::nullopt, "(ATR) is 2%",
       "✗ Missing: risk in $ (capital unknown)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Agent::MarketLookupInputs in;
    in.markets = &markets;
    in.equity = c.equity;
    in.openRisk = Decimal(0);
    in.atrPct = c.atr;
    const std::string text = Agent::marketLookup("$btc", in);
    EXPECT_TRUE(text.starts_with("BTC on Hyperliquid (Crypto), leverage up to 40×.\n"
                                 "Price $100,000 · 24h +2.04% (from $98,000) · 24h volume $1,234,567,890.\n"
                                 "Funding: +0.00125% an hour (≈ +10.95% a year): longs pay shorts.\n"))
        << text;
    EXPECT_TRUE(has(text, c.volatility)) << text;

    for (Side side : {Side::long_, Side::short_}) {
      const std::string part = section(text, side);
      ASSERT_FALSE(part.empty()) << text;
      if (!c.stopPct) {
        EXPECT_TRUE(part.starts_with("By the book, " + std::string(sideName(side)) + " (can't be sized):\n  " +
                                     c.missing))
            << part;
        continue;
      }
      // The rules: risk 1% of capital, stop 1.5 ATR, take 2R, leverage 5×.
      const Decimal risk = (*c.equity / Decimal(100)).rounded(2, RoundingMode::down);
      const Sizing s = RiskCalc::size(risk, *c.stopPct, *c.stopPct * Decimal(2), Decimal(5), side, btc, std::nullopt);
      const bool isLong = side == Side::long_;
      const std::string minus = "\u2212";
      EXPECT_TRUE(has(part, "Entry $100,000 at market · size " + s.size.toString() + " BTC (" + Fmt::usd(s.notional) +
                                ")"))
          << part;
      EXPECT_TRUE(has(part, "Stop $" + priceText(s.stopPrice) + " (" + (isLong ? minus : "+") +
                                plainText(*c.stopPct) + "%) · take $" + priceText(*s.takePrice) + " (" +
                                (isLong ? "+" : minus) + plainText(*c.stopPct * Decimal(2)) + "%)"))
          << part;
      EXPECT_TRUE(has(part, "Leverage 5× · margin " + Fmt::usd(s.margin) + " · liquidation ≈ $" +
                                Fmt::sig(s.liquidationPrice, 6)))
          << part;
      EXPECT_TRUE(has(part, "At the stop " + minus + Fmt::usd(s.lossAtStopUSD) + " · at the take +" +
                                Fmt::usd(*s.profitAtTakeUSD)))
          << part;
      EXPECT_TRUE(has(part, "✓ Risk 1% of capital, within 2%.")) << part;
      EXPECT_TRUE(has(part, "· Stop by volatility: 1.5 × 4h ATR")) << part;
      // Funding is cheap and the day's move small: nothing to warn about.
      EXPECT_TRUE(part.starts_with("By the book, " + std::string(sideName(side)) + " (ready):\n")) << part;
    }
  }
}

TEST(MarketLookupTest, ABlockedSideSaysWhy) {
  const MarketTable markets = table();
  struct Case {
    std::string name;
    std::string asset;
    std::optional<Decimal> openRisk;
    std::optional<Decimal> atr;
    std::string longLine, shortLine, state;
  };
  const std::vector<Case> cases{
      {"open risk over the limit", "BTC", Decimal(55), std::nullopt, "✗ With open positions, −$",
       "✗ With open positions, −$", "blocked"},
      {"a stop beyond liquidation", "RISKY", Decimal(0), Decimal(20), "✗ Liquidation (8) comes before the stop.",
       "✗ Liquidation (11.428571) comes before the stop.", "blocked"},
      {"an open position without a stop", "BTC", std::nullopt, std::nullopt,
       "⚠ An open position has no stop: total risk is unlimited.",
       "⚠ An open position has no stop: total risk is unlimited.", "with warnings"},
      {"no volatility reading", "ETH", Decimal(0), std::nullopt, "✗ Missing: stop in % (no volatility reading",
       "✗ Missing: stop in % (no volatility reading", "can't be sized"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Agent::MarketLookupInputs in;
    in.markets = &markets;
    in.equity = Decimal(1000);
    in.openRisk = c.openRisk;
    in.atrPct = [&](const std::string&) { return c.atr; };
    const std::string text = Agent::marketLookup(c.asset, in);
    const std::string longPart = section(text, Side::long_);
    const std::string shortPart = section(text, Side::short_);
    EXPECT_TRUE(longPart.starts_with("By the book, long (" + c.state + "):")) << text;
    EXPECT_TRUE(shortPart.starts_with("By the book, short (" + c.state + "):")) << text;
    EXPECT_TRUE(has(longPart, c.longLine)) << longPart;
    EXPECT_TRUE(has(shortPart, c.shortLine)) << shortPart;
  }
}

TEST(MarketLookupTest, HandlerReadsTheInputsOfEachCall) {
  MarketTable markets;
  Agent::Lookups lookups({{"market", Agent::marketLookupHandler([&] {
                             Agent::MarketLookupInputs in;
                             in.markets = &markets;
                             return in;
                           })}});
  EXPECT_EQ(lookups.run("market", "ETH"), "Markets aren't loaded yet.");
  markets = table();
  EXPECT_TRUE(has(lookups.run("MARKET", "eth"), "Funding: \u22120.002% an hour (≈ \u221217.52% a year): shorts pay longs."));
}

}  // namespace
}  // namespace orwenna
