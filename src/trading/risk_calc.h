// Sizing a perpetual trade from the money the user is willing to lose, and the
// checks that decide whether a trade can be placed as asked.
//
// Pure computation on Decimal; nothing here fails with an error: a rejected
// trade is a value (`Evaluation::problem`). Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "trading/market.h"
#include "trading/trade_intent.h"

namespace orwenna {

struct Sizing {
  Decimal size;  // coin units, rounded down to the market's szDecimals
  Decimal entry;
  Decimal notional;
  Decimal margin;
  Decimal stopPrice;
  std::optional<Decimal> takePrice;
  Decimal liquidationPrice;  // isolated-margin estimate
  Decimal feesUSD;           // taker fees of entry and exit at the stop
  Decimal lossAtStopUSD;     // fees included
  std::optional<Decimal> profitAtTakeUSD;  // fees deducted; present with takePrice

  friend bool operator==(const Sizing&, const Sizing&) = default;
};

struct Evaluation {
  std::vector<std::string> missing;    // "risk in $", "stop in %"
  std::optional<std::string> problem;  // the first failing check
  std::optional<Sizing> sizing;

  bool canPlace() const { return missing.empty() && !problem && sizing.has_value(); }
};

namespace RiskCalc {

// Hyperliquid's taker fee rate (0.00045), charged on entry and on exit.
const Decimal& takerFee();
// Hyperliquid's minimum order value in USDC (10).
const Decimal& minNotional();

// REQUIRES: stopPct in (0, 100), leverage >= 1, market.maxLeverage >= 1 and
// a positive entry (entryPx, else market.markPx). `evaluate` checks all of it.
[[nodiscard]] Sizing size(const Decimal& riskUSD, const Decimal& stopPct, const std::optional<Decimal>& takePct,
                          const Decimal& leverage, Side side, const Market& market,
                          const std::optional<Decimal>& entryPx);

// Validates the intent against the market (nullptr when not loaded) and sizes it.
[[nodiscard]] Evaluation evaluate(const TradeIntent& intent, const Market* market);

}  // namespace RiskCalc

// How numbers appear in the risk texts: prices with about four significant
// digits for small ones, plain numbers (percentages, multiples) with at most
// two decimals.
std::string priceText(const Decimal& price);
std::string plainText(const Decimal& value);

// +1 for a long, -1 for a short.
int sideSign(Side side);

}  // namespace orwenna
