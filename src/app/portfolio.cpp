#include "app/portfolio.h"

#include <algorithm>

#include "base/regex.h"
#include "base/text.h"
#include "trading/fmt.h"

namespace orwenna::Agent {
namespace {

std::string joinedOr(const std::vector<std::string>& items, std::string_view separator, std::string_view none) {
  return items.empty() ? std::string(none) : text::join(items, separator);
}

std::string closedLine(const ClosedTrade& t) {
  std::string line = t.coin + " " + std::string(sideName(t.side)) + ": " + signedUSD(t.result) + " after fees";
  if (!t.closed.empty()) line += ", closed " + t.closed;
  return line;
}

std::vector<std::string> positionLines(const std::vector<OpenPosition>& positions) {
  std::vector<std::string> out;
  for (const auto& p : positions) out.push_back(positionLine(p));
  return out;
}

std::vector<std::string> closedLines(const std::vector<ClosedTrade>& closed) {
  std::vector<std::string> out;
  for (const auto& t : closed) out.push_back(closedLine(t));
  return out;
}

// The part after a builder dex's prefix: "xyz:TSLA" is asked about as "tsla".
std::string bareCoin(std::string_view coin) {
  auto colon = coin.find(':');
  return text::lowercased(colon == std::string_view::npos ? coin : coin.substr(colon + 1));
}

bool asksAboutMoney(const std::vector<std::string>& words) {
  static const std::vector<std::string_view> stems{"balance", "money", "cash", "funds", "wallet", "usdc",
                                                   "баланс", "денег", "деньг", "средств", "кошел"};
  return std::any_of(words.begin(), words.end(), [](const std::string& w) {
    return std::any_of(stems.begin(), stems.end(), [&w](std::string_view s) { return w.starts_with(s); });
  });
}

}  // namespace

std::vector<std::string> lowerWords(std::string_view s) {
  // "what's" is one word: split at the apostrophe, its "s" would name the
  // coin S. A typographic apostrophe counts as the plain one.
  static const Regex word(R"([\p{L}\p{N}]+(?:'[\p{L}\p{N}]+)*)");
  std::string lower = text::replacedAll(text::lowercased(s), "\u2019", "'");
  std::vector<std::string> out;
  for (auto& m : word.allMatches(lower)) out.emplace_back(m.whole());
  return out;
}

std::string signedUSD(const Decimal& value) {
  std::string text = Fmt::usd(value);
  return value.isPositive() && text != "$0.00" ? "+" + text : text;
}

std::string positionLine(const OpenPosition& p) {
  std::string line = p.coin + " " + std::string(sideName(p.side)) + " " + Fmt::num(p.size, 8) + " at " +
                     Fmt::usd(p.entry);
  if (p.mark) line += ", mark " + Fmt::usd(*p.mark);
  if (p.unrealized) line += ", unrealized " + signedUSD(*p.unrealized);
  line += p.stop ? ", stop " + Fmt::usd(*p.stop) : std::string(", no stop");
  if (p.take) line += ", take " + Fmt::usd(*p.take);
  if (p.liquidation) line += ", liquidation " + Fmt::usd(*p.liquidation);
  return line;
}

std::string portfolioText(const PortfolioSnapshot& s) {
  std::string out = "Balances: " + joinedOr(s.balances, "; ", "none");
  out += "\nOpen positions: " + joinedOr(positionLines(s.positions), "; ", "none");
  out += "\nOpen orders: " + joinedOr(s.orders, "; ", "none");
  out += "\nPlan on the canvas: " + s.plan.value_or("none");
  if (s.realizedToday) out += "\nRealized today: " + signedUSD(*s.realizedToday) + " after fees";
  out += "\nClosed trades (newest first): " + joinedOr(closedLines(s.closed), "; ", "none");
  out += "\nAlerts: " + joinedOr(s.alerts, "; ", "none");
  out += "\nRecurring buys: " + joinedOr(s.recurring, "; ", "none");
  out += "\nFavorites: " + joinedOr(s.favorites, "; ", "none");
  out += "\nRecent activity (newest first): " + joinedOr(s.activity, "; ", "none");
  if (!s.notRead.empty()) out += "\nNot read, so unknown here (not none): " + joinedOr(s.notRead, ", ", "");
  return out;
}

std::string factsText(const PortfolioSnapshot& s, const std::optional<std::string>& marketBlock) {
  std::string out = "Balances by place: " + joinedOr(s.balances, "; ", "none");
  out += "\nOpen positions: " + joinedOr(positionLines(s.positions), "; ", "none");
  if (marketBlock) out += "\nThe market asked about, with a trade by the book and its rule checks:\n" + *marketBlock;
  out += "\nClosed positions with their results: " + joinedOr(closedLines(s.closed), "; ", "none");
  out += "\nRecent activity: " + joinedOr(s.activity, "; ", "none");
  if (!s.notRead.empty()) out += "\nNot read, so unknown here (not none): " + joinedOr(s.notRead, ", ", "");
  return out;
}

std::optional<std::string> coinAskedAbout(std::string_view question, const PortfolioSnapshot& s) {
  auto words = lowerWords(question);
  auto held = [&s](std::string_view bare) -> std::optional<std::string> {
    for (const auto& p : s.positions)
      if (bareCoin(p.coin) == bare) return p.coin;
    for (const auto& t : s.closed)
      if (bareCoin(t.coin) == bare) return t.coin;
    return std::nullopt;
  };
  struct Alias {
    std::string_view stem, coin;
  };
  static constexpr Alias aliases[] = {{"bitcoin", "btc"}, {"биткоин", "btc"}, {"битк", "btc"},  {"биток", "btc"},
                                      {"ethereum", "eth"}, {"ether", "eth"},   {"эфир", "eth"},  {"solana", "sol"},
                                      {"солан", "sol"},    {"сол", "sol"}};
  for (const auto& w : words) {
    if (auto coin = held(w)) return coin;
    for (const Alias& a : aliases) {
      bool match = a.stem == "сол" ? w == "сол" || w == "сола" || w == "солы" : w.starts_with(a.stem);
      if (!match) continue;
      if (auto coin = held(a.coin)) return coin;
      return text::uppercased(a.coin);
    }
  }
  return std::nullopt;
}

std::string answerWithoutModel(std::string_view question, const PortfolioSnapshot& s) {
  std::string body;
  auto coin = coinAskedAbout(question, s);
  std::vector<std::string> open;
  if (coin)
    for (const auto& p : s.positions)
      if (p.coin == *coin) open.push_back(positionLine(p));
  auto closed = coin ? std::find_if(s.closed.begin(), s.closed.end(), [&](const ClosedTrade& t) { return t.coin == *coin; })
                     : s.closed.end();
  if (!open.empty()) {
    body = joinedOr(open, "; ", "");
  } else if (closed != s.closed.end()) {
    body = closed->coin + " is closed: it closed " + signedUSD(closed->result) +
           " after fees. The whole story is in History → Positions.";
  } else if (asksAboutMoney(lowerWords(question))) {
    body = s.balances.empty() ? "No balances are known yet." : "Balances: " + joinedOr(s.balances, "; ", "");
  } else if (s.positions.empty() &&
             std::find(s.notRead.begin(), s.notRead.end(), "open positions") != s.notRead.end()) {
    body = "Open positions weren't read here.";
  } else if (s.positions.empty()) {
    body = "No open positions.";
  } else {
    body = "Open positions: " + joinedOr(positionLines(s.positions), "; ", "");
  }
  return body + " · from your portfolio and history" + ". For anything else, connect a model in Settings.";
}

}  // namespace orwenna::Agent
