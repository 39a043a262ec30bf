// Reads a trade (or a change to the plan on the canvas) from one line of
// English or Russian text, and finds the exchange market a word names.
//
// Stateless apart from constant tables; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trading/trade_intent.h"

namespace orwenna {

// Market names as the exchange writes them ("BTC", "kPEPE", "xyz:TSLA"); may be
// empty when nothing is loaded yet.
using MarketNames = std::vector<std::string>;

namespace IntentParser {

// `current` with the changes the text makes, or a new intent when there is no
// plan; nothing when the text is not a trade message or says nothing readable.
// A whole trade without an asset (and no plan) comes back with an empty asset.
[[nodiscard]] std::optional<TradeIntent> parse(std::string_view text, const MarketNames& markets,
                                               const std::optional<TradeIntent>& current);

// The market a word means, compared without regard to case, in the market's own
// spelling. With no markets loaded only BTC, ETH and SOL are known.
[[nodiscard]] std::optional<std::string> market(std::string_view word, const MarketNames& markets);

// The market a text names, by the asset rules of a trade message: a cashtag,
// the alias words (oil, gold, эфир, …), then each word (ordinary-word tickers
// only in capitals).
[[nodiscard]] std::optional<std::string> asset(std::string_view text, const MarketNames& markets);

// Whether the text asks to close, exit or flatten a long or a short ("close the
// short", «закрой шорт»): the position word then names what to close, never the
// side of a plan.
[[nodiscard]] bool closesPosition(std::string_view text);

// A decimal number as the command language writes it: digits with an optional
// "." or "," fraction. Nothing for anything else.
[[nodiscard]] std::optional<Decimal> number(std::string_view text);

}  // namespace IntentParser
}  // namespace orwenna
