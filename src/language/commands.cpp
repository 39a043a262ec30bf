#include "language/commands.h"

#include <algorithm>
#include <array>

#include "base/regex.h"
#include "base/text.h"
#include "language/command_text.h"

namespace orwenna {

using namespace grammar;

namespace {

template <class Variant>
std::string_view caseOf(const Variant& v) {
  return std::visit([](const auto& c) { return std::decay_t<decltype(c)>::kCase; }, v);
}

template <class Variant>
Json jsonOf(std::string_view type, const Variant& v) {
  Json j = Json::object();
  j["type"] = std::string(type);
  j["case"] = std::string(caseOf(v));
  std::visit([&j](const auto& c) { appendFields(j, c); }, v);
  return j;
}

// Trims white space and the quotes and stops that wrap a name or a memory.
std::string trimWrapping(std::string_view text, std::u32string_view extra) {
  std::vector<char32_t> cps = text::codePoints(text);
  auto strip = [&extra](char32_t c) { return text::isWhitespace(c) || extra.find(c) != std::u32string_view::npos; };
  std::size_t b = 0, e = cps.size();
  while (b < e && strip(cps[b])) ++b;
  while (e > b && strip(cps[e - 1])) --e;
  return text::fromCodePoints(std::vector<char32_t>(cps.begin() + static_cast<long>(b), cps.begin() + static_cast<long>(e)));
}

constexpr std::u32string_view kQuotes = U"«»\"“”";

std::string percentText(const Decimal& fraction) { return plain(fraction * Decimal(100)); }

const Decimal& oneThird() {
  static const Decimal third = Decimal(1) / Decimal(3);
  return third;
}

}  // namespace

// ---------------------------------------------------------------- PositionCommand

std::optional<PositionCommand> PositionCommand::parse(std::string_view text) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex hesitation(
      R"((?:^|[^\p{L}'’])(?:не|нельзя|don['’]?t|dont|do\s+not|never|not)(?![\p{L}'’])|should\s+(?:i|we)\b|стоит\s+ли|(?:а|что)\s+если)",
      kCI);
  if (hesitation.matches(text)) return std::nullopt;

  static const Regex cancel(
      R"(отмени\w*\s+(?:лимит|ордер|заявк)|сними\w*\s+(?:лимит|ордер|заявк)|cancel\s+(?:the\s+|my\s+)?(?:limit|order)|remove\s+(?:the\s+)?(?:limit|order))",
      kCI);
  static const Regex breakeven(
      R"(безубыт|стоп\w*\s+(?:в|на)\s+(?:ноль|бу\b|вход)|break\s*-?\s*even|stop\s+(?:to|at)\s+entry)", kCI);
  static const Regex stopPrice(
      R"((?:(?:перенес\w*|передвин\w*|подвин\w*|постав\w*)?\s*стоп\w*\s+(?:на|в)|(?:move|set|put)?\s*(?:the\s+)?stop(?:[- ]?loss)?\s+(?:to|at))\s+\$?(\d+(?:[.,]\d+)?)(?!\s*%|\d|[.,]\d))",
      kCI);
  static const Regex takePrice(
      R"((?:(?:перенес\w*|передвин\w*|подвин\w*|постав\w*)?\s*тейк\w*\s+(?:на|в)|(?:move|set|put)?\s*(?:the\s+)?take(?:[- ]?profit)?\s+(?:to|at))\s+\$?(\d+(?:[.,]\d+)?)(?!\s*%|\d|[.,]\d))",
      kCI);
  static const Regex longShort(R"(лонг|шорт|\blong\b|\bshort\b)", kCI);
  static const Regex trailRe(R"((?:трейл\w*|trail\w*)[^\d]{0,15}?(\d+(?:[.,]\d+)?)\s*%)", kCI);
  static const Regex closeRe(R"(закр\w*|выйди|выход\w*\s+из|\bclose\b|\bexit\b|\bflatten\b)", kCI);
  // "150%" is not a half: the 50 must stand alone.
  static const Regex half(R"(половин|(?<![\d.,])50\s*%|\bhalf\b)", kCI);
  static const Regex third(R"(треть|\bthird\b)", kCI);
  static const Regex quarter(R"(четверть|\bquarter\b)", kCI);
  static const Regex percent(R"((\d+(?:[.,]\d+)?)\s*%)", kCI);

