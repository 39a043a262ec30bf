// One perpetual market as the system sees it, and the merged table of all of
// them (Hyperliquid's own dex plus every builder-deployed dex).
//
// Market is a plain value. MarketTable is a value too; loading it talks to the
// network through the info reads in hyperliquid_info.h. Neither is
// synchronised: share a table between threads only as const.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "base/error.h"
#include "base/json.h"

namespace orwenna {

// A market or balance read that failed: an HTTP error, an answer of the wrong
// shape, too few candles. The message is the finished sentence. (A bad number
// fails with NumberFormatError instead: "Unexpected number format: …".)
class MarketDataError : public Error {
 public:
  using Error::Error;
};

// A chart period: a day of 15-minute candles, a week of hourly ones, a month
// of 4-hour ones.
enum class ChartRange { day, week, month };
std::string_view chartRangeName(ChartRange range);

struct Market {
  enum class Group { crypto, commodities, stocks, indices };

  std::string name;  // as Hyperliquid lists it; builder-dex markets read "dex:COIN"
  Decimal markPx;
  int szDecimals = 0;
  int maxLeverage = 1;
  int index = 0;  // asset number used in orders
  std::optional<Decimal> prevDayPx;
  std::optional<Decimal> funding;  // hourly, as a fraction
  std::optional<Decimal> atrPct;   // filled in by the caller when computed
  std::optional<std::string> dex;  // absent for Hyperliquid's own markets
  Decimal volume24h;               // 0 when unknown

  // Builder-dex markets are commodities, indices & FX or stocks by their coin;
  // everything on Hyperliquid's own dex is crypto.
  [[nodiscard]] Group group() const;

  friend bool operator==(const Market&, const Market&) = default;
};

// "Crypto", "Commodities", "Stocks", "Indices & FX".
std::string_view rawValue(Market::Group group);
[[nodiscard]] std::optional<Market::Group> marketGroupFromRaw(std::string_view raw);

void to_json(Json& j, const Market& m);

// Asset numbers: the position in the universe for Hyperliquid's own dex;
// 100000 + dexIndex × 10000 + position for a builder dex.
[[nodiscard]] int assetIndex(std::optional<int> dexIndex, int position);

class MarketTable {
 public:
  MarketTable() = default;

  // A later market with the same name replaces the earlier one.
  void merge(const std::map<std::string, Market>& markets);

  [[nodiscard]] const Market* find(std::string_view name) const;
  Market* find(std::string_view name);
  const std::map<std::string, Market, std::less<>>& markets() const { return markets_; }
  std::vector<std::string> names() const;
  std::size_t size() const { return markets_.size(); }
  bool empty() const { return markets_.empty(); }

  // Builder dexes whose markets could not be read on the last load.
  const std::vector<std::string>& unreadDexes() const { return unreadDexes_; }
  void noteUnreadDex(std::string name) { unreadDexes_.push_back(std::move(name)); }

 private:
  std::map<std::string, Market, std::less<>> markets_;
  std::vector<std::string> unreadDexes_;
};

}  // namespace orwenna
