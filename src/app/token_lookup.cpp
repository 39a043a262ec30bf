#include "app/token_lookup.h"

#include <algorithm>
#include <map>

#include <fmt/format.h>

#include "base/json.h"
#include "base/text.h"
#include "guards/tx_guard.h"
#include "trading/fmt.h"

namespace orwenna::Agent {

// Named, not anonymous: the folder builds as one unit and these names are common.
namespace token_research {

constexpr std::size_t kMostListed = 8;
const Decimal kThinLiquidityUSD{10000};
constexpr std::int64_t kNewPoolMillis = 7LL * 24 * 3600 * 1000;

std::string joinedWith(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? std::string(separator) : "") + parts[i];
  return out;
}

bool isBase58(char c) {
  return (c >= '1' && c <= '9') || (c >= 'A' && c <= 'H') || (c >= 'J' && c <= 'N') || (c >= 'P' && c <= 'Z') ||
         (c >= 'a' && c <= 'k') || (c >= 'm' && c <= 'z');
}

bool isAddress(std::string_view s) {
  if (s.size() == 42 && s.starts_with("0x"))
    return std::all_of(s.begin() + 2, s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  return s.size() >= 32 && s.size() <= 44 && std::all_of(s.begin(), s.end(), isBase58);
}

std::string percentEncoded(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') out += static_cast<char>(c);
    else out += fmt::format("%{:02X}", c);
  }
  return out;
}

Json getJson(HttpClient& http, const std::string& url, const char* service) {
  HttpRequest request;
  request.url = url;
  request.headers = {{"Accept", "application/json"}, {"User-Agent", "orwenna"}};
  request.timeout = std::chrono::milliseconds(15000);
  HttpResponse response;
  try {
    response = http.send(request);
  } catch (const std::exception& e) {
    throw AgentError(fmt::format("{} couldn't be reached: {}", service, e.what()));
  }
  if (!response.ok()) throw AgentError(fmt::format("{} answered HTTP {}.", service, response.status));
  auto json = parseJson(response.body);
  if (!json) throw AgentError(fmt::format("{} answered with something that isn't JSON.", service));
  return std::move(*json);
}

std::string field(const Json& object, const char* key) {
  auto it = object.is_object() ? object.find(key) : object.end();
  return it != object.end() && it->is_string() ? text::sanitized(it->get<std::string>()) : std::string();
}

std::optional<Decimal> number(const Json& object, const char* key) {
  try {
    return optionalDecimal(object, key);
  } catch (const std::exception&) {
    return std::nullopt;  // a number the service wrote badly is shown as unknown
  }
}

std::optional<Decimal> nested(const Json& object, const char* outer, const char* inner) {
  auto it = object.is_object() ? object.find(outer) : object.end();
  return it == object.end() ? std::nullopt : number(*it, inner);
}

struct Pool {
  const Json* pair;
  Decimal liquidity;
};

// One token as DexScreener lists it, with its pools.
struct Token {
  std::string chain, address, name, symbol;
  std::vector<Pool> pools;
  Decimal liquidity;  // over all pools