  if (cancel.matches(text)) return PositionCommand{cancelOrders{}};
  if (breakeven.matches(text)) return PositionCommand{stopToBreakeven{}};
  if (auto m = stopPrice.firstMatch(text)) {
    if (auto p = number(*m->group(1))) return PositionCommand{stopTo{*p}};
  }
  if (auto m = takePrice.firstMatch(text)) {
    if (auto p = number(*m->group(1))) return PositionCommand{takeTo{*p}};
  }
  auto closeShare = [&]() -> std::optional<PositionCommand> {
    if (half.matches(text)) return PositionCommand{close{Decimal::parse("0.5")}};
    if (third.matches(text)) return PositionCommand{close{oneThird()}};
    if (quarter.matches(text)) return PositionCommand{close{Decimal::parse("0.25")}};
    if (auto m = percent.firstMatch(text)) {
      auto p = number(*m->group(1));
      // A share above the whole position is not a fraction of it.
      if (!p || p->isZero() || *p > Decimal(100)) return std::nullopt;
      // A share so small that it rounds to nothing would be written as "close 0%".
      const Decimal share = *p / Decimal(100);
      if (share.isZero()) return std::nullopt;
      return PositionCommand{close{share}};
    }
    return PositionCommand{close{Decimal(1)}};
  };
  // "close the short" names the position; any other long or short word is a plan.
  if (IntentParser::closesPosition(text)) return closeShare();
  if (longShort.matches(text)) return std::nullopt;
  if (auto m = trailRe.firstMatch(text)) {
    if (auto p = number(*m->group(1))) return PositionCommand{trail{*p}};
  }
  if (closeRe.matches(text)) return closeShare();
  return std::nullopt;
}

std::string PositionCommand::line() const {
  struct Writer {
    std::string operator()(const close& c) const {
      if (c.fraction == Decimal(1)) return "close";
      if (c.fraction == oneThird()) return "close a third";
      return "close " + percentText(c.fraction) + "%";
    }
    std::string operator()(const stopTo& c) const { return "move stop to " + plain(c.price); }
    std::string operator()(const takeTo& c) const { return "move take to " + plain(c.price); }
    std::string operator()(const trail& c) const { return "trail " + plain(c.percent) + "%"; }
    std::string operator()(const stopToBreakeven&) const { return "stop to breakeven"; }
    std::string operator()(const cancelOrders&) const { return "cancel limit orders"; }
  };
  return std::visit(Writer{}, value);
}

std::string_view PositionCommand::caseName() const { return caseOf(value); }
Json PositionCommand::toJson() const { return jsonOf("PositionCommand", value); }

// ---------------------------------------------------------------- AddressBookCommand

