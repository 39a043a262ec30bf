#include "hyperliquid/info.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <utility>

#include <fmt/format.h>

#include "base/log.h"

namespace orwenna::Hyperliquid {

namespace {

bool isHttpUrl(std::string_view url) {
  std::string_view rest;
  if (url.starts_with("https://")) {
    rest = url.substr(8);
  } else if (url.starts_with("http://")) {
    rest = url.substr(7);
  } else {
    return false;
  }
  std::string_view host = rest.substr(0, rest.find('/'));
  if (host.empty() || host.front() == ':') return false;
  return std::none_of(url.begin(), url.end(), [](char ch) {
    return static_cast<unsigned char>(ch) <= ' ' || ch == '"' || ch == '<' || ch == '>' || ch == '\\';
  });
}

Json decode(const std::string& bytes, std::string_view what) {
  auto json = parseJson(bytes);
  if (!json) throw MarketDataError(fmt::format("Hyperliquid sent an unreadable answer to {}.", what));
  return std::move(*json);
}

// A decimal that may be absent or null; present text must parse strictly.
std::optional<Decimal> optionalNumber(const Json& object, std::string_view key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return Decimal::fromJson(*it);
}

int smallInt(const Json& object, std::string_view key) {
  std::int64_t v = requireInt(object, key);
  if (v < 0 || v > 1000000) throw JsonShapeError(fmt::format("Field \"{}\" is out of range", key));
  return static_cast<int>(v);
}

// Shape errors become one sentence naming the request; number errors pass
// through untouched so their exact text reaches the user.
template <typename F>
auto readingAnswer(std::string_view what, F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const JsonShapeError& e) {
    throw MarketDataError(fmt::format("Hyperliquid's answer to {} has an unexpected shape: {}.", what, e.what()));
  } catch (const nlohmann::json::exception& e) {
    throw MarketDataError(fmt::format("Hyperliquid's answer to {} has an unexpected shape: {}.", what, e.what()));
  }
}

}  // namespace

