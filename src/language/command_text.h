// Shared pieces of the command grammars: number and network words, amounts,
// and the regular-expression fragments every parser builds its forms from.
// Pure functions and constants; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/decimal.h"
#include "base/regex.h"

namespace orwenna::grammar {

// A number with a point or comma fraction.
inline constexpr std::string_view kNum = R"((\d+(?:[.,]\d+)?))";
// A number or a word meaning "all of it".
inline constexpr std::string_view kNumOrAll = R"((\d+(?:[.,]\d+)?|all|все|всё|весь|всю))";
// Optional money unit after a number.
inline constexpr std::string_view kUsdUnit = R"((?:\s*(?:usdc|usd|\$|долл\w*|бакс\w*))?)";
// Any network name, English or Russian (one capture).
inline constexpr std::string_view kNetwork =
    R"((solana|солан\w*|near|неар\w*|base|бейс\w*|бейз\w*|баз[еыау]|arbitrum|арбитрум\w*|polygon|полигон\w*|ethereum|эфириум\w*|mainnet|мейннет\w*|robinhood|робин[гх]уд\w*|optimism|оптимизм\w*|bnb(?:\s+(?:smart\s+)?chain)?|bsc|бнб\w*|бсц\w*|binance\s+smart\s+chain|hyperevm|hyper\s+evm|хайперевм\w*|гиперевм\w*|tempo|темпо\w*|hyperliquid|хайперликвид\w*))";
// End of a whole-line form: optional full stop or exclamation mark.
inline constexpr std::string_view kEnd = R"(\s*[.!]?\s*$)";

// Case-insensitive, Cyrillic included.
inline constexpr unsigned kCI = Regex::kCaseInsensitive;

// "12" / "1,5" → Decimal; nothing otherwise.
[[nodiscard]] std::optional<Decimal> number(std::string_view text);
// A number, or nothing for "all"/"все"/… (and for anything unreadable).
[[nodiscard]] std::optional<Decimal> amountOrAll(std::optional<std::string_view> text);
// Canonical lower-case network name of a network word; nothing when unknown.
[[nodiscard]] std::optional<std::string> network(std::string_view word);
// The group as text, empty when it did not take part.
std::string group(const RegexMatch& m, std::size_t index);
// Upper-cased ASCII letters, other characters kept.
std::string upper(std::string_view text);
// Plain decimal text of an amount for a written-back line.
inline std::string plain(const Decimal& d) { return d.toString(); }

}  // namespace orwenna::grammar