std::optional<AddressBookCommand> AddressBookCommand::parse(std::string_view text) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex fav(
      R"(^\s*(?:add|put|star|mark|добавь|отметь)\s+(.+?)\s+(?:to|in|into|as|в)\s+(?:my\s+|the\s+)?(?:favou?rites?|избранн\w*)\s*[.!]?\s*$)",
      kCI);
  static const Regex unfav(
      R"(^\s*(?:remove|unstar|take|убери|удали)\s+(.+?)\s+(?:from|out\s+of|из)\s+(?:my\s+|the\s+)?(?:favou?rites?|избранн\w*)\s*[.!]?\s*$)",
      kCI);
  static const Regex tokenWord(R"(^\s*(?:the\s+)?(?:token|токен)\b)", kCI);
  for (auto [re, on] : {std::pair{&fav, true}, std::pair{&unfav, false}}) {
    if (auto m = re->firstMatch(text)) {
      std::string name = trimWrapping(*m->group(1), kQuotes);
      // A watched token is a token command, not a contact.
      if (name.empty() || tokenWord.matches(name)) return std::nullopt;
      return AddressBookCommand{favorite{name, on}};
    }
  }

  static const Regex saveVerb(R"(\b(?:save|add|remember|store|keep)\b|сохран|запомн|добав|запиши)", kCI);
  if (!saveVerb.matches(text)) return std::nullopt;
  static const Regex address(
      R"((?<![\w.])(0x[0-9a-fA-F]{64}|0x[0-9a-fA-F]{40}|[0-9a-f]{64}|[a-z0-9_-]+(?:\.[a-z0-9_-]+)*\.(?:near|eth|sol)|bc1[02-9ac-hj-np-z]{8,87}|t1[1-9A-HJ-NP-Za-km-z]{33}|[1-9A-HJ-NP-Za-km-z]{25,44})(?![\w.]))");
  static const Regex named(std::string(R"((?:\bas\b|\bcalled\b|\bnamed\b|\bкак\b|под\s+именем)\s+[«"“]?(.+?)[»"”]?(?:\s+(?:on|in|в|на)\s+(?:the\s+)?(?:сети\s+)?)") +
                               std::string(kNetwork) + R"()?\s*[.!]?$)",
                           kCI);
  static const Regex onNetwork(std::string(R"((?:^|\s)(?:on|in|в|на)\s+(?:the\s+)?(?:сети\s+)?)") +
                                   std::string(kNetwork) + R"((?!\w))",
                               kCI);
  auto a = address.firstMatch(text);
  auto n = named.firstMatch(text);
  if (!a || !n || n->begin() < a->end()) return std::nullopt;
  std::string name = trimWrapping(*n->group(1), kQuotes);
  if (name.empty()) return std::nullopt;
  save s{std::string(a->whole()), name, std::nullopt};
  if (n->group(2)) {
    s.network = network(*n->group(2));
  } else if (auto o = onNetwork.firstMatch(text.substr(0, n->begin()))) {
    s.network = network(*o->group(1));
  }
  return AddressBookCommand{s};
}

std::string AddressBookCommand::line() const {
  struct Writer {
    std::string operator()(const save& c) const {
      return "save " + c.address + " as " + c.name + (c.network ? " on " + *c.network : "");
    }
    std::string operator()(const favorite& c) const {
      return c.on ? "add " + c.name + " to favorites" : "remove " + c.name + " from favorites";
    }
  };
  return std::visit(Writer{}, value);
}

std::string_view AddressBookCommand::caseName() const { return caseOf(value); }
Json AddressBookCommand::toJson() const { return jsonOf("AddressBookCommand", value); }

// ---------------------------------------------------------------- TokenCommand

namespace {

constexpr std::string_view kTokenAddress =
    R"((?<![\w.])(0x[0-9a-fA-F]{40}|[1-9A-HJ-NP-Za-km-z]{32,44})(?![\w.]))";

std::optional<std::string> tokenChain(std::string_view text) {
  static const Regex chain(
      R"((?:^|\s)(?:on|in|в|на)\s+(?:the\s+)?(robinhood|робин[гх]уд\w*|base|бейс\w*|бейз\w*|arbitrum|арбитрум\w*|ethereum|эфириум\w*|mainnet|solana|солан\w*)(?!\w))",
      kCI);
  auto m = chain.firstMatch(text);
  if (!m) return std::nullopt;
  return network(*m->group(1));
}

}  // namespace

