// Profit and loss from Hyperliquid's own records: fills grouped into round
// trips (stories), and the report of a period — realised result after fees,
// funding, open positions, closed trades per asset, and the portfolio's change
// net of the money moved in or out — with its chat text. PortfolioHistory
// keeps the hourly portfolio values and the logged flows in a file so they
// survive a restart.
//
// The records and the report are plain values and the functions pure;
// PortfolioHistory serialises its own reads and writes (thread-safe).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"

namespace orwenna {

namespace TradeHistory {

struct Fill {
  std::string coin;
  Decimal px;
  Decimal sz;
  std::string side;  // "B" buys, "A" sells
  std::int64_t time = 0;  // ms since 1970
  Decimal startPosition;  // signed, before the fill
  std::string dir;
  Decimal closedPnl;  // before fees
  Decimal fee;
  std::optional<std::string> hash;
  std::optional<std::int64_t> tid;

  bool isBuy() const { return side == "B"; }
};

// One round trip of one coin, oldest fill first. A fill that carries the
// position through zero ends one story with its whole result and fee, and
// starts the next with the remainder at no result, so nothing counts twice.
struct Story {
  std::string coin;
  bool long_ = true;
  std::vector<Fill> fills;
  bool closed = false;  // the position came back to zero (or flipped)

  Decimal result() const;  // Σ closedPnl − fee
};

struct Transfer {
  std::int64_t time = 0;
  std::string text;
  Decimal amount;  // positive into the account
  bool external = true;  // money that entered or left the account (not a move between its balances)
};

struct Funding {
  std::int64_t time = 0;
  std::string coin;
  Decimal usdc;
};

// Spot pairs ("@7", "PURR/USDC") show up among the fills too.
[[nodiscard]] bool isSpotCoin(std::string_view coin);
// Per coin in time order; a window starting inside a position gets an
// "Open Long"/"Open Short" entry built from the first fill's startPosition.
std::vector<Story> stories(std::vector<Fill> fills);

}  // namespace TradeHistory

namespace PnL {

enum class Period { day, week, month, all };
// "24 h", "7 days", "30 days", "all time".
std::string_view label(Period period);
[[nodiscard]] std::optional<Period> periodFromName(std::string_view name);  // "day", "week", "month", "all"
std::optional<std::int64_t> periodStart(Period period, std::int64_t nowMs);

struct Flow {
  std::int64_t at = 0;
  Decimal usd;  // signed: positive into the wallets
  std::string note;
  std::string wallet;
};

struct AssetLine {
  std::string coin;
  Decimal realized;
  int closedTrades = 0;
};

struct TradeLine {
  std::string coin;
  bool long_ = true;
  std::int64_t closed = 0;
  Decimal realized;
};

// A recorded portfolio value.
struct Value {
  std::int64_t at = 0;
  Decimal usd;
};

struct Report {
  Period period = Period::day;
  std::optional<std::string> coin;
  Decimal realized;
  Decimal funding;
  Decimal unrealized;
  std::optional<Decimal> change;  // the value's change, flows taken out
  std::optional<std::int64_t> changeSince;
  Decimal flows;  // since changeSince when there is one, else since the period's start
  std::vector<AssetLine> byAsset;
  int closedTrades = 0;
  int wins = 0;
  std::optional<TradeLine> best;
  std::optional<TradeLine> worst;
  std::optional<std::int64_t> historyFrom;  // set when the fills available begin later than the period
};

struct Position {
  std::string coin;
  Decimal unrealized;
};

struct Inputs {
  std::vector<TradeHistory::Fill> fills;  // perp only
  std::vector<TradeHistory::Funding> funding;
  std::vector<Flow> flows;
  std::vector<Position> positions;
  std::vector<Value> values;  // recorded, any order
  std::optional<Decimal> valueNow;
  bool historyCut = false;  // the exchange gave only the most recent fills
};

Report report(Period period, const std::optional<std::string>& coin, const Inputs& in, std::int64_t nowMs);
// One to four lines; `date` writes a time (ms) as a date, the local date by
// default.
std::vector<std::string> text(const Report& report, const std::function<std::string(std::int64_t)>& date = {});
Json toJson(const Report& report);
std::string localDate(std::int64_t ms);

}  // namespace PnL

// portfolio-history.json: hourly values (at most a year of them) and the flows
// (the newest 5,000). A file that does not decode reads as empty.
class PortfolioHistory {
 public:
  explicit PortfolioHistory(std::filesystem::path file) : file_(std::move(file)) {}

  std::vector<PnL::Value> values() const;
  std::vector<PnL::Flow> flows() const;
  // Kept only when the last value is an hour old or more. Throws FileError.
  void recordValue(const PnL::Value& value);
  void addFlow(const PnL::Flow& flow);

 private:
  Json load() const;
  void store(const Json& j) const;

  std::filesystem::path file_;
  mutable std::mutex mutex_;
};

}  // namespace orwenna
