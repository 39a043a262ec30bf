#include "language/command_text.h"

#include <array>

#include "base/text.h"
#include "language/intent_parser.h"

namespace orwenna::grammar {

std::optional<Decimal> number(std::string_view text) { return IntentParser::number(text); }

std::optional<Decimal> amountOrAll(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return number(*text);
}

std::optional<std::string> network(std::string_view word) {
  struct Name {
    Regex pattern;
    std::string_view name;
  };
  static const std::array<Name, 13> names = {{
      {Regex(R"(solana|солан\w*)", kCI), "solana"},
      {Regex(R"(near|неар\w*)", kCI), "near"},
      {Regex(R"(base|бейс\w*|бейз\w*|баз[еыау])", kCI), "base"},
      {Regex(R"(arbitrum|арбитрум\w*)", kCI), "arbitrum"},
      {Regex(R"(polygon|полигон\w*)", kCI), "polygon"},
      {Regex(R"(ethereum|эфириум\w*|эфир\w*|mainnet|мейннет\w*|eth\s+mainnet)", kCI), "ethereum"},
      {Regex(R"(robinhood|робин[гх]уд\w*)", kCI), "robinhood"},
      {Regex(R"(optimism|оптимизм\w*)", kCI), "optimism"},
      {Regex(R"(bnb(?:\s+(?:smart\s+)?chain)?|bsc|бнб\w*|бсц\w*|binance\s+smart\s+chain)", kCI), "bnb"},
      {Regex(R"(hyperevm|hyper\s+evm|хайперевм\w*|гиперевм\w*)", kCI), "hyperevm"},
      {Regex(R"(tempo|темпо\w*)", kCI), "tempo"},
      {Regex(R"(hyperliquid|хайперликвид\w*)", kCI), "hyperliquid"},
      {Regex(R"(bitcoin|биткоин\w*|zcash|tron|трон\w*|xrp|ripple|dogecoin|sui)", kCI), ""},
  }};
  for (const Name& n : names) {
    if (!n.pattern.matchesWhole(word)) continue;
    if (!n.name.empty()) return std::string(n.name);
    std::string lower = text::lowercased(word);
    if (lower.starts_with("биткоин")) return std::string("bitcoin");
    if (lower.starts_with("трон")) return std::string("tron");
    if (lower == "ripple") return std::string("xrp");
    return lower;
  }
  return std::nullopt;
}

std::string group(const RegexMatch& m, std::size_t index) {
  auto g = m.group(index);
  return g ? std::string(*g) : std::string();
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

}  // namespace orwenna::grammar