std::optional<TokenCommand> TokenCommand::parse(std::string_view text) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex unfav(
      R"((?:remove|unstar|убери|удали)\s+(?:the\s+)?(?:token|токен)\s+\$?([a-z0-9]{1,12})\s+(?:from|из)\s+(?:my\s+)?(?:favou?rites?|избранн\w*|watchlist))",
      kCI);
  static const Regex showRe(R"(^\s*(?:chart|show)\s+token\b)", kCI);
  static const Regex address{std::string(kTokenAddress)};
  static const Regex tokenWord(R"(\btoken|токен|\bcoin\b|монет|watch|следи|favou?rite|избранн|watchlist)", kCI);
  static const Regex tradeWord(R"(\b(?:buy|sell)\b|куп|прода)", kCI);
  if (auto m = unfav.firstMatch(text)) return TokenCommand{unfavorite{upper(*m->group(1))}};
  auto a = address.firstMatch(text);
  if (!a) return std::nullopt;
  std::string addr(a->whole());
  if (showRe.matches(text)) return TokenCommand{show{addr, tokenChain(text)}};
  if (tokenWord.matches(text) && !tradeWord.matches(text)) return TokenCommand{favorite{addr, tokenChain(text)}};
  return std::nullopt;
}

std::string TokenCommand::line() const {
  struct Writer {
    std::string operator()(const favorite& c) const {
      return "watch token " + c.address + (c.chain ? " on " + *c.chain : "");
    }
    std::string operator()(const unfavorite& c) const { return "remove token " + c.symbol + " from favorites"; }
    std::string operator()(const show& c) const {
      return "show token " + c.address + (c.chain ? " on " + *c.chain : "");
    }
  };
  return std::visit(Writer{}, value);
}

std::string_view TokenCommand::caseName() const { return caseOf(value); }
Json TokenCommand::toJson() const { return jsonOf("TokenCommand", value); }

// ---------------------------------------------------------------- MemoryCommand

std::optional<MemoryCommand> MemoryCommand::parse(std::string_view text) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex rememberRe(R"(^\s*remember:\s*(.+?)\s*$)", kCI | Regex::kDotAll);
  static const Regex forgetRe(R"(^\s*forget:\s*(.+?)\s*$)", kCI | Regex::kDotAll);
  static const Regex listRe(R"(\s*what\s+do\s+you\s+remember\s*\??\s*)", kCI);
  constexpr std::u32string_view kTrim = U"«»\"'“”.!,: ";
  if (listRe.matchesWhole(text)) return MemoryCommand{list{}};
  for (auto [re, isRemember] : {std::pair{&rememberRe, true}, std::pair{&forgetRe, false}}) {
    auto m = re->firstMatch(text);
    if (!m) continue;
    std::string body = trimWrapping(*m->group(1), kTrim);
    if (body.empty()) return std::nullopt;
    if (isRemember) return MemoryCommand{remember{body}};
    return MemoryCommand{forget{body}};
  }
  return std::nullopt;
}

std::string MemoryCommand::line() const {
  struct Writer {
    std::string operator()(const remember& c) const { return "remember: " + c.text; }
    std::string operator()(const forget& c) const { return "forget: " + c.text; }
    std::string operator()(const list&) const { return "what do you remember?"; }
  };
  return std::visit(Writer{}, value);
}

std::string_view MemoryCommand::caseName() const { return caseOf(value); }
Json MemoryCommand::toJson() const { return jsonOf("MemoryCommand", value); }

// ---------------------------------------------------------------- ChartCommand

std::optional<ChartCommand> ChartCommand::parse(std::string_view text, const MarketNames& markets) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex moversRe(
      R"(\bmovers?\b|what'?s\s+(?:moving|pumping|dumping|hot)|top\s+(?:gainers|losers|coins)|что\s+(?:растёт|растет|падает|движется|качает)|лидеры\s+(?:роста|падения)|топ\s+(?:монет|движени|рост))",
      kCI);
  static const Regex chartRe(
      R"(\bcharts?\b|\bgraph\b|график|свеч|candles?|^\s*(?:show|покажи)\b|how'?s\s+\S+\s+(?:doing|looking)|как\s+там\b)",
      kCI);
  static const Regex month(R"(month|месяц|30\s*(?:d|дн))", kCI);
  static const Regex week(R"(week|недел|7\s*(?:d|дн))", kCI);
  if (moversRe.matches(text)) return ChartCommand{movers{}};
  if (!chartRe.matches(text)) return std::nullopt;
  auto coin = IntentParser::asset(text, markets);
  if (!coin) return std::nullopt;
  ChartRange range = month.matches(text) ? ChartRange::month : week.matches(text) ? ChartRange::week : ChartRange::day;
  return ChartCommand{chart{*coin, range}};
}