std::string post(const InfoApi& api, const Json& body, std::chrono::milliseconds timeout) {
  std::string url = api.root + "/info";
  if (!isHttpUrl(url)) throw MarketDataError("Invalid URL: " + url);
  HttpRequest request = HttpRequest::postJson(url, body.dump());
  request.timeout = timeout;
  HttpResponse response = api.http.send(request);
  if (!response.ok()) {
    std::string detail = response.body.substr(0, 200);
    std::replace_if(detail.begin(), detail.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    throw MarketDataError(detail.empty() ? fmt::format("Hyperliquid answered HTTP {}.", response.status)
                                         : fmt::format("Hyperliquid answered HTTP {}: {}", response.status, detail));
  }
  return std::move(response.body);
}

std::vector<PerpDex> perpDexs(const InfoApi& api) {
  try {
    Json answer = decode(post(api, Json{{"type", "perpDexs"}}), "perpDexs");
    if (!answer.is_array()) return {};
    std::vector<PerpDex> out;
    out.reserve(answer.size());
    for (const Json& entry : answer) {
      if (entry.is_null()) {
        out.push_back({});
        continue;
      }
      out.push_back({requireString(entry, "name"), optionalString(entry, "fullName").value_or("")});
    }
    return out;
  } catch (const std::exception& e) {
    log::warn("perpDexs read failed: {}", e.what());
    return {};
  }
}

std::map<std::string, Market> markets(const InfoApi& api, const std::optional<DexRef>& dex) {
  Json body{{"type", "metaAndAssetCtxs"}};
  if (dex) body["dex"] = dex->name;
  Json answer = decode(post(api, body), "metaAndAssetCtxs");
  return readingAnswer("metaAndAssetCtxs", [&] {
    if (!answer.is_array() || answer.size() < 2) throw JsonShapeError("expected [meta, ctxs]");
    const Json& universe = requireField(answer[0], "universe");
    const Json& ctxs = answer[1];
    if (!universe.is_array() || !ctxs.is_array()) throw JsonShapeError("universe and ctxs must be lists");

    std::map<std::string, Market> out;
    std::size_t count = std::min(universe.size(), ctxs.size());
    for (std::size_t i = 0; i < count; ++i) {
      const Json& asset = universe[i];
      const Json& ctx = ctxs[i];
      if (!ctx.is_object()) throw JsonShapeError("an asset context is not an object");
      auto delisted = asset.find("isDelisted");
      if (delisted != asset.end() && delisted->is_boolean() && delisted->get<bool>()) continue;
      auto markPx = optionalNumber(ctx, "markPx");
      if (!markPx) continue;
      Market m;
      m.name = requireString(asset, "name");
      m.markPx = *markPx;
      m.szDecimals = smallInt(asset, "szDecimals");
      m.maxLeverage = smallInt(asset, "maxLeverage");
      m.index = assetIndex(dex ? std::optional<int>(dex->index) : std::nullopt, static_cast<int>(i));
      m.prevDayPx = optionalNumber(ctx, "prevDayPx");
      m.funding = optionalNumber(ctx, "funding");
      if (dex) m.dex = dex->name;
      m.volume24h = optionalNumber(ctx, "dayNtlVlm").value_or(Decimal(0));
      out.insert_or_assign(m.name, std::move(m));
    }
    return out;
  });
}

MarketTable loadMarketTable(const InfoApi& api) {
  // The dex list and the own markets are independent; so is every builder dex.
  auto dexesFuture = std::async(std::launch::async, [&] { return perpDexs(api); });
  MarketTable table;
  std::map<std::string, Market> own;
  try {
    own = markets(api);
  } catch (...) {
    dexesFuture.wait();
    throw;
  }
  table.merge(own);
  std::vector<PerpDex> dexes = dexesFuture.get();

  std::vector<std::pair<std::string, std::future<std::map<std::string, Market>>>> pending;
  for (std::size_t i = 1; i < dexes.size(); ++i) {
    if (dexes[i].name.empty()) continue;
    DexRef ref{dexes[i].name, static_cast<int>(i)};
    pending.emplace_back(ref.name, std::async(std::launch::async, [&api, ref] { return markets(api, ref); }));
  }
  for (auto& [name, future] : pending) {
    try {
      table.merge(future.get());
    } catch (const std::exception& e) {
      log::warn("markets of builder dex {} not read: {}", name, e.what());
      table.noteUnreadDex(name);
    }
  }
  return table;
}

namespace {

struct RangeWindow {
  std::int64_t millis;
  const char* interval;
};

RangeWindow windowOf(ChartRange range) {
  switch (range) {
    case ChartRange::day: return {86400000, "15m"};
    case ChartRange::week: return {604800000, "1h"};
    case ChartRange::month: return {2592000000LL, "4h"};
  }
  return {86400000, "15m"};
}

std::vector<Candle> snapshot(const InfoApi& api, const std::string& coin, const char* interval,
                             std::int64_t windowMillis) {
  std::int64_t now = api.clock.nowMillis();
  Json body{{"type", "candleSnapshot"},
            {"req", {{"coin", coin}, {"interval", interval}, {"startTime", now - windowMillis}, {"endTime", now}}}};
  Json answer = decode(post(api, body), "candleSnapshot");
  return readingAnswer("candleSnapshot", [&] {
    if (!answer.is_array()) throw JsonShapeError("expected a list of candles");
    std::vector<Candle> out;
    out.reserve(answer.size());
    for (const Json& row : answer) {
      Candle c;
      auto t = row.find("t");
      if (t != row.end() && t->is_number_integer()) c.t = t->get<std::int64_t>();
      c.o = optionalNumber(row, "o");
      c.h = Decimal::parse(requireString(row, "h"));
      c.l = Decimal::parse(requireString(row, "l"));
      c.c = Decimal::parse(requireString(row, "c"));
      out.push_back(c);
    }
    return out;
  });
}

}  // namespace

std::vector<Candle> candles(const InfoApi& api, const std::string& coin, ChartRange range) {
  RangeWindow w = windowOf(range);
  return snapshot(api, coin, w.interval, w.millis);
}

Decimal atrPctOf(const std::vector<Candle>& candles, const std::string& coin) {
  constexpr std::size_t kPeriods = 14;
  if (candles.size() <= kPeriods) throw MarketDataError("Not enough " + coin + " candles for ATR.");
  Decimal sum;
  for (std::size_t i = candles.size() - kPeriods; i < candles.size(); ++i) {
    const Candle& cur = candles[i];
    const Decimal& prevClose = candles[i - 1].c;
    Decimal tr = cur.h - cur.l;
    Decimal up = (cur.h - prevClose).abs();
    Decimal down = (cur.l - prevClose).abs();
    if (up > tr) tr = up;
    if (down > tr) tr = down;
    sum += tr;
  }
  const Decimal& lastClose = candles.back().c;
  if (!lastClose.isPositive()) throw MarketDataError("No " + coin + " price to measure ATR against.");
  return sum / Decimal(14) / lastClose * Decimal(100);
}

Decimal atrPct(const InfoApi& api, const std::string& coin) {
  return atrPctOf(snapshot(api, coin, "4h", 230400000), coin);
}

Balance balance(const InfoApi& api, const std::string& user) {
  auto spotFuture = std::async(std::launch::async, [&] {
    return post(api, Json{{"type", "spotClearinghouseState"}, {"user", user}});
  });
  std::string perpBytes;
  try {
    perpBytes = post(api, Json{{"type", "clearinghouseState"}, {"user", user}});
  } catch (...) {
    spotFuture.wait();
    throw;
  }
  std::string spotBytes = spotFuture.get();

  Json perp = decode(perpBytes, "clearinghouseState");
  Json spot = decode(spotBytes, "spotClearinghouseState");
  Balance out;
  readingAnswer("clearinghouseState", [&] {
    out.accountValue = Decimal::fromJson(requireField(requireField(perp, "marginSummary"), "accountValue"));
    out.withdrawable = Decimal::fromJson(requireField(perp, "withdrawable"));
    return 0;
  });
  readingAnswer("spotClearinghouseState", [&] {
    const Json& rows = requireField(spot, "balances");
    if (!rows.is_array()) throw JsonShapeError("Field \"balances\" is not a list");
    std::string usdc = "0";
    for (const Json& row : rows) {
      if (requireString(row, "coin") == "USDC") {
        usdc = requireString(row, "total");
        break;
      }
    }
    out.spotUSDC = Decimal::parse(usdc);
    return 0;
  });
  return out;
}

}  // namespace orwenna::Hyperliquid
