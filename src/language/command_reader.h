// Reads one step of a command line with every parser of the command language.
// The forms that wrap or cancel other commands come first (schedule prefix,
// price alert, "cancel scheduled tasks", "check:"), then wallet, token,
// position, folder, chart, address book, profit and loss, memory, and last the
// trade plan (a whole trade or a change to `plan`).
// Used by the command-line tools and the benchmark; stateless and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/json.h"
#include "language/commands.h"
#include "language/intent_parser.h"
#include "trading/trade_intent.h"
#include "language/wallet_command.h"

namespace orwenna {

struct CancelScheduledTasks {
  friend bool operator==(const CancelScheduledTasks&, const CancelScheduledTasks&) = default;
};
struct CheckLine {
  std::string text;
  friend bool operator==(const CheckLine&, const CheckLine&) = default;
};
// "new canvas", "clear the plan", "lock", "create an automation wallet".
struct AppWord {
  std::string word;
  friend bool operator==(const AppWord&, const AppWord&) = default;
};

using AnyCommand =
    std::variant<AppWord, WalletCommand, TokenCommand, PositionCommand, FolderCommand, ChartCommand, AlertCommand,
                 AddressBookCommand, PnLCommand, CommandLines::Scheduled, CancelScheduledTasks, MemoryCommand,
                 CheckLine, TradeIntent>;

namespace CommandReader {

[[nodiscard]] std::optional<AnyCommand> read(std::string_view step, const MarketNames& markets,
                                             const std::optional<TradeIntent>& plan);

// {"type": …, "case": …, fields…}; a trade intent as its own JSON form.
Json toJson(const AnyCommand& command);
// The type name ("WalletCommand", "TradeIntent", "Scheduled", …).
std::string_view typeName(const AnyCommand& command);
// The command written back as a line of the command language.
std::string line(const AnyCommand& command);

}  // namespace CommandReader
}  // namespace orwenna