std::string ChartCommand::line() const {
  struct Writer {
    std::string operator()(const chart& c) const {
      std::string out = "chart " + c.coin;
      if (c.range != ChartRange::day) out.append(" ").append(chartRangeName(c.range));
      return out;
    }
    std::string operator()(const movers&) const { return "movers"; }
  };
  return std::visit(Writer{}, value);
}

std::string_view ChartCommand::caseName() const { return caseOf(value); }
Json ChartCommand::toJson() const { return jsonOf("ChartCommand", value); }

// ---------------------------------------------------------------- FolderCommand

std::optional<FolderCommand> FolderCommand::parse(std::string_view text) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex noteRe(
      R"(^(?:write|note|add\s+a\s+note|запиши\w*|напиши\w*|заметк\w*|добавь\s+заметку)\s+(?:(?:to|in|into)\s+(?:the\s+)?folder|в\s+папк[уе])\s+[«"“]?([^:«»"“”]+?)[»"”]?\s*:\s*(.+)$)",
      kCI | Regex::kDotAll);
  static const Regex saveRe(
      R"(^(?:save|put|move|keep|сохрани\w*|положи\w*|перенеси\w*|перемести\w*|убери\w*|добавь)\s+(?:(?:this|the|my|этот|это|мой)\s+)?(?:canvas|chat|it|холст|канвас|чат|его)?\s*(?:to|in|into|в)\s+(?:the\s+)?(?:folder|папк[уе])\s+[«"“]?(.+?)[»"”]?\s*[.!]?$)",
      kCI);
  std::string t = text::trimmed(text);
  if (auto m = noteRe.firstMatch(t)) {
    std::string folder = text::trimmed(*m->group(1));
    std::string body = text::trimmed(*m->group(2));
    if (folder.empty() || body.empty()) return std::nullopt;
    return FolderCommand{note{folder, body}};
  }
  if (auto m = saveRe.firstMatch(t)) {
    std::string folder = text::trimmed(*m->group(1));
    if (folder.empty()) return std::nullopt;
    return FolderCommand{save{folder}};
  }
  return std::nullopt;
}

std::string FolderCommand::line() const {
  struct Writer {
    std::string operator()(const save& c) const { return "save this canvas to the folder «" + c.folder + "»"; }
    std::string operator()(const note& c) const { return "note to the folder «" + c.folder + "»: " + c.text; }
  };
  return std::visit(Writer{}, value);
}

std::string_view FolderCommand::caseName() const { return caseOf(value); }
Json FolderCommand::toJson() const { return jsonOf("FolderCommand", value); }

// ---------------------------------------------------------------- PnLCommand

std::string_view pnlPeriodName(PnLPeriod period) {
  switch (period) {
    case PnLPeriod::day: return "day";
    case PnLPeriod::week: return "week";
    case PnLPeriod::month: return "month";
    case PnLPeriod::all: return "all";
  }
  return "all";
}

