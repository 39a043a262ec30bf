// The grammar of WalletCommand: each shape is tried in turn; the first that
// reads the line wins.
#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <limits>

#include "base/regex.h"
#include "base/text.h"
#include "language/command_text.h"
#include "language/wallet_command.h"

namespace orwenna {
namespace {

using namespace grammar;
namespace w = wallet;
using V = WalletCommand::Value;
using R = std::optional<V>;

std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

constexpr std::string_view kBuy = R"((?:buy|купи\w*|покупай\w*|закупи\w*))";
constexpr std::string_view kSell = R"((?:sell|прода\w*))";
constexpr std::string_view kSend = R"((?:send|transfer|отправь\w*|переведи|перевести|скинь|кинь))";
constexpr std::string_view kTick = R"(\$?([a-z][a-z0-9]{1,9}))";
constexpr std::string_view kSolana = R"((?:solana|солан\w*))";
// " for N USDC" / " на 10 баксов": one capture.
constexpr std::string_view kFor = R"((?:\s+(?:for|на|за)\s+\$?(\d+(?:[.,]\d+)?)(?:\s*(?:usdc|usd|\$|долл\w*|бакс\w*))?))";
constexpr std::string_view kUnitMoney = R"(\s*(?:usdc|\$|долл\w*|бакс\w*))";

bool isAddressLike(std::string_view token) {
  return token.starts_with("0x") || token.starts_with("0X") || token.size() >= 32;
}

// Tickers are compared and written in capitals; contracts and mints as typed.
std::string tokenName(std::string_view token) {
  if (isAddressLike(token)) return std::string(token);
  if (token.ends_with(".e") || token.ends_with(".E")) return upper(token.substr(0, token.size() - 2)) + ".e";
  return upper(token);
}

std::string ownCoin(const std::string& network) {
  if (network == "solana") return "SOL";
  if (network == "near") return "NEAR";
  if (network == "polygon") return "POL";
  if (network == "bnb") return "BNB";
  if (network == "hyperevm" || network == "hyperliquid") return "HYPE";
  if (network == "tempo") return "";
  return "ETH";
}

bool isEvm(const std::string& n) {
  return n == "base" || n == "arbitrum" || n == "polygon" || n == "ethereum" || n == "optimism" ||
         n == "bnb" || n == "hyperevm" || n == "robinhood" || n == "tempo";
}

std::string cleanName(std::string name) {
  name = text::trimmed(name);
  while (!name.empty() && (name.back() == '.' || name.back() == '!')) name.pop_back();
  return text::trimmed(name);
}

// "переведи 100 usdc на бейс" moves money to a network; it is not a send to a
// contact called "бейс".
bool isRecipient(const std::string& name) { return !name.empty() && !network(name); }

// ----------------------------------------------------------- shapes

R pay(std::string_view t) {
  static const Regex re(
      R"(^\s*pay\s+(?:(get|post|put|patch|delete)\s+)?(https:\/\/[^\s{}\[\]]+)(?:\s+(?:with\s+)?([\{\[].*[\}\]]))?\s*$)",
      kCI | Regex::kDotAll);
  auto m = re.firstMatch(t);
  if (!m) return std::nullopt;
  w::pay p;
  if (m->group(1)) p.method = upper(*m->group(1));
  p.url = group(*m, 2);
  if (m->group(3)) p.body = std::string(*m->group(3));
  return p;
}

R contractCall(std::string_view t) {
  static const Regex re(
      R"(^\s*call\s+(\S+)\s+(0x[0-9a-f]{40})\s+([a-z_]\w*\((?:[^()\s]|\([^()\s]*\))*\))(?=\s|$)((?:\s+(?!with\s|approving\s)\S+)*?)(?:\s+with\s+(\d+(?:[.,]\d+)?)\s+[a-z]+)?(?:\s+approving\s+(\d+(?:[.,]\d+)?)\s+(\S+))?\s*$)",
      kCI);
  auto m = re.firstMatch(t);
  if (!m) return std::nullopt;
  auto net = network(*m->group(1));
  if (!net || !isEvm(*net)) return std::nullopt;
  ContractCall call;
  call.network = *net;
  call.contract = group(*m, 2);
  call.function = group(*m, 3);
  static const Regex arg(R"(\S+)");
  std::string args = group(*m, 4);
  for (const RegexMatch& a : arg.allMatches(args)) call.args.emplace_back(a.whole());
  if (m->group(5)) {
    call.value = number(*m->group(5));
    if (!call.value) return std::nullopt;
  }
  if (m->group(6)) {
    auto amount = number(*m->group(6));
    if (!amount) return std::nullopt;
    call.approve = ContractCall::Approve{*amount, tokenName(*m->group(7))};
  }
  return w::contractCall{std::move(call)};
}

R revokeApproval(std::string_view t) {
  static const Regex re(
      R"(\b(?:revoke|cancel|отзов\w*|отмен\w*)\s+(?:the\s+)?(?:permit2\s+)?(?:approval|разрешени\w*)\s+(?:of|на|для)?\s*(0x[0-9a-fA-F]{40})\s+(?:to|для|у)\s+(0x[0-9a-fA-F]{40})\s+(?:on|на|в)\s+(base|бейс\w*|arbitrum|арбитрум\w*|polygon|полигон\w*|ethereum|эфириум\w*|mainnet|robinhood|робинхуд\w*)\b)",
      kCI);
  static const Regex permit2(R"(permit2)", kCI);
  auto m = re.firstMatch(t);
  if (!m) return std::nullopt;
  return w::revokeApproval{*network(*m->group(3)), group(*m, 1), group(*m, 2), permit2.matches(t)};
}

R showApprovals(std::string_view t) {
  static const Regex re(
      R"(\b(?:show\s+|my\s+|list\s+|check\s+|revoke\s+)?(?:token\s+)?approvals\b|\ballowances\b|(?:мои|покажи|проверь|какие)\s+(?:\w+\s+)?разрешени\w*|кому\s+(?:я\s+)?(?:дал|выдал)\w*\s+разрешени|апрув\w*)",
      kCI);
  if (!re.matches(t)) return std::nullopt;
  return w::showApprovals{};
}

R stopSchedules(std::string_view t) {
  static const Regex re(
      R"((?:останов|отмен|прекрат|стоп)\w*\s+(?:регулярн\w*\s+)?(?:покупк|dca|расписан)|(?:stop|cancel|end)\s+(?:the\s+|all\s+)?(?:recurring|regular|scheduled)?\s*(?:buys|purchases|dca|schedules?)\b)",
      kCI);
  if (!re.matches(t)) return std::nullopt;
  return w::stopSchedules{};
}

std::optional<int> unitSeconds(std::string_view unit) {
  std::string u = text::lowercased(unit);
  // An interval split from "over N days" may be written back in seconds.
  if (u.starts_with("sec") || u.starts_with("сек")) return 1;
  if (u.starts_with("min") || u.starts_with("мин")) return 60;
  if (u.starts_with("hour") || u.starts_with("час")) return 3600;
  if (u.starts_with("day") || u.starts_with("дн") || u.starts_with("ден") || u.starts_with("сут")) return 86400;
  if (u.starts_with("week") || u.starts_with("недел")) return 604800;
  if (u.starts_with("month") || u.starts_with("месяц")) return 2592000;
  return std::nullopt;
}

// A count of at most six ASCII digits (\d also matches other scripts' digits).
std::optional<int> smallInt(std::optional<std::string_view> g, int fallback) {
  if (!g) return fallback;
  if (g->empty() || g->size() > 6) return std::nullopt;
  int v = 0;
  for (char c : *g) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v <= 0) return std::nullopt;
  return v;
}

// n units of time in seconds, when that fits an int.
std::optional<int> duration(int n, int unitSeconds) {
  std::int64_t total = static_cast<std::int64_t>(n) * unitSeconds;
  if (total > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(total);
}

constexpr std::string_view kUnit =
    R"((second|minute|hour|day|week|month|секунд\w*|минут\w*|час\w*|день|дня|дней|сутки|суток|недел\w*|месяц\w*)s?)";

R jupiterDCA(std::string_view t) {
  static const Regex cancel(
      cat({R"(^\s*(?:cancel|stop|end|отмени\w*|останови\w*|прекрати\w*)\s+(?:the\s+|my\s+|all\s+)?(?:jupiter|jup|джупитер\w*|юпитер\w*)\s+dca(?:\s+(?:on|for|на|по)?\s*)"
           R"(\$?([a-z][a-z0-9]{1,9}))?)",
           kEnd}),
      kCI);
  static const Regex orders(
      cat({R"(^\s*(?:show|list|check|покажи|мои)\s+(?:me\s+)?(?:my\s+|мои\s+)?(?:jupiter|jup|джупитер\w*|юпитер\w*)\s+dca(?:\s+(?:orders|ордер\w*))?)",
           kEnd}),
      kCI);
  static const Regex make(
      cat({R"(^\s*(?:jupiter\s+|jup\s+|джупитер\w*\s+|юпитер\w*\s+)?dca\s+(?:(\d+(?:[.,]\d+)?)\s*(?:usdc|\$|usd)?\s+|usdc\s+)?(?:into|in|to|в|на)\s+)",
           kTick,
           R"((?:\s+(?:in|за|в)\s+(\d+)\s+(?:orders|ордер\w*|заказ\w*|покуп\w*|част\w*))?)",
           R"((?:\s+(?:every|кажд\w*|раз\s+в)\s+(?:(\d+)\s+)?)", kUnit, R"(|\s+(?:over|за|в\s+течение)\s+(\d+)\s+)", kUnit,
           ")?", kEnd}),
      kCI);
  if (auto m = cancel.firstMatch(t)) {
    w::jupiterDCACancel c;
    if (m->group(1)) c.asset = upper(*m->group(1));
    return c;
  }
  if (orders.matches(t)) return w::jupiterDCAOrders{};
  auto m = make.firstMatch(t);
  if (!m) return std::nullopt;
  w::jupiterDCA d;
  d.asset = SpotAsset::forTicker(*m->group(2));
  if (m->group(1)) {
    d.usdc = number(*m->group(1));
    if (!d.usdc) return std::nullopt;
  }
  if (m->group(3)) {
    auto n = smallInt(m->group(3), 1);
    if (!n) return std::nullopt;
    d.orders = *n;
  }
  if (m->group(5)) {
    auto n = smallInt(m->group(4), 1);
    auto unit = unitSeconds(*m->group(5));
    auto every = n && unit ? duration(*n, *unit) : std::nullopt;
    if (!every) return std::nullopt;
    d.every = *every;
  } else if (m->group(7)) {
    auto n = smallInt(m->group(6), 1);
    auto unit = unitSeconds(*m->group(7));
    auto total = n && unit ? duration(*n, *unit) : std::nullopt;
    if (!total) return std::nullopt;
    if (d.orders) {
      d.every = *total / *d.orders;
    } else {
      d.orders = *n;
      d.every = *unit;
    }
    if (d.every <= 0) return std::nullopt;
  }
  return d;
}

R schedule(std::string_view t) {
  constexpr std::string_view kEvery =
      R"(\s+(?:every|each|кажд\w*|раз\s+в)\s+(?:(\d+)\s+)?(day|week|день|дня|дней|сутки|недел\w*)s?)";
  static const Regex forThenEvery(
      cat({R"(^\s*)", kBuy, R"(\s+\$?(sol|btc|eth|jup|jitosol))", kFor, kEvery, kEnd}), kCI);
  static const Regex everyThenFor(
      cat({R"(^\s*)", kBuy, R"(\s+\$?(sol|btc|eth|jup|jitosol))", kEvery, kFor, kEnd}), kCI);
  std::string_view tick, usdc, unit;
  std::optional<std::string_view> count;
  if (auto m = forThenEvery.firstMatch(t)) {
    tick = *m->group(1), usdc = *m->group(2), count = m->group(3), unit = *m->group(4);
  } else if (auto e = everyThenFor.firstMatch(t)) {
    tick = *e->group(1), count = e->group(2), unit = *e->group(3), usdc = *e->group(4);
  } else {
    return std::nullopt;
  }
  auto amount = number(usdc);
  auto n = smallInt(count, 1);
  auto seconds = unitSeconds(unit);
  if (!amount || !n || !seconds) return std::nullopt;
  return w::schedule{SpotAsset::forTicker(tick), *amount, *n * (*seconds / 86400)};
}

R hyperliquidSpot(std::string_view t) {
  constexpr std::string_view kSpot = R"(\s+(?:on|на)\s+(?:the\s+)?(?:hyperliquid|хайперликвид\w*)\s+(?:spot|спот\w*))";
  static const Regex buyRe(cat({R"(^\s*)", kBuy, R"(\s+)", kTick, kFor, "?", kSpot, kFor, "?", kEnd}), kCI);
  static const Regex sellRe(
      cat({R"(^\s*)", kSell, R"(\s+(?:)", kNumOrAll, R"(\s+)?)", kTick, kSpot, kEnd}), kCI);
  if (auto m = buyRe.firstMatch(t)) {
    auto g = m->group(2) ? m->group(2) : m->group(3);
    w::hlSpotBuy b{upper(*m->group(1)), amountOrAll(g)};
    if (g && !b.usdc) return std::nullopt;
    return b;
  }
  if (auto m = sellRe.firstMatch(t)) return w::hlSpotSell{upper(*m->group(2)), amountOrAll(m->group(1))};
  return std::nullopt;
}

R stocks(std::string_view t) {
  constexpr std::string_view kStock = R"((?:stocks?|shares?|акци\w*))";
  constexpr std::string_view kSym = R"(\$?([a-z][a-z0-9.]{0,11}))";
  static const Regex buyAfter(cat({R"(^\s*)", kBuy, R"(\s+)", kSym, R"(\s+)", kStock, kFor, "?", kEnd}), kCI);
  static const Regex buyBefore(
      cat({R"(^\s*)", kBuy, R"(\s+)", kStock, R"(\s+(?:of\s+)?)", kSym, kFor, "?", kEnd}), kCI);
  static const Regex sellAfter(
      cat({R"(^\s*)", kSell, R"(\s+(?:)", kNum, R"(\s+)?)", kSym, R"(\s+)", kStock, kEnd}), kCI);
  static const Regex sellBefore(
      cat({R"(^\s*)", kSell, R"(\s+(?:)", kNum, R"(\s+)?)", kStock, R"(\s+(?:of\s+)?)", kSym, kEnd}), kCI);
  for (const Regex* re : {&buyAfter, &buyBefore}) {
    if (auto m = re->firstMatch(t)) {
      w::buyStock b{upper(*m->group(1)), amountOrAll(m->group(2))};
      if (m->group(2) && !b.usdc) return std::nullopt;
      return b;
    }
  }
  for (const Regex* re : {&sellAfter, &sellBefore}) {
    if (auto m = re->firstMatch(t)) return w::sellStock{upper(*m->group(2)), amountOrAll(m->group(1))};
  }
  return std::nullopt;
}

R nearTrades(std::string_view t) {
  constexpr std::string_view kNear = R"((?:near|неар\w*|ниар\w*))";
  static const Regex buyRe(cat({R"(^\s*)", kBuy, R"(\s+)", kNear, kFor, "?", kEnd}), kCI);
  static const Regex sellRe(
      cat({R"(^\s*)", kSell, R"(\s+(?:)", kNumOrAll, R"(\s+)?)", kNear,
           R"((?:\s+(?:for|за|на|в)\s+usdc(?:\s+(?:on|на|в)\s+(base|бейс\w*|бейз\w*|arbitrum|арбитрум\w*|ethereum|эфириум\w*|mainnet))?)?)",
           kEnd}),
      kCI);
  if (auto m = buyRe.firstMatch(t)) {
    w::buyNear b{amountOrAll(m->group(1))};
    if (m->group(1) && !b.usdc) return std::nullopt;
    return b;
  }
  if (auto m = sellRe.firstMatch(t)) {
    w::sellNear s{amountOrAll(m->group(1)), std::nullopt};
    if (m->group(2)) s.to = network(*m->group(2));
    return s;
  }
  return std::nullopt;
}

// A swap with USDC on one side is the network's buy or sell, except against its own coin.
R swapAsTrade(const std::string& net, const std::string& from, const std::string& to,
              const OptDecimal& amount, bool amountGiven) {
  bool buying = from == "USDC";
  const std::string& other = buying ? to : from;
  if (other == "USDC" || other == ownCoin(net) || isAddressLike(other)) return std::nullopt;
  if (net == "solana") {
    if (buying) return amountGiven ? R(w::buy{SpotAsset::forTicker(other), amount}) : std::nullopt;
    return w::sell{SpotAsset::forTicker(other), amount};
  }
  if (net == "hyperliquid") {
    if (buying) return amountGiven ? R(w::hlSpotBuy{other, amount}) : std::nullopt;
    return w::hlSpotSell{other, amount};
  }
  if (buying) return amountGiven ? R(w::buyOn{net, other, amount, std::nullopt}) : std::nullopt;
  return w::sellOn{net, other, amount, false};
}

R swaps(std::string_view t) {
  constexpr std::string_view kSwap = R"(\b(?:swap|exchange|convert|поменя\w*|обменя\w*|свапн\w*|свопн\w*|конверт\w*)\s+(?:(\d+(?:[.,]\d+)?|all|все|всё|весь|всю)\s+)?\$?)";
  constexpr std::string_view kCrossNet = R"((solana|солан\w*|near|неар\w*|base|бейс\w*|бейз\w*|arbitrum|арбитрум\w*|polygon|полигон\w*|ethereum|эфириум\w*|mainnet|мейннет\w*|robinhood|робинхуд\w*|optimism|оптимизм\w*|bnb(?:\s+(?:smart\s+)?chain)?|bsc|бнб\w*|бсц\w*|hyperevm|hyper\s+evm|хайперевм\w*|гиперевм\w*))";
  constexpr std::string_view kCrossTok = R"((0x[0-9a-fA-F]{40}|[A-Za-z][A-Za-z0-9]{1,11}(?:\.e)?))";
  static const Regex cross(
      cat({kSwap, kCrossTok, R"(\s+(?:(?:on|from|in|на|в|во|с|со)\s+)", kCrossNet,
           R"((?:\s+chain)?\s+)?(?:for|to|into|на|в)\s+\$?)", kCrossTok, R"(\s+(?:on|in|at|на|в|во)\s+)",
           kCrossNet, R"(\b)"}),
      kCI);
  constexpr std::string_view kTok = R"((0x[0-9a-fA-F]{40}|[1-9A-HJ-NP-Za-km-z]{32,44}|[A-Za-z][A-Za-z0-9]{1,11}(?:\.e)?))";
  static const Regex on(
      cat({kSwap, kTok, R"(\s+(?:for|to|into|на|в)\s+\$?)", kTok,
           R"(\s+(?:on|на|в|во)\s+(?:the\s+)?(solana|солан\w*|near|неар\w*|robinhood|робин[гх]уд\w*|hyperliquid(?:\s+spot)?|хайперликвид\w*(?:\s+спот\w*)?|base|бейс\w*|бейз\w*|arbitrum|арбитрум\w*|polygon|полигон\w*|ethereum|эфириум\w*|mainnet|мейннет\w*|tempo|темпо\w*|optimism|оптимизм\w*|bnb(?:\s+(?:smart\s+)?chain)?|bsc|бнб\w*|бсц\w*|binance\s+smart\s+chain|hyperevm|hyper\s+evm|хайперевм\w*|гиперевм\w*)\b)"}),
      kCI);
  if (auto m = cross.firstMatch(t); m && m->group(3)) {
    auto from = network(*m->group(3));
    auto to = network(*m->group(5));
    if (from && to && *from != *to) {
      return w::crossSwap{tokenName(*m->group(2)), *from, tokenName(*m->group(4)), *to,
                          amountOrAll(m->group(1))};
    }
  }
  auto m = on.firstMatch(t);
  if (!m) return std::nullopt;
  std::string netWord(*m->group(4));
  static const Regex spot(R"(\s+(?:spot|спот\w*)$)", kCI);
  netWord = spot.replaceAll(netWord, "");
  auto net = network(netWord);
  if (!net) return std::nullopt;
  std::string from = tokenName(*m->group(2)), to = tokenName(*m->group(3));
  if (upper(from) == upper(to)) return std::nullopt;
  OptDecimal amount = amountOrAll(m->group(1));
  if (from == "USDC" || to == "USDC") {
    if (auto trade = swapAsTrade(*net, from, to, amount, m->group(1).has_value())) return trade;
  }
  return w::swapOn{*net, from, to, amount};
}

R tradesOnNetworks(std::string_view t) {
  constexpr std::string_view kOn = R"(\s+(?:on|in|на|в|во)\s+(?:the\s+)?)";
  static const Regex buyOnRe(
      cat({R"(^\s*)", kBuy, R"(\s+(?:(?:token|токен\w*)\s+)?\$?(0x[0-9a-fA-F]{40}|[a-z][a-z0-9]{1,11}))", kOn,
           kNetwork, kFor, R"(?(?:\s+(?:from|из|с|со)\s+(?:the\s+)?)", kNetwork, ")?", kEnd}),
      kCI);
  static const Regex sellOnRe(
      cat({R"(^\s*)", kSell, R"(\s+(?:)", kNumOrAll,
           R"(\s+)?(?:(?:tokens?|токен\w*)\s+)?\$?(0x[0-9a-fA-F]{40}|[a-z][a-z0-9]{1,11}))", kOn, kNetwork,
           R"(((?:\s+\S+)*?))", kEnd}),
      kCI);
  static const Regex keep(R"(\bkeep\b|\bstays?\b|остав\w*|остан\w*|не\s+выводи)", kCI);
  if (auto m = buyOnRe.firstMatch(t)) {
    auto net = network(*m->group(2));
    if (!net || *net == "solana" || *net == "hyperliquid") return std::nullopt;
    w::buyOn b{*net, tokenName(*m->group(1)), amountOrAll(m->group(3)), std::nullopt};
    if (m->group(3) && !b.usdc) return std::nullopt;
    if (m->group(4)) {
      b.from = network(*m->group(4));
      if (!b.from || *b.from == *net) return std::nullopt;
    }
    return b;
  }
  if (auto m = sellOnRe.firstMatch(t)) {
    auto net = network(*m->group(3));
    if (!net || *net == "solana" || *net == "hyperliquid") return std::nullopt;
    std::string rest = group(*m, 4);
    bool kept = keep.matches(rest);
    if (!rest.empty() && !kept) return std::nullopt;
    return w::sellOn{*net, tokenName(*m->group(2)), amountOrAll(m->group(1)), kept};
  }
  return std::nullopt;
}

// Russian names of the coins the wallet trades by ticker.
std::string_view russianCoin(std::string_view word) {
  static const std::array<std::pair<Regex, std::string_view>, 4> names = {{
      {Regex(R"(эфир\w*|эфириум\w*)", kCI), "ETH"},
      {Regex(R"(биткоин\w*|биткойн\w*|биток\w*)", kCI), "BTC"},
      {Regex(R"(солан\w*|сол[аыуе]?)", kCI), "SOL"},
      {Regex(R"(джуп\w*)", kCI), "JUP"},
  }};
  for (const auto& [re, ticker] : names) {
    if (re.matchesWhole(word)) return ticker;
  }
  return word;
}

R solanaTrades(std::string_view t) {
  constexpr std::string_view kOnSolana = R"((\s+(?:on|in|на|в)\s+(?:the\s+)?(?:solana|солан\w*))?)";
  constexpr std::string_view kCoin = R"(\$?([a-z][a-z0-9]{1,9}|эфир\w*|биткоин\w*|биткойн\w*|биток\w*|солан\w*|сол[аыуе]?|джуп\w*))";
  static const Regex buyRe(cat({R"(^\s*)", kBuy, R"(\s+)", kCoin, kOnSolana, kFor, "?", kOnSolana, kEnd}), kCI);
  // "buy 10 USDC of SOL", "купи на 10 usdc SOL"
  static const Regex buyWorth(
      cat({R"(^\s*)", kBuy, R"(\s+(?:на\s+|for\s+)?\$?)", kNum,
           R"(\s*(?:usdc|\$|долл\w*|бакс\w*)\s+(?:of\s+|worth\s+of\s+)?)", kCoin, kOnSolana, kEnd}),
      kCI);
  static const Regex sellRe(
      cat({R"(^\s*)", kSell, R"(\s+(?:)", kNumOrAll, R"(\s+)?)", kCoin, kOnSolana, kEnd}), kCI);
  auto asset = [](std::string_view word, bool onSolana) -> std::optional<SpotAsset> {
    std::string_view tick = russianCoin(word);
    std::string u = upper(tick);
    if (u == "USDC" || u == "NEAR" || u == "TOKEN" || u == "TOKENS" || u == "STOCK") return std::nullopt;
    if (auto known = SpotAsset::known(tick)) return known;
    if (!onSolana) return std::nullopt;
    return SpotAsset::forTicker(tick);
  };
  if (auto m = buyRe.firstMatch(t)) {
    auto a = asset(*m->group(1), m->group(2) || m->group(4));
    if (!a) return std::nullopt;
    w::buy b{*a, amountOrAll(m->group(3))};
    if (m->group(3) && !b.usdc) return std::nullopt;
    return b;
  }
  if (auto m = buyWorth.firstMatch(t)) {
    auto a = asset(*m->group(2), m->group(3).has_value());
    auto usdc = number(*m->group(1));
    if (!a || !usdc) return std::nullopt;
    return w::buy{*a, usdc};
  }
  if (auto m = sellRe.firstMatch(t)) {
    std::string u = upper(*m->group(2));
    if (u == "JITOSOL") return w::unstake{amountOrAll(m->group(1))};
    auto a = asset(*m->group(2), m->group(3).has_value());
    if (!a) return std::nullopt;
    return w::sell{*a, amountOrAll(m->group(1))};
  }
  return std::nullopt;
}

R sends(std::string_view t) {
  constexpr std::string_view kTo = R"(\s+(?:to|на|для)\s+[«"“]?(.+?)[»"”]?\s*[.!]?$)";
  static const Regex sol(
      cat({R"(^\s*)", kSend, R"(\s+(\d+(?:[.,]\d+)?)\s*(?:sol|сол\w*)(?:\s+(?:on|in|в|на|по)\s+(?:the\s+)?(?:сети\s+)?(?:solana|солан\w*)(?:\s+(?:network|chain|сети))?)?)",
           kTo}),
      kCI);
  static const Regex near(cat({R"(^\s*)", kSend, R"(\s+)", kNumOrAll, R"(\s*(?:near|неар\w*))", kTo}), kCI);
  static const Regex close(
      R"(^\s*(?:close|delete|закр\w*|удали\w*)\s+(?:(?:the|my|мой)\s+)?(?:near|неар\w*)[\s-]*(?:account|аккаунт\w*)\s+(?:into|to|в|на)\s+[«"“]?(.+?)[»"”]?\s*[.!]?$)",
      kCI);
  static const Regex usdc(
      cat({R"(^\s*)", kSend, R"(\s+(?:\$(\d+(?:[.,]\d+)?)(?:\s*usdc)?|(\d+(?:[.,]\d+)?))", kUnitMoney, ")",
           R"(\s+(?:to|на|для)\s+[«"“]?(.+?)[»"”]?(?:\s+(?:on|in|в|на)\s+(?:the\s+)?(?:сети\s+)?)", kNetwork,
           R"()?\s*[.!]?$)"}),
      kCI);
  static const Regex token(
      R"(^\s*(?:send|transfer|отправь\w*|переведи|перевести|скинь|кинь)\s+(all|весь|всё|все|\d+(?:[.,]\d+)?)\s+(?:(?:the|my|мои|мой|моих)\s+)?\$?(0x[0-9a-fA-F]{40}|[1-9A-HJ-NP-Za-km-z]{32,44}|[A-Za-z][A-Za-z0-9._-]{0,19})(?:\s+tokens?)?(?:\s+(?:on|in|в|на|по)\s+(?:the\s+)?(?:сети\s+)?(hyperevm|hyper\s+evm|хайперевм\w*|гиперевм\w*|optimism|оптимизм\w*|bnb(?:\s+(?:smart\s+)?chain)?|bsc|бнб\w*|бсц\w*|binance\s+smart\s+chain|solana|солан\w*|base|бейс\w*|бейз\w*|баз[еыау]|arbitrum|арбитрум\w*|polygon|полигон\w*|ethereum|эфир\w*|mainnet|robinhood|робин[гх]уд\w*|tempo|темпо\w*|bitcoin|биткоин\w*|zcash|tron|трон\w*|xrp|ripple|dogecoin|sui)(?:\s+(?:network|chain|сети))?)?\s+(?:to|на|для)\s+[«"“]?(.+?)[»"”]?\s*[.!]?$)",
      kCI);
  if (auto m = close.firstMatch(t)) {
    std::string name = cleanName(group(*m, 1));
    if (!isRecipient(name)) return std::nullopt;
    return w::closeNear{name};
  }
  if (auto m = sol.firstMatch(t)) {
    auto amount = number(*m->group(1));
    std::string name = cleanName(group(*m, 2));
    if (!amount || !isRecipient(name)) return std::nullopt;
    return w::sendSol{name, *amount};
  }
  if (auto m = near.firstMatch(t)) {
    std::string name = cleanName(group(*m, 2));
    if (!isRecipient(name)) return std::nullopt;
    return w::sendNear{name, amountOrAll(m->group(1))};
  }
  if (auto m = usdc.firstMatch(t)) {
    auto amount = number(m->group(1) ? *m->group(1) : *m->group(2));
    std::string name = cleanName(group(*m, 3));
    if (!amount || !isRecipient(name)) return std::nullopt;
    w::sendTo s{name, *amount, std::nullopt};
    if (m->group(4)) s.network = network(*m->group(4));
    return s;
  }
  if (auto m = token.firstMatch(t)) {
    w::sendToken s{cleanName(group(*m, 4)), tokenName(*m->group(2)), amountOrAll(m->group(1)), std::nullopt};
    if (!isRecipient(s.name)) return std::nullopt;
    if (m->group(3)) {
      static const Regex suffix(R"(\s+(?:network|chain|сети)$)", kCI);
      s.network = network(*m->group(3));
      if (!s.network) s.network = network(suffix.replaceAll(*m->group(3), ""));
    }
    return s;
  }
  return std::nullopt;
}

R usdcMove(const std::string& from, const std::string& to, const OptDecimal& amount, bool usdg, bool viaCctp);

R moves(std::string_view t) {
  constexpr std::string_view kMove = R"((?:move|send|bridge|transfer|withdraw|bring|перевед\w*|переведи|перенеси|отправь\w*|выведи|вывести|верни|бриджни))";
  static const Regex re(
      cat({R"(^\s*)", kMove, R"(\s+(?:)", kNumOrAll, R"(\s*)?(?:(usdc|usdg)\s+)?(?:from|из|с|со)\s+(?:the\s+)?)",
           kNetwork, R"(\s+(?:to|into|в|на)\s+(?:the\s+)?)", kNetwork,
           R"((\s+(?:via|through|through\s+the|через)\s+(?:cctp|circle|циркл\w*|сиркл\w*))?)", kEnd}),
      kCI);
  static const Regex withdraw(
      cat({R"(^\s*(?:withdraw|выведи|вывести)\s+(?:)", kNumOrAll,
           R"(\s*)?(?:usdc\s+)?(?:to|на|в)\s+(?:solana|солан\w*)(?:\s+from\s+hyperliquid|\s+с\s+хайперликвид\w*)?)", kEnd}),
      kCI);
  if (auto m = withdraw.firstMatch(t)) return w::withdrawToSolana{amountOrAll(m->group(1))};
  auto m = re.firstMatch(t);
  if (!m) return std::nullopt;
  auto from = network(*m->group(3));
  auto to = network(*m->group(4));
  if (!from || !to) return std::nullopt;
  bool usdg = m->group(2) && upper(*m->group(2)) == "USDG";
  return usdcMove(*from, *to, amountOrAll(m->group(1)), usdg, m->group(5).has_value());
}

R usdcMove(const std::string& from, const std::string& to, const OptDecimal& amount, bool usdg, bool viaCctp) {
  if (from == to) return std::nullopt;
  if (viaCctp) return w::cctp{from, to, amount};
  if (to == "solana") {
    if (from == "hyperliquid") return w::withdrawToSolana{amount};
    if (from == "robinhood") return w::robinhoodToSolana{amount};
    if (usdg) return std::nullopt;
    if (from == "base") return w::baseToSolana{amount};
    if (from == "arbitrum") return w::arbitrumToSolana{amount};
    if (from == "optimism" || from == "polygon" || from == "ethereum" || from == "tempo" || from == "hyperevm" ||
        from == "bnb") {
      return w::evmToSolana{from, amount};
    }
    return std::nullopt;
  }
  if (usdg) return std::nullopt;
  if (from == "solana") return w::solanaTo{to, amount};
  if ((isEvm(from) || from == "hyperliquid") && (isEvm(to) || to == "hyperliquid")) return w::bridge{from, to, amount};
  return std::nullopt;
}

// The first money amount of a loose sentence: "$5", "5 usdc", "5 баксов", else a
// plain number that is not a percentage, leverage or R multiple.
OptDecimal looseAmount(std::string_view t) {
  static const Regex dollar(R"(\$\s*(\d+(?:[.,]\d+)?))", kCI);
  static const Regex money(R"((\d+(?:[.,]\d+)?)\s*(?:usdc|usdg|\$|долл|dollars?|bucks|бакс))", kCI);
  static const Regex plainNumber(R"((?:^|[^\w.,])(\d+(?:[.,]\d+)?)(?![\d.,]*\s*(?:%|x\b|х\b|×|r\b)))", kCI);
  for (const Regex* re : {&money, &dollar, &plainNumber}) {
    if (auto m = re->firstMatch(t)) return number(*m->group(1));
  }
  return std::nullopt;
}

// Loose wordings of a USDC move: the source and the destination in any order,
// e.g. "верни 100 usdc на солану с бейса".
R looseMoves(std::string_view t) {
  if (t.find('?') != std::string_view::npos) return std::nullopt;
  static const Regex verb(
      R"(^\s*(?:move|send|bring|bridge|transfer|withdraw\w*|выв[её]д\w*|верн\w*|перевед\w*|переведи|перенес\w*|отправь\w*|бриджни)(?!\w))",
      kCI);
  static const Regex source(
      cat({R"((?:^|\s)(?:from|из|с|со)\s+(?:the\s+|my\s+|моего\s+)?)", kNetwork, R"((?!\w))"}), kCI);
  static const Regex destination(
      cat({R"((?:^|\s)(?:to|into|в|на)\s+(?:the\s+|my\s+|мой\s+|мою\s+)?)", kNetwork, R"((?!\w))"}), kCI);
  static const Regex dollars(R"(\b(?:usdc|usdg)\b|\$|долл\w*|бакс\w*|\bmoney\b|\bfunds\b|деньги|\ball\b|всё|\bвсе\b)", kCI);
  static const Regex usdg(R"(\busdg\b)", kCI);
  static const Regex cctpWord(R"(\bcctp\b|\bcircle\b|циркл|сиркл)", kCI);
  if (!verb.matches(t) || !dollars.matches(t)) return std::nullopt;
  auto src = source.firstMatch(t);
  if (!src) return std::nullopt;
  // The destination is a network named by to/into/в/на anywhere but the source itself.
  std::optional<std::string> to;
  for (const RegexMatch& d : destination.allMatches(t)) {
    if (auto n = network(*d.group(1)); n && d.begin() != src->begin()) to = n;
  }
  auto from = network(*src->group(1));
  if (!from || !to) return std::nullopt;
  return usdcMove(*from, *to, looseAmount(t), usdg.matches(t), cctpWord.matches(t));
}

// "I need gas on base", "закинь немного газа на арбитрум".
R looseGas(std::string_view t) {
  if (t.find('?') != std::string_view::npos) return std::nullopt;
  static const Regex gasWord(R"(\bgas\b|\bгаз\w*)", kCI);
  static const Regex verb(
      R"(\badd\b|top\s*up|\bbring\b|\bget\b|\bbuy\b|добав\w*|доки\w*|пополн\w*|закин\w*|подкин\w*|купи\w*|нуж\w*|\bneed\b)",
      kCI);
  static const Regex where(cat({R"((?:^|\s)(?:on|to|for|in|на|в)\s+(?:the\s+)?)", kNetwork, R"((?!\w))"}), kCI);
  if (!gasWord.matches(t) || !verb.matches(t)) return std::nullopt;
  auto m = where.firstMatch(t);
  if (!m) return std::nullopt;
  auto net = network(*m->group(1));
  if (!net || *net == "hyperliquid" || *net == "solana") return std::nullopt;
  return w::gas{*net, looseAmount(t)};
}

R savings(std::string_view t) {
  constexpr std::string_view kOnNet = R"((?:\s+(?:on|in|на|в)\s+(?:the\s+)?)";
  constexpr std::string_view kAave = R"(\s+(?:on|in|at|на|в|с|из)\s+(?:aave|ааве|аве))";
  static const Regex borrow(
      cat({R"(^\s*(?:borrow|займи|занять|возьми\s+в\s+долг|одолжи)\s+(?:)", kNum, R"(\s*)?(?:usdc))", kAave, kOnNet,
           kNetwork, ")?", kEnd}),
      kCI);
  static const Regex repay(
      cat({R"(^\s*(?:repay|погаси\w*|верни)\s+(?:)", kNumOrAll, R"(\s*)?(?:usdc\s*)?(?:debt|долг)?)", kAave, kOnNet,
           kNetwork, ")?", kEnd}),
      kCI);
  static const Regex collateral(
      cat({R"(^\s*(?:supply|deposit|add|put|положи\w*|внеси|добавь)\s+(?:)", kNum,
           R"(\s*)?(?:eth|эфир\w*)\s+(?:as\s+collateral|в\s+залог|как\s+залог|под\s+залог))", kAave, kOnNet, kNetwork,
           ")?", kEnd}),
      kCI);
  static const Regex place(
      cat({R"(^\s*(?:(deposit|lend|put|supply|add|положи\w*|внеси|вложи\w*|задепоз\w*|закинь)|withdraw|take\s+out|remove|выведи|вывести|забери|сними)\s+(?:)",
           kNumOrAll,
           R"(\s*)?(usdc|sol|usdt|jitosol)?\s*(?:to|into|in|on|from|в|на|из|с|со)\s+(?:the\s+|my\s+)?(kamino|камино|hlp|хлп|morpho|морфо|aave|ааве|аве|vault|хранилищ\w*|jupiter\s+lend|jup\s+lend|джупитер\w*|юпитер\w*))",
           kOnNet, kNetwork, ")?", kEnd}),
      kCI);
  static const Regex lend(cat({R"(^\s*(?:lend)\s+(?:)", kNumOrAll, R"(\s*)?(?:my\s+)?(usdc|sol|usdt))", kEnd}), kCI);

  auto net = [](const RegexMatch& m, std::size_t i) -> std::optional<std::string> {
    if (!m.group(i)) return std::string("base");
    auto n = network(*m.group(i));
    if (!n || !isEvm(*n)) return std::nullopt;
    return n;
  };
  if (auto m = borrow.firstMatch(t)) {
    auto n = net(*m, 2);
    if (!n) return std::nullopt;
    return w::aaveBorrow{amountOrAll(m->group(1)), *n};
  }
  if (auto m = repay.firstMatch(t)) {
    auto n = net(*m, 2);
    if (!n) return std::nullopt;
    return w::aaveRepay{amountOrAll(m->group(1)), *n};
  }
  if (auto m = collateral.firstMatch(t)) {
    auto n = net(*m, 2);
    if (!n) return std::nullopt;
    return w::aaveCollateral{amountOrAll(m->group(1)), *n};
  }
  if (auto m = place.firstMatch(t)) {
    bool deposit = m->group(1).has_value();
    OptDecimal amount = amountOrAll(m->group(2));
    std::string symbol = m->group(3) ? upper(*m->group(3)) : "USDC";
    if (symbol == "JITOSOL") symbol = "JitoSOL";
    std::string where = text::lowercased(*m->group(4));
    if (where == "kamino" || where == "камино") {
      if (symbol != "USDC" && symbol != "SOL") return std::nullopt;
      if (m->group(5)) return std::nullopt;
      return w::kamino{deposit, symbol, amount};
    }
    if (where == "hlp" || where == "хлп") {
      if (symbol != "USDC" || m->group(5)) return std::nullopt;
      return w::hlp{deposit, amount};
    }
    if (where == "morpho" || where == "морфо" || where == "aave" || where == "ааве" || where == "аве") {
      if (symbol != "USDC") return std::nullopt;
      auto n = net(*m, 5);
      if (!n) return std::nullopt;
      if (where == "morpho" || where == "морфо") return w::morpho{deposit, amount, *n};
      return w::aave{deposit, amount, *n};
    }
    if (m->group(5)) return std::nullopt;
    if (deposit) {
      if (symbol != "USDC" && symbol != "SOL" && symbol != "USDT") return std::nullopt;
      return w::lendDeposit{symbol, amount};
    }
    if (symbol != "USDC" && symbol != "SOL") return std::nullopt;
    return w::lendWithdraw{symbol, amount};
  }
  if (auto m = lend.firstMatch(t)) return w::lendDeposit{upper(*m->group(2)), amountOrAll(m->group(1))};
  return std::nullopt;
}

R staking(std::string_view t) {
  static const Regex unstakeRe(
      cat({R"(^\s*(?:unstake|анстейк\w*|выведи\s+из\s+стейкинга|забери\s+из\s+стейкинга)\s*(?:)", kNumOrAll,
           R"(\s*)?(?:jitosol|sol|сол\w*)?)", kEnd}),
      kCI);
  static const Regex stakeRe(
      cat({R"(^\s*(?:stake|застейк\w*|стейкни|положи\s+в\s+стейкинг)\s*(?:)", kNumOrAll,
           R"(\s*)?(?:sol|сол\w*)?(?:\s+(?:in|into|to|в)\s+(?:стейкинг|jito|jitosol))?)", kEnd}),
      kCI);
  if (auto m = unstakeRe.firstMatch(t)) return w::unstake{amountOrAll(m->group(1))};
  if (auto m = stakeRe.firstMatch(t)) return w::stake{amountOrAll(m->group(1))};
  return std::nullopt;
}

OptDecimal maxShare(std::string_view rest) {
  static const Regex re(
      R"((?:max(?:imum)?|at\s+most|не\s+больше|не\s+более|максимум|до)\s+(\d+(?:[.,]\d+)?)\s*%)", kCI);
  auto m = re.firstMatch(rest);
  return m ? number(*m->group(1)) : std::nullopt;
}

R earning(std::string_view t) {
  static const Regex yieldsRe(
      R"(^\s*(?:where\s+(?:should\s+i\s+|to\s+|do\s+i\s+|can\s+i\s+)?(?:keep|park|put)|где\s+(?:лучше\s+)?(?:держать|хранить))\s+(?:my\s+|мои\s+)?(usdc|sol)?\s*(?:money|savings|деньги)?\s*[?.!]?\s*$)",
      kCI);
  static const Regex spread(
      cat({R"(^\s*(?:spread|allocate|distribute|split|разлож\w*|распредел\w*|раскид\w*|размест\w*)\s+(?:)", kNumOrAll,
           R"(\s*)?(?:my\s+|мои\s+)?(usdc|sol)(?:\s+(?:from|из|с|со)\s+(?:the\s+)?)", kNetwork,
           R"()?\s+((?:across|over|among|между|по)\b.*)$)"}),
      kCI);
  static const Regex rateWords(
      R"(ставк|доходн|протокол|лучш|хранилищ|rates?|yields?|protocols?|best|vaults?)", kCI);
  static const Regex rebalanceRe(
      R"(^\s*(?:rebalance|перебаланс\w*|ребаланс\w*|move\s+my\s+deposits|перелож\w*)(?:\s+(?:my\s+|мои\s+)?usdc)?((?:\s+.*)?)$)",
      kCI);
  static const Regex without(R"((?:\bwithout\b|\bexcept\b|\bбез\b|\bкроме\b)(.*))", kCI);
  static const Regex protocol(R"(jupiter|джупитер\w*|юпитер\w*|kamino|камино|aave|ааве|morpho|морфо)", kCI);

  if (auto m = yieldsRe.firstMatch(t)) {
    w::yields y;
    if (m->group(1)) y.symbol = upper(*m->group(1));
    return y;
  }
  if (auto m = spread.firstMatch(t)) {
    std::string rest = group(*m, 4);
    if (!rateWords.matches(rest)) return std::nullopt;
    w::allocate a;
    a.amount = amountOrAll(m->group(1));
    a.symbol = upper(*m->group(2));
    if (m->group(3)) {
      a.from = network(*m->group(3));
      if (!a.from) return std::nullopt;
    }
    a.maxShare = maxShare(rest);
    if (auto ex = without.firstMatch(rest)) {
      std::string excluded = group(*ex, 1);
      for (const RegexMatch& p : protocol.allMatches(excluded)) {
        std::string name = text::lowercased(p.whole());
        if (name.starts_with("дж") || name.starts_with("ю")) name = "jupiter";
        if (name == "камино") name = "kamino";
        if (name == "ааве") name = "aave";
        if (name == "морфо") name = "morpho";
        if (std::find(a.without.begin(), a.without.end(), name) == a.without.end()) a.without.push_back(name);
      }
    }
    return a;
  }
  if (auto m = rebalanceRe.firstMatch(t)) return w::rebalance{maxShare(group(*m, 1))};
  return std::nullopt;
}

R gasShape(std::string_view t) {
  static const Regex re(
      cat({R"(^\s*(?:add|top\s*up|bring|get|buy|добав\w*|доки\w*|пополн\w*|закин\w*|подкин\w*|купи\w*)\s+(?:some\s+)?(?:gas|газ\w*)\s+(?:on|to|for|in|на|в)\s+(?:the\s+)?)",
           kNetwork, kFor, "?", kEnd}),
      kCI);
  auto m = re.firstMatch(t);
  if (!m) return std::nullopt;
  auto net = network(*m->group(1));
  if (!net || *net == "hyperliquid") return std::nullopt;
  w::gas g{*net, amountOrAll(m->group(2))};
  if (m->group(2) && !g.usd) return std::nullopt;
  return g;
}

R rewards(std::string_view t) {
  if (t.find('?') != std::string_view::npos) return std::nullopt;
  static const Regex dust(
      R"(\bdust\b|\bпыль\b|\bпыли\b|собер\w*\s+мелоч\w*|\bsmall\s+balances?\s+(?:in)?to\s+usdc|\bleftovers?\s+(?:in)?to\s+usdc|остатк\w*\s+(?:в|на)\s+usdc)",
      kCI);
  static const Regex under(R"((?:under|below|less\s+than|<|до|меньше|ниже)\s*\$?\s*(\d+(?:[.,]\d+)?))", kCI);
  static const Regex sweep(
      R"(\bsweep\s+(?:the\s+|my\s+)?rewards?|\bsell\s+(?:the\s+|my\s+|all\s+)?(?:claimed\s+)?rewards?|(?:прода|обменя|меня)\w*\s+(?:\w+\s+){0,2}?награ)",
      kCI);
  static const Regex minimum(
      R"((?:over|above|at\s+least|≥|>=|от|больше|свыше|когда\s+(?:наберётся|наберется|будет))\s*\$?\s*(\d+(?:[.,]\d+)?))",
      kCI);
  static const Regex target(R"(\b(?:into|to|for)\s+\$?([a-z][a-z0-9]{1,9})\b|(?:\sв|\sна)\s+\$?([a-z][a-z0-9]{1,9})\b)",
                            kCI);
  static const Regex claim(
      R"(\bclaim|клейм|ревард|реворд|(?:забер|забра|собер|собра|получ|вывед|выве)\w*\s+(?:\w+\s+){0,2}?(?:награ|бонус))",
      kCI);
  if (dust.matches(t)) {
    w::sweepDust d;
    if (auto m = under.firstMatch(t)) d.under = number(*m->group(1));
    return d;
  }
  if (sweep.matches(t)) {
    w::sweepRewards s;
    if (auto m = minimum.firstMatch(t)) s.minUSD = number(*m->group(1));
    if (auto m = target.firstMatch(t)) s.into = upper(m->group(1) ? *m->group(1) : *m->group(2));
    return s;
  }
  if (claim.matches(t)) return w::claimRewards{};
  return std::nullopt;
}

R receiving(std::string_view t) {
  static const Regex across(
      cat({R"(^\s*(?:receive|get|получ\w*|принять|прими)\s+(?:)", kNum,
           R"(\s*)?([a-z]{2,6})\s+(?:from|из|с|со)\s+(?:the\s+)?(sui|bitcoin|биткоин\w*|zcash|tron|трон\w*|xrp|ripple|dogecoin)(?:\s+(?:network|chain|сети))?)",
           kEnd}),
      kCI);
  static const Regex topUp(
      R"(^\s*(?:top\s*up|receive|fund)(?:\s+(?:my\s+)?(?:wallet|account))?\s*[.!]?\s*$|^\s*(?:пополни\w*|пополнить)(?:\s+(?:кошел[её]к|сч[её]т|баланс))?\s*[.!]?\s*$|куда\s+(?:мне\s+)?(?:отправить|перевести|кинуть|прислать)\s+деньги|where\s+(?:do\s+i|to|can\s+i|should\s+i)\s+send\s+(?:money|funds))",
      kCI);
  if (auto m = across.firstMatch(t)) {
    auto net = network(*m->group(3));
    if (!net) return std::nullopt;
    return w::receiveAcross{*net, upper(*m->group(2)), amountOrAll(m->group(1))};
  }
  if (topUp.matches(t)) return w::receive{};
  return std::nullopt;
}

}  // namespace

std::optional<WalletCommand> WalletCommand::parse(std::string_view input) {
  if (!text::isValidUtf8(input)) return std::nullopt;  // broken bytes are no command
  std::string trimmed = text::trimmed(input);
  std::string_view t = trimmed;
  if (t.empty()) return std::nullopt;

  static const Regex perp(R"(\b(?:long|short|perp\w*|лонг\w*|шорт\w*)\b)", kCI);
  bool perpWord = perp.matches(t);

  using Shape = R (*)(std::string_view);
  // Before the spot shapes: forms whose words would also read as a buy or sale.
  static constexpr Shape first[] = {pay, contractCall, revokeApproval, jupiterDCA, stopSchedules, schedule,
                                    hyperliquidSpot, stocks, nearTrades, swaps, tradesOnNetworks, staking,
                                    solanaTrades};
  static constexpr Shape rest[] = {sends,    moves,   savings,   earning,       gasShape,
                                   rewards,  receiving, showApprovals, looseMoves, looseGas};
  constexpr std::size_t kSpotFrom = 5;  // schedule onwards are spot buys and sales
  for (std::size_t i = 0; i < std::size(first); ++i) {
    if (perpWord && i >= kSpotFrom && first[i] != staking) continue;
    if (auto v = first[i](t)) return WalletCommand{std::move(*v)};
  }
  for (Shape s : rest) {
    if (auto v = s(t)) return WalletCommand{std::move(*v)};
  }
  return std::nullopt;
}

}  // namespace orwenna
