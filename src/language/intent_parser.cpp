#include "language/intent_parser.h"

#include <algorithm>
#include <array>

#include "base/regex.h"
#include "base/text.h"

namespace orwenna::IntentParser {
namespace {

// Tickers that are also ordinary English words: a market only when typed in capitals.
constexpr std::array<std::string_view, 39> kWordTickers = {
    "ACE",  "ALT",    "APE",    "AR",     "BABY",  "BANANA", "BLUR",   "CAKE",  "CHIP",    "DASH",
    "DOT",  "GAS",    "GOAT",   "GRASS",  "HYPER", "IO",     "LAYER",  "LINK",  "LIT",     "ME",
    "MET",  "MON",    "MOVE",   "NEAR",   "NIL",   "NOT",    "PEOPLE", "PROVE", "PUMP",    "RENDER",
    "SAND", "SKY",    "STABLE", "SUPER",  "TURBO", "USELESS", "USUAL", "VIRTUAL", "ZEN"};

constexpr std::array<std::string_view, 10> kSkippedWords = {"LONG", "SHORT", "STOP", "TAKE", "RISK",
                                                            "SL",   "TP",    "USDC", "USD",  "LEV"};

const MarketNames& defaultMarkets() {
  static const MarketNames names = {"BTC", "ETH", "SOL"};
  return names;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool isWordTicker(std::string_view upper) {
  return std::find(kWordTickers.begin(), kWordTickers.end(), upper) != kWordTickers.end();
}

std::optional<Decimal> capture(const Regex& re, std::string_view text) {
  auto m = re.firstMatch(text);
  if (!m) return std::nullopt;
  auto g = m->group(1);
  if (!g) return std::nullopt;
  return number(*g);
}

const Regex& longShortWord() {
  static const Regex re(R"(\b(?:лонг|шорт|long|short))");
  return re;
}

const Regex& moneyAmount() {
  static const Regex re(R"(\$\s*\d|\d\s*(?:usdc|usdg|\$|долл|dollars?|bucks|бакс))");
  return re;
}

// The spot, recurring and transfer messages that look like numbers but are not trades.
bool isOtherMoneyMessage(std::string_view lower) {
  static const Regex sell(R"(\bsell\b|прода[йтв])");
  static const Regex buy(R"(\bbuy\b|куп|покупа)");
  static const Regex every(R"(\bevery\b|кажд)");
  static const Regex stopTake(R"(\b(?:stop|take|tp|sl|стоп\w*|тейк\w*)\b)");
  static const Regex moneyVerb(
      R"(^\s*(?:move|swap|exchange|convert|bridge|send|transfer|deposit|withdraw|lend|stake|receive|top\s*up|переве\w*|перевод\w*|отправ\w*|помен\w*|обмен\w*|свап\w*|своп\w*|конверт\w*|выведи|вывод\w*|полож\w*|внеси|пополн\w*|задепоз\w*|бридж\w*)\b)");
  static const Regex digitOrAll(R"(\d|\b(?:all|всё|все|весь)\b)");
  static const Regex onNetwork(
      R"(^\s*(?:buy|sell|купи\w*|прода\w*)\b.*\b(?:on|на|в|во)\s+(?:the\s+)?(?:solana|base|arbitrum|polygon|ethereum|mainnet|optimism|hyperevm|robinhood|tempo|bnb|bsc|binance|avalanche|avax|sui|tron|солан\w*|бейс\w*|арбитрум\w*|полигон\w*|эфириум\w*|оптимизм\w*|хайперевм\w*|робинхуд\w*|темпо\w*|бнб|бсц|бинанс\w*|аваланч\w*)\b)",
      Regex::kDotAll);

  bool perpWord = longShortWord().matches(lower);
  if (perpWord) return false;
  // Without a long or short word a sale would read as a long: it is a spot
  // sale whether or not it names an amount of money.
  if (sell.matches(lower)) return true;
  bool money = moneyAmount().matches(lower);
  if (buy.matches(lower) && every.matches(lower) && money) return true;
  if (stopTake.matches(lower)) return false;
  if (moneyVerb.matches(lower) && digitOrAll.matches(lower)) return true;
  return onNetwork.matches(lower);
}

std::optional<std::string> findAsset(std::string_view typed, std::string_view lower,
                                     const MarketNames& markets) {
  static const Regex cashtag(R"(\$([a-z][a-z0-9]{1,9})\b)");
  if (auto m = cashtag.firstMatch(lower)) {
    if (auto found = market(*m->group(1), markets)) return found;
  }

  struct Alias {
    Regex pattern;
    std::string_view name;
  };
  static const std::array<Alias, 6> aliases = {{
      {Regex(R"(брент|brent)"), "BRENTOIL"},
      {Regex(R"(нефт|\boil\b|\bwti\b|crude)"), "CL"},
      {Regex(R"(золот|\bgold\b)"), "GOLD"},
      {Regex(R"(серебр|silver)"), "SILVER"},
      {Regex(R"(\bэфир\w*|\bethereum\b|\bэфириум\w*)"), "ETH"},
      {Regex(R"(биткоин\w*|биткойн\w*|\bбиток\w*|\bbitcoin\b)"), "BTC"},
  }};
  for (const Alias& alias : aliases) {
    if (!alias.pattern.matches(lower)) continue;
    if (auto found = market(alias.name, markets)) return found;
    return std::string(alias.name);
  }

  static const Regex word(R"([\p{L}\p{N}]+(?::[\p{L}\p{N}]+)?)");
  for (const RegexMatch& m : word.allMatches(typed)) {
    std::string_view w = m.whole();
    std::string upper = text::uppercased(w);
    if (text::codePoints(upper).size() < 2) continue;
    if (std::find(kSkippedWords.begin(), kSkippedWords.end(), upper) != kSkippedWords.end()) continue;
    auto found = market(upper, markets);
    if (!found) continue;
    if (isWordTicker(text::uppercased(*found)) && w != upper) continue;
    return found;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> asset(std::string_view text, const MarketNames& markets) {
  return findAsset(text, text::lowercased(text), markets);
}

bool closesPosition(std::string_view text) {
  static const Regex re(
      R"((?<!\p{L})(?:закр\w*|(?:выйд\w*|выйти|выход\w*)\s+из|close|exit|flatten|cover)(?!\p{L})\s+(?:\S+\s+){0,3}?(?:лонг\w*|шорт\w*|(?:long|short)s?(?!\p{L})))",
      Regex::kCaseInsensitive);
  return re.matches(text);
}

std::optional<Decimal> number(std::string_view text) {
  static const Regex shape(R"(\d+(?:[.,]\d+)?)");
  if (!shape.matchesWhole(text)) return std::nullopt;
  std::string plain(text);
  std::replace(plain.begin(), plain.end(), ',', '.');
  return Decimal::tryParse(plain);
}

std::optional<std::string> market(std::string_view word, const MarketNames& markets) {
  const MarketNames& names = markets.empty() ? defaultMarkets() : markets;
  for (const std::string& name : names) {
    if (equalsIgnoringAsciiCase(name, word)) return name;
  }
  // The command line drops the stock prefix, so a bare ticker finds its
  // prefixed market too.
  for (const std::string& name : names) {
    std::string_view n = name;
    if (n.starts_with("xyz:") && equalsIgnoringAsciiCase(n.substr(4), word)) return name;
  }
  return std::nullopt;
}

std::optional<TradeIntent> parse(std::string_view text, const MarketNames& markets,
                                 const std::optional<TradeIntent>& current) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  std::string lower = text::lowercased(text);
  if (isOtherMoneyMessage(lower) || closesPosition(lower)) return std::nullopt;

  TradeIntent intent = current.value_or(TradeIntent{});
  bool changed = false;
  auto set = [&changed](auto& field, auto value) {
    field = value;
    changed = true;
  };

  static const Regex longWord(R"(\b(?:лонг|long))");
  static const Regex shortWord(R"(\b(?:шорт|short))");
  if (longWord.matches(lower)) set(intent.side, Side::long_);
  if (shortWord.matches(lower)) set(intent.side, Side::short_);

  if (auto asset = findAsset(text, lower, markets)) set(intent.asset, *asset);

  static const Regex risk(R"((?:риск|risk)[^\d%]{0,30}?(\d+(?:[.,]\d+)?)(?!\d|[.,]\d|\s*%))");
  if (auto v = capture(risk, lower)) set(intent.riskUSD, v);

  static const Regex stop(R"((?:стоп|stop|\bsl\b)[^\d]{0,15}?(\d+(?:[.,]\d+)?)\s*%)");
  if (auto v = capture(stop, lower)) set(intent.stopPct, v);

  static const Regex takePct(
      R"((?:тейк|take|\btp\b)(?:[- ]?(?:profit|профит)\w*)?[^\d\p{L}]*(?:\p{L}{1,3}[^\d\p{L}]+)?(\d+(?:[.,]\d+)?)\s*%)");
  if (auto v = capture(takePct, lower)) {
    set(intent.takePct, v);
    intent.takeR.reset();
  }

  static const Regex leverageWord(R"((?:плеч|leverage|\blev\b)[^\d]{0,10}?(\d+(?:[.,]\d+)?))");
  // The sign stands after a whole number: "0x4200…" is an address, not 0 times.
  static const Regex leverageSign(R"((?<![\p{L}\p{N}.,])(\d+(?:[.,]\d+)?)\s*[xх×](?![\p{L}\p{N}]))");
  std::optional<Decimal> lev = capture(leverageWord, lower);
  if (!lev) lev = capture(leverageSign, lower);
  // No position is opened at zero times its margin.
  if (lev && !lev->isZero()) set(intent.leverage, lev);

  static const Regex amount(R"((\d+(?:[.,]\d+)?)\s*usdc)");
  if (auto v = capture(amount, lower)) set(intent.amountUSDC, v);

  static const Regex takeR(R"((?:^|[^\d.,])(\d+(?:[.,]\d+)?)\s*r\b)");
  static const Regex ratio(R"(\b1\s*[:к]\s*(\d+(?:[.,]\d+)?))");
  std::optional<Decimal> r = capture(takeR, lower);
  if (!r) r = capture(ratio, lower);
  if (r) {
    set(intent.takeR, r);
    intent.takePct.reset();
  }

  static const Regex byTheBook(
      R"(как\s+учат|как\s+советуют|по\s+правилам|как\s+(?:лучше|правильно|положено)|по\s+уму|грамотн|риск[- ]?менеджмент|by\s+the\s+(?:book|rules)|best\s+practice|properly|risk[- ]?management|like\s+(?:the\s+)?pros)");
  if (byTheBook.matches(lower)) set(intent.autoRules, std::optional<bool>(true));

  static const Regex pullback(
      R"((?:откат\w*|pullback|dip|retrace\w*)[^\d\p{L}]*(?:\p{L}{1,3}[^\d\p{L}]+)?(\d+(?:[.,]\d+)?)\s*%)");
  static const Regex pullbackAfter(R"((\d+(?:[.,]\d+)?)\s*%\s*(?:pullback|dip|retrace\w*))");
  std::optional<Decimal> pb = capture(pullback, lower);
  if (!pb) pb = capture(pullbackAfter, lower);
  if (pb) {
    set(intent.pullbackPct, pb);
    intent.entryPx.reset();
  }

  static const Regex limit(
      R"((?:лимит\w*|вход\w*|limit|entry|enter)\s*(?:по|на|at)?\s*\$?(\d+(?:[.,]\d+)?)(?!\s*%|\d|[.,]\d))");
  if (auto v = capture(limit, lower)) {
    set(intent.entryPx, v);
    intent.pullbackPct.reset();
  }

  static const Regex atMarket(R"(по\s+рынку|market)");
  // Only a request for a market entry counts as a change on its own: a bare
  // mention of the market ("the market is slow") must not drop a limit.
  static const Regex marketRequest(
      R"((?<!\p{L})(?:по\s+рынку|(?:at|by|to)\s+(?:the\s+)?market|market\s+(?:order|entry|price))(?!\p{L}))");
  if (atMarket.matches(lower)) {
    if ((intent.entryPx || intent.pullbackPct) && marketRequest.matches(lower)) changed = true;
    intent.entryPx.reset();
    intent.pullbackPct.reset();
  }

  static const Regex inParts(R"(частям|частичн|scale\s*out|in\s+parts|partial)");
  if (inParts.matches(lower)) set(intent.partialTake, std::optional<bool>(true));

  static const Regex trailing(
      R"((?:трейл\w*|скользящ\w*|trail\w*)(?:[- ]?(?:стоп\w*|stop))?[^\d]{0,6}?(\d+(?:[.,]\d+)?)\s*%)");
  if (auto v = capture(trailing, lower)) set(intent.trailingPct, v);

  if (!changed) return std::nullopt;
  return intent;
}

}  // namespace orwenna::IntentParser