std::optional<PnLCommand> PnLCommand::parse(std::string_view text) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex pnl(
      R"(profit\s+and\s+loss|\bp\s*[\/&]\s*l\b|\bpnl\b|пнл|прибыл\w*\s+и\s+убыт|сколько\s+(?:я\s+)?(?:заработал|потерял|наторговал)|how\s+much\s+(?:did\s+)?i\s+(?:make|made|earn|earned|lose|lost))",
      kCI);
  static const Regex day(R"(today|24\s*h|\bday\b|сегодня|за\s+день|сутк|суток)", kCI);
  static const Regex week(R"(week|7\s*d\b|недел)", kCI);
  static const Regex month(R"(month|30\s*d\b|месяц)", kCI);
  static const Regex coinRe(R"(\b(?:for|on|по|на)\s+([a-z][a-z0-9]{1,9})\b)", kCI);
  // Words that follow "for"/"on" without naming a coin.
  static const std::array<std::string_view, 14> notCoins = {"THE", "THIS", "LAST", "TODAY", "DAY", "WEEK", "MONTH",
                                                            "ALL", "TIME", "MY", "YEAR", "EVERYTHING", "PERPS", "HL"};
  if (!pnl.matches(text)) return std::nullopt;
  PnLCommand c;
  if (day.matches(text)) {
    c.period = PnLPeriod::day;
  } else if (week.matches(text)) {
    c.period = PnLPeriod::week;
  } else if (month.matches(text)) {
    c.period = PnLPeriod::month;
  }
  for (const RegexMatch& m : coinRe.allMatches(text)) {
    std::string coin = upper(*m.group(1));
    if (std::find(notCoins.begin(), notCoins.end(), coin) != notCoins.end()) continue;
    c.coin = coin;
    break;
  }
  return c;
}

std::string PnLCommand::line() const {
  std::string out = "PnL";
  switch (period) {
    case PnLPeriod::day: out += " today"; break;
    case PnLPeriod::week: out += " this week"; break;
    case PnLPeriod::month: out += " this month"; break;
    case PnLPeriod::all: break;
  }
  if (coin) out += " for " + *coin;
  return out;
}

Json PnLCommand::toJson() const {
  Json j = Json::object();
  j["type"] = "PnLCommand";
  j["period"] = std::string(pnlPeriodName(period));
  if (coin) j["coin"] = *coin;
  return j;
}

// ---------------------------------------------------------------- AlertCommand

namespace {

// A price level: plain or with a comma decimal, or grouped in thousands ("2,500").
std::optional<Decimal> priceLevel(std::string_view text) {
  static const Regex grouped(R"(\d{1,3}(?:,\d{3})+(?:\.\d+)?)");
  if (grouped.matchesWhole(text)) {
    std::string plainText(text);
    plainText.erase(std::remove(plainText.begin(), plainText.end(), ','), plainText.end());
    return Decimal::tryParse(plainText);
  }
  return number(text);
}

}  // namespace

std::optional<AlertCommand> AlertCommand::parse(std::string_view text, const MarketNames& markets) {
  if (!text::isValidUtf8(text)) return std::nullopt;  // broken bytes are no command
  static const Regex clearRe(
      R"(^\s*(?:clear|remove|delete|cancel)\s+(?:all\s+)?(?:the\s+|my\s+)?(?:price\s+)?alerts?\s*[.!]?\s*$|^\s*(?:удали|убери|отмени|сними|очисти)\w*\s+(?:все\s+)?(?:мои\s+)?алерт\w*\s*[.!]?\s*$)",
      kCI);
  static const Regex setRe(
      R"(^\s*(?:(?:set\s+an?\s+)?(?:price\s+)?alert(?:\s+me)?(?:\s+when)?|when|(?:поставь\s+)?алерт\s*:?(?:\s*когда)?|когда|если)\s+\$?([\p{L}\p{N}:]+)\s+(?:is\s+|goes\s+|gets\s+|drops\s+|falls\s+|rises\s+|будет\s+|станет\s+|упад[её]т\s+|поднимется\s+|дойд[её]т\s+)?(above|over|below|under|at|выше|больше|ниже|меньше|до|по)\s+\$?(\d{1,3}(?:,\d{3})+(?:\.\d+)?|\d+(?:[.,]\d+)?)\s*\$?\s*(?::\s*(.*?))?\s*$)",
      kCI | Regex::kDotAll);
  if (clearRe.matches(text)) return AlertCommand{clear{}};
  auto m = setRe.firstMatch(text);
  if (!m) return std::nullopt;
  auto coin = IntentParser::market(*m->group(1), markets);
  if (!coin) coin = IntentParser::asset(*m->group(1), markets);
  auto price = priceLevel(*m->group(3));
  if (!coin || !price || !price->isPositive()) return std::nullopt;
  set s{*coin, *price, std::nullopt, {}};
  std::string side = text::lowercased(*m->group(2));
  if (side == "above" || side == "over" || side == "выше" || side == "больше") s.above = true;
  if (side == "below" || side == "under" || side == "ниже" || side == "меньше") s.above = false;
  if (m->group(4)) {
    s.steps = CommandLines::steps(*m->group(4));
    if (s.steps.empty()) return std::nullopt;  // a colon promises steps
  }
  return AlertCommand{s};
}

