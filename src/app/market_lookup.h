// The agent's `market <ASSET>` lookup: one Hyperliquid market as the model
// reads it (price, the day's move, funding, volatility) and a long and a
// short sized by the automatic rules, each with the rule checks.
//
// Pure apart from the injected ATR reader, which may go to the network; the
// function itself holds no state. Thread-safe as long as the table is not
// written meanwhile and the ATR reader is thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/agent.h"
#include "base/decimal.h"
#include "trading/market.h"
#include "trading/risk_policy.h"

namespace orwenna::Agent {

// A fresh 4-hour ATR in percent for a coin (the market's name); nothing, or an
// exception, when it can't be read.
using AtrReader = std::function<std::optional<Decimal>(const std::string& coin)>;

struct MarketLookupInputs {
  const MarketTable* markets = nullptr;  // nullptr or empty: not loaded yet
  RiskPolicy policy;
  std::optional<Decimal> equity;    // the capital the rules measure; absent when unknown
  // The summed loss at the stops of the open positions: 0 when nothing is
  // open, absent when an open position has no stop.
  std::optional<Decimal> openRisk;
  AtrReader atrPct;                 // may be empty: the market's own ATR is used
};

// The market a user's word names: case-insensitive; "$BTC", "BTC-PERP",
// "btc/usd", "BTCUSDT" read as BTC; "xyz:TSLA" or a bare "TSLA" for a
// builder-dex market (a bare coin only when one dex lists it); "PEPE" finds
// "kPEPE". Nothing when no market fits.
[[nodiscard]] const Market* findMarket(std::string_view asset, const MarketTable& markets);

// The lookup's text. Never throws for a user's input: the unknown-market and
// not-loaded sentences are answers.
std::string marketLookup(std::string_view arg, const MarketLookupInputs& inputs);

// The handler for `Lookups`, reading its inputs anew on every call (the app's
// table and balances change between turns).
LookupHandler marketLookupHandler(std::function<MarketLookupInputs()> inputs);

}  // namespace orwenna::Agent