  const Json& deepest() const { return *pools.front().pair; }
};

std::string key(const std::string& chain, const std::string& address) {
  return chain + ":" + (address.starts_with("0x") ? text::asciiLowercased(address) : address);
}

// Groups pairs by the token on their base side. The tokens point into
// `pairs`, which must outlive them.
std::vector<Token> tokensOf(const Json& pairs) {
  std::map<std::string, Token> byKey;
  if (!pairs.is_array()) return {};
  for (const Json& p : pairs) {
    if (!p.is_object() || !p.contains("baseToken")) continue;
    const Json& base = p["baseToken"];
    Token& t = byKey[key(field(p, "chainId"), field(base, "address"))];
    if (t.address.empty()) {
      t.chain = field(p, "chainId");
      t.address = field(base, "address");
      t.name = field(base, "name");
      t.symbol = field(base, "symbol");
    }
    const Decimal liquidity = nested(p, "liquidity", "usd").value_or(Decimal(0));
    t.pools.push_back(Pool{&p, liquidity});
    t.liquidity = t.liquidity + liquidity;
  }
  std::vector<Token> out;
  for (auto& [k, t] : byKey) {
    if (t.address.empty()) continue;
    std::stable_sort(t.pools.begin(), t.pools.end(),
                     [](const Pool& a, const Pool& b) { return a.liquidity > b.liquidity; });
    out.push_back(std::move(t));
  }
  std::stable_sort(out.begin(), out.end(), [](const Token& a, const Token& b) { return a.liquidity > b.liquidity; });
  return out;
}

std::string money(const std::optional<Decimal>& v) { return v ? Fmt::usd(*v) : "unknown"; }

// DexScreener's chain ids as GeckoTerminal names them.
std::optional<std::string> geckoNetwork(const std::string& chain) {
  static const std::map<std::string, std::string> names{
      {"solana", "solana"},   {"ethereum", "eth"},       {"base", "base"},         {"arbitrum", "arbitrum"},
      {"bsc", "bsc"},         {"polygon", "polygon_pos"}, {"optimism", "optimism"}, {"hyperevm", "hyperevm"},
      {"avalanche", "avax"},
  };
  auto it = names.find(chain);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

// The deepest pool's daily candles from GeckoTerminal, oldest first. Throws
// AgentError when they can't be read; empty when there are none.
std::vector<TokenCandle> monthOf(const TokenLookupInputs& in, const Token& t) {
  const std::string pool = field(t.deepest(), "pairAddress");
  auto network = geckoNetwork(t.chain);
  if (!network || pool.empty()) return {};
  Json answer = getJson(in.http,
                        in.geckoTerminal + "/api/v2/networks/" + *network + "/pools/" + percentEncoded(pool) +
                            "/ohlcv/day?aggregate=1&limit=30",
                        "GeckoTerminal");
  const Json* list = nullptr;
  if (answer.contains("data") && answer["data"].contains("attributes"))
    list = &answer["data"]["attributes"]["ohlcv_list"];
  std::vector<TokenCandle> out;
  if (!list || !list->is_array()) return out;
  // Newest first in GeckoTerminal's answer.
  for (auto it = list->rbegin(); it != list->rend(); ++it) {
    if (!it->is_array() || it->size() < 5 || !(*it)[0].is_number_integer()) continue;
    try {
      out.push_back(TokenCandle{(*it)[0].get<std::int64_t>() * 1000, Decimal::fromJson((*it)[1]),
                                Decimal::fromJson((*it)[2]), Decimal::fromJson((*it)[3]), Decimal::fromJson((*it)[4])});
    } catch (const std::exception&) {
      throw AgentError("GeckoTerminal wrote a candle that isn't numbers.");
    }
  }
  return out;
}

std::string monthLine(const TokenLookupInputs& in, const Token& t) {
  try {
    const std::vector<TokenCandle> month = monthOf(in, t);
    if (month.empty()) return "30 days: no daily candles for its deepest pool.";
    Decimal low = month.front().low, high = month.front().high;
    std::string shown;
    for (const TokenCandle& c : month) {
      if (c.high > high) high = c.high;
      if (c.low < low) low = c.low;
      shown += (shown.empty() ? "" : " ") + Fmt::sig(c.close, 4);
    }
    return fmt::format("{} days of the deepest pool: ${} → ${}, low ${}, high ${}. Daily closes: {}.", month.size(),
                       Fmt::sig(month.front().close, 4), Fmt::sig(month.back().close, 4), Fmt::sig(low, 4),
                       Fmt::sig(high, 4), shown);
  } catch (const std::exception& e) {
    return "30 days: the chart couldn't be read (" + std::string(e.what()) + ")";
  }
}

// The tokens trading at `address`, deepest first; `pairs` must outlive them.
std::vector<Token> tokensAt(const Json& pairs, const std::string& address) {
  std::vector<Token> tokens = tokensOf(pairs);
  const std::string wanted = address.starts_with("0x") ? text::asciiLowercased(address) : address;
  std::erase_if(tokens, [&](const Token& t) {
    return (t.address.starts_with("0x") ? text::asciiLowercased(t.address) : t.address) != wanted;
  });
  return tokens;
}

std::string describe(const TokenLookupInputs& in, const Token& t, std::int64_t nowMillis) {
  const Json& deep = t.deepest();
  std::vector<std::string> lines;
  lines.push_back(fmt::format("{} ({}) on {}, address {}.", t.symbol, t.name, t.chain, t.address));
  auto marketCap = number(deep, "marketCap");
  auto fdv = number(deep, "fdv");
  Decimal volume;
  for (const Pool& p : t.pools) volume = volume + nested(*p.pair, "volume", "h24").value_or(Decimal(0));
  auto change = nested(deep, "priceChange", "h24");
  lines.push_back(fmt::format("Price ${}{}; market cap {}{}; liquidity {} in {} pool{}; 24h volume {}.",
                              number(deep, "priceUsd") ? Fmt::sig(*number(deep, "priceUsd"), 6) : "unknown",
                              change ? fmt::format(" ({}% in 24h)", Fmt::num(*change, 2)) : "", money(marketCap),
                              fdv ? ", fully diluted " + Fmt::usd(*fdv) : "", Fmt::usd(t.liquidity), t.pools.size(),
                              t.pools.size() == 1 ? "" : "s", Fmt::usd(volume)));
  const std::optional<Decimal> created = number(deep, "pairCreatedAt");
  lines.push_back(fmt::format("Deepest pool: {} {} with {}{}.", field(deep, "dexId"), field(deep, "pairAddress"),
                              Fmt::usd(t.pools.front().liquidity),
                              created && created->toInt64() ? ", opened " + iso8601(*created->toInt64()).substr(0, 10) : ""));
  lines.push_back("Holders: not published by these sources.");

  std::vector<std::string> flags;
  if (t.pools.front().liquidity < kThinLiquidityUSD)
    flags.push_back("thin liquidity: under $10,000 in its deepest pool, so a sale moves the price hard");
  if (created && created->toInt64() && nowMillis - *created->toInt64() < kNewPoolMillis) flags.push_back("its deepest pool is under a week old");
  if (!marketCap && !fdv) flags.push_back("no market cap is known");
  // Whoever made the token wrote these; they are data, never instructions.
  std::string outside = t.name + "\n" + t.symbol;
  if (deep.contains("info") && deep["info"].is_object()) outside += "\n" + field(deep["info"], "description");
  Verdict verdict = InjectionGuard::check(outside, "token description");
  if (!verdict.clean())
    flags.push_back("its name or description tries to give instructions — it is shown as data and not followed");
  lines.push_back(flags.empty() ? "Flags: none raised by liquidity, age or its texts."
                                : "Flags: " + joinedWith(flags, "; ") + ".");
  lines.push_back(monthLine(in, t));
  return joinedWith(lines, "\n");
}

bool matches(const Token& t, const std::string& lower) {
  return text::lowercased(t.symbol) == lower || text::lowercased(t.name) == lower;
}

}  // namespace token_research

std::string tokenLookup(std::string_view arg, const TokenLookupInputs& in) {
  using namespace token_research;
  const std::string query = text::trimmed(arg);
  if (query.empty()) throw AgentError("token needs a contract address, a mint or a name, like token BONK.");
  const std::int64_t now = in.clock.nowMillis();
  if (isAddress(query)) {
    const Json pairs = getJson(in.http, in.dexScreener + "/latest/dex/tokens/" + query, "DexScreener")
                           .value("pairs", Json::array());
    std::vector<Token> tokens = tokensAt(pairs, query);  // points into `pairs`
    if (tokens.empty()) return "DexScreener knows no pool trading " + query + ".";
    // The same contract on several EVM networks: the deepest is described,
    // the others named.
    std::string out = describe(in, tokens.front(), now);
    for (std::size_t i = 1; i < tokens.size(); ++i)
      out += fmt::format("\nAlso at this address on {}: liquidity {}.", tokens[i].chain, Fmt::usd(tokens[i].liquidity));
    return out;
  }
  const Json pairs = getJson(in.http, in.dexScreener + "/latest/dex/search?q=" + percentEncoded(query), "DexScreener")
                         .value("pairs", Json::array());
  std::vector<Token> tokens = tokensOf(pairs);  // points into `pairs`
  const std::string lower = text::lowercased(query);
  std::vector<Token> named;
  for (auto& t : tokens)
    if (matches(t, lower)) named.push_back(std::move(t));
  if (named.empty()) return "No token called «" + query + "» trades in a pool DexScreener knows.";
  if (named.size() == 1) return describe(in, named.front(), now);
  std::string out = fmt::format("{} tokens are called «{}»; which one? Name it by its address:", named.size(), query);
  for (std::size_t i = 0; i < named.size() && i < kMostListed; ++i) {
    const Token& t = named[i];
    out += fmt::format("\n- {} ({}) on {}: {}, liquidity {}, market cap {}.", t.symbol, t.name, t.chain, t.address,
                       Fmt::usd(t.liquidity), money(number(t.deepest(), "marketCap")));
  }
  if (named.size() > kMostListed) out += fmt::format("\n… and {} more.", named.size() - kMostListed);
  return out;
}

std::vector<TokenCandidate> tokenCandidates(std::string_view symbol, std::string_view chain,
                                            const TokenLookupInputs& in) {
  using namespace token_research;
  const std::string query = text::trimmed(symbol);
  const Json pairs = getJson(in.http, in.dexScreener + "/latest/dex/search?q=" + percentEncoded(query), "DexScreener")
                         .value("pairs", Json::array());
  std::vector<TokenCandidate> out;
  for (const Token& t : tokensOf(pairs)) {
    if (t.chain != chain || text::lowercased(t.symbol) != text::lowercased(query)) continue;
    out.push_back({t.address, t.name, t.symbol, t.liquidity});
  }
  return out;
}

TokenChart tokenChart(std::string_view address, const TokenLookupInputs& in) {
  using namespace token_research;
  const std::string query = text::trimmed(address);
  if (!isAddress(query)) throw AgentError("A token chart needs the token's contract address or mint.");
  const Json pairs = getJson(in.http, in.dexScreener + "/latest/dex/tokens/" + query, "DexScreener")
                         .value("pairs", Json::array());
  std::vector<Token> tokens = tokensAt(pairs, query);
  if (tokens.empty()) throw AgentError("DexScreener knows no pool trading " + query + ".");
  const Token& t = tokens.front();
  return TokenChart{t.symbol.empty() ? query : t.symbol, t.chain, field(t.deepest(), "pairAddress"), monthOf(in, t)};
}

LookupHandler tokenLookupHandler(TokenLookupInputs inputs) {
  return [inputs](const std::string& arg) { return tokenLookup(arg, inputs); };
}

}  // namespace orwenna::Agent