std::string AlertCommand::line() const {
  struct Writer {
    std::string operator()(const set& c) const {
      std::string out = "when " + c.coin + (c.above ? (*c.above ? " above " : " below ") : " at ") + plain(c.price);
      for (std::size_t i = 0; i < c.steps.size(); ++i) out += (i == 0 ? ": " : " then ") + c.steps[i];
      return out;
    }
    std::string operator()(const clear&) const { return "clear alerts"; }
  };
  return std::visit(Writer{}, value);
}

std::string_view AlertCommand::caseName() const { return caseOf(value); }
Json AlertCommand::toJson() const { return jsonOf("AlertCommand", value); }

// ---------------------------------------------------------------- line forms

namespace CommandLines {

std::vector<std::string> steps(std::string_view text) {
  static const Regex then(R"(\s+then\s+)", kCI);
  std::vector<std::string> out;
  std::size_t start = 0;
  auto push = [&out](std::string_view piece) {
    std::string t = text::trimmed(piece);
    if (!t.empty()) out.push_back(t);
  };
  for (const RegexMatch& m : then.allMatches(text)) {
    push(text.substr(start, m.begin() - start));
    start = m.end();
  }
  push(text.substr(start));
  return out;
}

std::optional<Scheduled> scheduled(std::string_view text) {
  static const Regex re(
      R"(^\s*(in\s+\d+\s+(?:minute|hour|day|week|month)s?|tomorrow(?:\s+at\s+\d{1,2}:\d\d)?|on\s+\d{4}-\d\d-\d\d(?:\s+at\s+\d{1,2}:\d\d)?|every\s+(?:sunday|monday|tuesday|wednesday|thursday|friday|saturday)(?:\s+at\s+\d{1,2}:\d\d)?|every\s+month\s+on\s+(?:the\s+|day\s+)?\d{1,2}(?:st|nd|rd|th)?(?:\s+at\s+\d{1,2}:\d\d)?|every\s+(?:\d+\s+)?(?:hour|day|week|month)s?(?:\s+at\s+\d{1,2}:\d\d)?|at\s+\d{1,2}:\d\d)\s*:\s*(\S.*?)\s*$)",
      kCI | Regex::kDotAll);
  auto m = re.firstMatch(text);
  if (!m) return std::nullopt;
  return Scheduled{group(*m, 1), group(*m, 2)};
}

std::optional<std::string> check(std::string_view text) {
  static const Regex re(R"(^\s*check\s*:\s*(\S.*?)\s*$)", kCI | Regex::kDotAll);
  auto m = re.firstMatch(text);
  if (!m) return std::nullopt;
  return group(*m, 1);
}

bool cancelsScheduledTasks(std::string_view text) {
  static const Regex re(R"((?:cancel|stop|remove|delete|clear)\s+(?:all\s+)?(?:the\s+)?scheduled\s+tasks?)", kCI);
  return re.matches(text);
}

}  // namespace CommandLines

}  // namespace orwenna
