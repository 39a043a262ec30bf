#include "app/market_lookup.h"

#include <array>
#include <vector>

#include "base/text.h"
#include "language/intent_parser.h"
#include "trading/fmt.h"
#include "trading/review.h"

namespace orwenna::Agent {
namespace {

constexpr std::string_view kMinus = "\u2212";

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && text::asciiLowercased(a) == text::asciiLowercased(b);
}

bool endsWithIgnoringAsciiCase(std::string_view s, std::string_view suffix) {
  return s.size() > suffix.size() && sameIgnoringAsciiCase(s.substr(s.size() - suffix.size()), suffix);
}

// The coin part of a market name: "TSLA" of "xyz:TSLA".
std::string_view coinOf(std::string_view name) {
  auto colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// Every market the word can mean, best reading first within each rule; the
// first rule that finds anything wins.
std::vector<const Market*> marketsFor(std::string_view word, const MarketTable& table) {
  std::vector<const Market*> out;
  if (word.empty()) return out;
  for (const auto& [name, m] : table.markets())
    if (sameIgnoringAsciiCase(name, word)) return {&m};
  if (word.find(':') != std::string_view::npos) return out;
  for (const auto& [name, m] : table.markets())
    if (m.dex && sameIgnoringAsciiCase(coinOf(name), word)) out.push_back(&m);
  if (!out.empty()) return out;
  // Hyperliquid lists the cheapest coins per thousand: kPEPE, kSHIB, kBONK.
  const std::string thousand = "k" + std::string(word);
  for (const auto& [name, m] : table.markets())
    if (sameIgnoringAsciiCase(name, thousand)) return {&m};
  return out;
}

bool isQuoteWord(std::string_view piece) {
  static constexpr std::array<std::string_view, 6> quotes{"PERP", "USDC", "USDT", "USDH", "USDE", "USD"};
  for (std::string_view q : quotes)
    if (sameIgnoringAsciiCase(piece, q)) return true;
  return false;
}

// The asset as written, then without the decorations traders put around a
// ticker: "$BTC", "#BTC", "BTC-PERP", "btc/usd", "BTC-USD-PERP", "BTCUSDT".
std::vector<std::string> readings(std::string_view written) {
  std::string s(written);
  while (!s.empty() && (s.front() == '$' || s.front() == '#')) s.erase(s.begin());
  std::vector<std::string> out{s};
  const auto cut = s.find_first_of("/-_ ");
  if (cut != std::string::npos && cut > 0) {
    bool allQuotes = true;
    for (std::size_t start = cut + 1; allQuotes;) {
      const auto end = s.find_first_of("/-_ ", start);
      allQuotes = isQuoteWord(std::string_view(s).substr(start, end == std::string::npos ? end : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    if (allQuotes) out.push_back(s.substr(0, cut));
  }
  for (std::string_view q : {std::string_view("USDT"), std::string_view("USDC"), std::string_view("PERP")}) {
    if (endsWithIgnoringAsciiCase(s, q)) out.push_back(s.substr(0, s.size() - q.size()));
  }
  return out;
}

std::vector<const Market*> candidates(std::string_view asset, const MarketTable& table) {
  for (const std::string& r : readings(text::trimmed(asset))) {
    auto found = marketsFor(r, table);
    if (!found.empty()) return found;
  }
  // Names and aliases a trade message understands ("bitcoin", "эфир", "gold").
  if (auto named = IntentParser::asset(asset, table.names())) {
    if (const Market* m = table.find(*named)) return {m};
  }
  return {};
}

std::string signedPct(const Decimal& pct) {
  if (pct.isNegative()) return std::string(kMinus) + plainText(pct.abs()) + "%";
  return (pct.isPositive() ? "+" : "") + plainText(pct) + "%";
}

// Six significant digits are more than any Hyperliquid price carries; small
// prices keep about four.
std::string dollars(const Decimal& price) {
  // Appending rather than "$" + temporary: g++ 12 at -O3 misreads the latter as an overlapping copy.
  std::string out = "$";
  out += price.abs() >= Decimal(1) ? Fmt::sig(price, 6) : priceText(price);
  return out;
}

std::string fundingLine(const Market& m) {
  if (!m.funding) return "Funding: unknown.";
  const Decimal hourPct = *m.funding * Decimal(100);
  const Decimal yearPct = hourPct * Decimal(24 * 365);
  std::string sign = hourPct.isNegative() ? std::string(kMinus) : hourPct.isPositive() ? "+" : "";
  std::string out = "Funding: " + sign + Fmt::num(hourPct.abs(), 6) + "% an hour (≈ " + signedPct(yearPct) +
                    " a year)";
  if (m.funding->isPositive()) return out + ": longs pay shorts.";
  if (m.funding->isNegative()) return out + ": shorts pay longs.";
  return out + ".";
}

std::string header(const Market& m) {
  std::string out = m.name + " on Hyperliquid (" + std::string(rawValue(m.group())) + "), leverage up to " +
                    std::to_string(m.maxLeverage) + "×.\n";
  out += "Price " + dollars(m.markPx);
  if (m.prevDayPx && m.prevDayPx->isPositive()) {
    const Decimal move = (m.markPx - *m.prevDayPx) / *m.prevDayPx * Decimal(100);
    out += " · 24h " + signedPct(move.rounded(2)) + " (from " + dollars(*m.prevDayPx) + ")";
  } else {
    out += " · 24h move unknown";
  }
  if (m.volume24h.isPositive()) out += " · 24h volume $" + Fmt::num(m.volume24h.rounded(0), 0);
  out += ".\n" + fundingLine(m) + "\n";
  if (m.atrPct) {
    out += "Volatility: the average 4-hour range (ATR) is " + plainText(*m.atrPct) + "% of the price.\n";
  } else {
    out += "Volatility: no 4-hour ATR reading.\n";
  }
  return out;
}

std::string_view mark(Advice::Level level) {
  switch (level) {
    case Advice::Level::ok: return "✓";
    case Advice::Level::warn: return "⚠";
    case Advice::Level::block: return "✗";
  }
  return "·";
}

std::string bookSide(const Market& m, Side side, const MarketLookupInputs& in) {
  TradeIntent asked;
  asked.asset = m.name;
  asked.side = side;
  asked.autoRules = true;
  const Review r = review(asked, &m, in.equity, in.policy, in.openRisk);
  const TradeIntent& t = r.rules.intent;
  const Evaluation& ev = r.evaluation;
  const bool isLong = side == Side::long_;

  std::vector<std::string> lines;
  std::string state;
  if (!ev.missing.empty()) {
    state = "can't be sized";
    std::string missing;
    for (const std::string& item : ev.missing) {
      if (!missing.empty()) missing += ", ";
      missing += item;
      if (item == "risk in $" && !(in.equity && in.equity->isPositive())) missing += " (capital unknown)";
      if (item == "stop in %" && !m.atrPct) missing += " (no volatility reading for a stop)";
    }
    lines.push_back("✗ Missing: " + missing + ".");
  } else if (ev.sizing) {
    const Sizing& s = *ev.sizing;
    const std::string coin(coinOf(m.name));
    lines.push_back("Entry " + dollars(s.entry) + (t.entryPx ? " (limit)" : " at market") + " · size " +
                    s.size.toString() + " " + coin + " (" + Fmt::usd(s.notional) + ")");
    std::string protection = "Stop " + dollars(s.stopPrice);
    if (t.stopPct) protection += " (" + signedPct(isLong ? -*t.stopPct : *t.stopPct) + ")";
    if (s.takePrice) {
      protection += " · take " + dollars(*s.takePrice);
      if (t.takePct) protection += " (" + signedPct(isLong ? *t.takePct : -*t.takePct) + ")";
    } else {
      protection += " · no take-profit";
    }
    lines.push_back(protection);
    lines.push_back("Leverage " + plainText(t.leverage.value_or(Decimal(1))) + "× · margin " + Fmt::usd(s.margin) +
                    " · liquidation ≈ " + dollars(s.liquidationPrice));
    std::string outcome = "At the stop " + Fmt::usd(-s.lossAtStopUSD);
    if (s.profitAtTakeUSD) outcome += " · at the take +" + Fmt::usd(*s.profitAtTakeUSD);
    lines.push_back(outcome + " (fees included)");
    if (ev.problem) {
      state = "blocked";
      lines.push_back("✗ " + *ev.problem);
    } else {
      bool warned = false;
      for (const Advice& a : r.advice) {
        warned = warned || a.level == Advice::Level::warn;
        lines.push_back(std::string(mark(a.level)) + " " + a.text);
      }
      state = r.breaksARule() ? "blocked" : warned ? "with warnings" : "ready";
    }
  } else {
    state = "can't be sized";
    lines.push_back("✗ " + ev.problem.value_or("The rules could not size it."));
  }
  for (const std::string& n : r.rules.notes) lines.push_back("· " + n);

  std::string out = "By the book, " + std::string(sideName(side)) + " (" + state + "):\n";
  for (const std::string& l : lines) out += "  " + l + "\n";
  return out;
}

}  // namespace

const Market* findMarket(std::string_view asset, const MarketTable& markets) {
  auto found = candidates(asset, markets);
  return found.size() == 1 ? found.front() : nullptr;
}

std::string marketLookup(std::string_view arg, const MarketLookupInputs& in) {
  if (!in.markets || in.markets->empty()) return "Markets aren't loaded yet.";
  const std::string asset = text::trimmed(arg);
  if (asset.empty()) return "Which market? Name a Hyperliquid asset, for example «market BTC».";
  const auto found = candidates(asset, *in.markets);
  if (found.empty())
    return "No Hyperliquid market for «" + asset + "». For a token by its contract or name use the token lookup.";
  if (found.size() > 1) {
    std::string names;
    for (const Market* m : found) names += (names.empty() ? "" : ", ") + m->name;
    return "«" + asset + "» is listed on several Hyperliquid dexes: " + names + ". Ask for one of them.";
  }

  Market m = *found.front();
  if (in.atrPct) {
    try {
      if (auto fresh = in.atrPct(m.name); fresh && fresh->isPositive()) m.atrPct = *fresh;
    } catch (const std::exception&) {
      // The market's own reading, if any, stands in.
    }
  }
  std::string out = header(m);
  out += bookSide(m, Side::long_, in);
  out += bookSide(m, Side::short_, in);
  out.pop_back();
  return out;
}

LookupHandler marketLookupHandler(std::function<MarketLookupInputs()> inputs) {
  return [inputs = std::move(inputs)](const std::string& arg) { return marketLookup(arg, inputs()); };
}

}  // namespace orwenna::Agent
