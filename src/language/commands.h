// The smaller commands of the command language: orders on an open position,
// the address book, watched tokens, the agent's memory, charts, folders,
// profit and loss, price alerts — and the line forms that put a command under a
// schedule, a price condition or a background check.
//
// Each type has `parse` (nothing when the line is not that command), `line()`
// writing its English form back so that parse(line(x)) == x, and `toJson()`
// naming its type, case and fields. Pure functions; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"
#include "language/command_case.h"
#include "language/intent_parser.h"
#include "language/wallet_command.h"
#include "trading/market.h"

namespace orwenna {

// An order on an open position (the coin is given separately).
struct PositionCommand {
  struct close { Decimal fraction{1}; ORW_CASE(close, f("fraction", fraction)) };  // 1 = all
  struct stopTo { Decimal price; ORW_CASE(stopTo, f("price", price)) };
  struct takeTo { Decimal price; ORW_CASE(takeTo, f("price", price)) };
  struct trail { Decimal percent; ORW_CASE(trail, f("percent", percent)) };
  struct stopToBreakeven { ORW_CASE(stopToBreakeven, ) };
  struct cancelOrders { ORW_CASE(cancelOrders, ) };  // resting limit entries only
  std::variant<close, stopTo, takeTo, trail, stopToBreakeven, cancelOrders> value;
  friend bool operator==(const PositionCommand&, const PositionCommand&) = default;

  [[nodiscard]] static std::optional<PositionCommand> parse(std::string_view text);
  std::string line() const;
  std::string_view caseName() const;
  Json toJson() const;
};

struct AddressBookCommand {
  struct save { std::string address; std::string name; OptText network; ORW_CASE(save, f("address", address); f("name", name); f("network", network)) };
  struct favorite { std::string name; bool on = true; ORW_CASE(favorite, f("name", name); f("on", on)) };
  std::variant<save, favorite> value;
  friend bool operator==(const AddressBookCommand&, const AddressBookCommand&) = default;

  [[nodiscard]] static std::optional<AddressBookCommand> parse(std::string_view text);
  std::string line() const;
  std::string_view caseName() const;
  Json toJson() const;
};

struct TokenCommand {
  struct favorite { std::string address; OptText chain; ORW_CASE(favorite, f("address", address); f("chain", chain)) };
  struct unfavorite { std::string symbol; ORW_CASE(unfavorite, f("symbol", symbol)) };
  struct show { std::string address; OptText chain; ORW_CASE(show, f("address", address); f("chain", chain)) };
  std::variant<favorite, unfavorite, show> value;
  friend bool operator==(const TokenCommand&, const TokenCommand&) = default;

  [[nodiscard]] static std::optional<TokenCommand> parse(std::string_view text);
  std::string line() const;
  std::string_view caseName() const;
  Json toJson() const;
};

struct MemoryCommand {
  struct remember { std::string text; ORW_CASE(remember, f("text", text)) };
  struct forget { std::string text; ORW_CASE(forget, f("text", text)) };  // "all" forgets everything
  struct list { ORW_CASE(list, ) };
  std::variant<remember, forget, list> value;
  friend bool operator==(const MemoryCommand&, const MemoryCommand&) = default;

  [[nodiscard]] static std::optional<MemoryCommand> parse(std::string_view text);
  std::string line() const;
  std::string_view caseName() const;
  Json toJson() const;
};

struct ChartCommand {
  struct chart { std::string coin; ChartRange range = ChartRange::day; ORW_CASE(chart, f("coin", coin); f("range", std::string(chartRangeName(range)))) };
  struct movers { ORW_CASE(movers, ) };
  std::variant<chart, movers> value;
  friend bool operator==(const ChartCommand&, const ChartCommand&) = default;

  [[nodiscard]] static std::optional<ChartCommand> parse(std::string_view text, const MarketNames& markets);
  std::string line() const;
  std::string_view caseName() const;
  Json toJson() const;
};

struct FolderCommand {
  struct save { std::string folder; ORW_CASE(save, f("folder", folder)) };
  struct note { std::string folder; std::string text; ORW_CASE(note, f("folder", folder); f("text", text)) };
  std::variant<save, note> value;
  friend bool operator==(const FolderCommand&, const FolderCommand&) = default;

  [[nodiscard]] static std::optional<FolderCommand> parse(std::string_view text);
  std::string line() const;
  std::string_view caseName() const;
  Json toJson() const;
};

enum class PnLPeriod { day, week, month, all };
std::string_view pnlPeriodName(PnLPeriod period);

struct PnLCommand {
  PnLPeriod period = PnLPeriod::all;
  OptText coin;
  friend bool operator==(const PnLCommand&, const PnLCommand&) = default;

  [[nodiscard]] static std::optional<PnLCommand> parse(std::string_view text);
  std::string line() const;
  Json toJson() const;
};

struct AlertCommand {
  // `above` absent means "at": the side is picked from the price when set.
  struct set { std::string coin; Decimal price; std::optional<bool> above; std::vector<std::string> steps; ORW_CASE(set, f("coin", coin); f("price", price); f("above", above); f("steps", steps)) };
  struct clear { ORW_CASE(clear, ) };
  std::variant<set, clear> value;
  friend bool operator==(const AlertCommand&, const AlertCommand&) = default;

  [[nodiscard]] static std::optional<AlertCommand> parse(std::string_view text, const MarketNames& markets);
  std::string line() const;
  std::string_view caseName() const;
  Json toJson() const;
};

// Line forms that wrap other commands; their storage and running live elsewhere.
namespace CommandLines {

// "every day at 9:00: buy SOL for 10 USDC" → {"every day at 9:00", "buy SOL for 10 USDC"}.
struct Scheduled {
  std::string when;
  std::string command;
  friend bool operator==(const Scheduled&, const Scheduled&) = default;
};
[[nodiscard]] std::optional<Scheduled> scheduled(std::string_view text);

// "check: …" → the text after the colon (the background check).
[[nodiscard]] std::optional<std::string> check(std::string_view text);

// "cancel scheduled tasks" and its variants.
[[nodiscard]] bool cancelsScheduledTasks(std::string_view text);

// Steps of one line joined by " then " (any case, white space around).
std::vector<std::string> steps(std::string_view text);

}  // namespace CommandLines

}  // namespace orwenna
