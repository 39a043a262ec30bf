// A trade on a perpetual market as the user described it: the market, the side,
// and whatever was fixed about risk, stop, take, leverage, amount and entry.
//
// The same value is what the risk rules size, what the canvas shows as the plan,
// and what is written back into the command language. Plain value type;
// thread-safe as a value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"

namespace orwenna {

enum class Side { long_, short_ };

// "long" / "short".
std::string_view sideName(Side side);
// Reads "long" / "short" (exact, lower case); nothing otherwise.
[[nodiscard]] std::optional<Side> parseSide(std::string_view text);

struct TradeIntent {
  std::string asset;  // market name as the exchange writes it; empty = not given yet
  Side side = Side::long_;
  std::optional<Decimal> riskUSD;      // dollars lost if the stop is hit
  std::optional<Decimal> stopPct;      // stop distance from entry, percent
  std::optional<Decimal> takePct;      // take-profit distance, percent
  std::optional<Decimal> leverage;     // multiple
  std::optional<Decimal> amountUSDC;   // margin put in
  std::optional<Decimal> takeR;        // take-profit as a multiple of the risk
  std::optional<bool> autoRules;       // "by the book"
  std::optional<Decimal> entryPx;      // limit entry price
  std::optional<Decimal> pullbackPct;  // limit entry this far from the current price
  std::optional<bool> partialTake;     // take profit in parts
  std::optional<Decimal> trailingPct;  // trailing stop distance, percent

  friend bool operator==(const TradeIntent&, const TradeIntent&) = default;

  // The JSON object: "asset" and "side" always, every other key only when set.
  // Decimals are JSON numbers, flags JSON booleans.
  Json toJson() const;
  // Reads the JSON object; throws JsonShapeError (or NumberFormatError) naming
  // the field that is wrong. Missing optional keys are absent fields.
  [[nodiscard]] static TradeIntent fromJson(const Json& json);

  // The intent as one line of the command language, e.g.
  // "long BTC risk $50 stop 2% take 3R leverage 5x".
  std::string command() const;

  // One short item per field that differs from `older`, in a fixed order
  // ("market ETH", "stop 1.5%", "take —", …) for the chat to show.
  std::vector<std::string> changes(const TradeIntent& older) const;
};

// A Decimal as a JSON number: an integer when it is whole and fits, otherwise
// the shortest double that reads back as the same text.
Json decimalJsonNumber(const Decimal& value);

}  // namespace orwenna
