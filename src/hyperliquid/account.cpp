#include "hyperliquid/account.h"

#include <fmt/format.h>

#include "base/json.h"

namespace orwenna::HyperliquidAccount {

namespace {

// One read: post, decode, and turn shape errors into a sentence naming the
// request; number errors keep their own text.
template <typename F>
auto accountRead(const Hyperliquid::InfoApi& api, const Json& body, F&& parse) {
  const std::string what = body["type"].get<std::string>();
  std::string bytes = Hyperliquid::post(api, body, Hyperliquid::kAccountTimeout);
  auto json = parseJson(bytes);
  if (!json) throw MarketDataError(fmt::format("Hyperliquid sent an unreadable answer to {}.", what));
  try {
    return parse(*json);
  } catch (const JsonShapeError& e) {
    throw MarketDataError(fmt::format("Hyperliquid's answer to {} has an unexpected shape: {}.", what, e.what()));
  } catch (const nlohmann::json::exception& e) {
    throw MarketDataError(fmt::format("Hyperliquid's answer to {} has an unexpected shape: {}.", what, e.what()));
  }
}

const Json& listAt(const Json& json, std::string_view what) {
  if (!json.is_array()) throw JsonShapeError(fmt::format("{} is not a list", what));
  return json;
}

std::optional<Decimal> maybeDecimal(const Json& object, std::string_view key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return Decimal::fromJson(*it);
}

bool flag(const Json& object, std::string_view key) {
  auto it = object.find(key);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

double timestamp(const Json& value) {
  if (!value.is_number()) throw JsonShapeError("a timestamp is not a number");
  return value.get<double>();
}

int nonNegativeInt(const Json& object, std::string_view key) {
  std::int64_t v = requireInt(object, key);
  if (v < 0 || v > 100000000) throw JsonShapeError(fmt::format("Field \"{}\" is out of range", key));
  return static_cast<int>(v);
}

Order orderOf(const Json& row) {
  Order o;
  o.coin = requireString(row, "coin");
  std::int64_t oid = requireInt(row, "oid");
  if (oid < 0) throw JsonShapeError("Field \"oid\" is negative");
  o.oid = static_cast<std::uint64_t>(oid);
  o.isTrigger = flag(row, "isTrigger");
  o.triggerPx = maybeDecimal(row, "triggerPx");
  o.limitPx = maybeDecimal(row, "limitPx");
  o.size = maybeDecimal(row, "sz");
  o.side = optionalString(row, "side");
  o.orderType = optionalString(row, "orderType");
  o.reduceOnly = flag(row, "reduceOnly");
  if (auto it = row.find("children"); it != row.end() && !it->is_null()) {
    for (const Json& child : listAt(*it, "children")) o.children.push_back(orderOf(child));
  }
  return o;
}

std::vector<SpotPair> pairsOf(const Json& universe) {
  std::vector<SpotPair> out;
  for (const Json& row : listAt(universe, "universe")) {
    SpotPair p;
    p.name = requireString(row, "name");
    p.index = nonNegativeInt(row, "index");
    for (const Json& t : listAt(requireField(row, "tokens"), "tokens")) {
      if (!t.is_number_unsigned()) throw JsonShapeError("a token index is not a whole number");
      p.tokens.push_back(static_cast<int>(t.get<std::uint64_t>()));
    }
    out.push_back(std::move(p));
  }
  return out;
}

SpotMeta spotMetaOf(const Json& json) {
  SpotMeta meta;
  for (const Json& row : listAt(requireField(json, "tokens"), "tokens")) {
    SpotToken t;
    t.name = requireString(row, "name");
    t.index = nonNegativeInt(row, "index");
    t.szDecimals = nonNegativeInt(row, "szDecimals");
    t.weiDecimals = nonNegativeInt(row, "weiDecimals");
    t.tokenId = optionalString(row, "tokenId").value_or("");
    meta.tokens.push_back(std::move(t));
  }
  meta.universe = pairsOf(requireField(json, "universe"));
  return meta;
}

}  // namespace

bool Order::isStop() const {
  return isTrigger && reduceOnly && orderType && orderType->starts_with("Stop");
}

bool Order::isTake() const {
  return isTrigger && reduceOnly && orderType && orderType->starts_with("Take Profit");
}

const SpotToken* SpotMeta::token(int index) const {
  for (const SpotToken& t : tokens) {
    if (t.index == index) return &t;
  }
  return nullptr;
}

std::vector<Order> parseOpenOrders(const Json& answer) {
  std::vector<Order> out;
  for (const Json& row : listAt(answer, "the answer")) out.push_back(orderOf(row));
  return out;
}

std::vector<Position> parsePositions(const Json& state) {
  std::vector<Position> out;
  for (const Json& row : listAt(requireField(state, "assetPositions"), "assetPositions")) {
    const Json& p = requireField(row, "position");
    Position pos;
    pos.coin = requireString(p, "coin");
    pos.size = Decimal::fromJson(requireField(p, "szi"));
    pos.entry = maybeDecimal(p, "entryPx").value_or(Decimal(0));
    pos.unrealizedPnl = Decimal::fromJson(requireField(p, "unrealizedPnl"));
    pos.liquidation = maybeDecimal(p, "liquidationPx");
    if (!pos.size.isZero()) out.push_back(std::move(pos));
  }
  return out;
}

std::vector<Order> openOrders(const Hyperliquid::InfoApi& api, const std::string& user,
                              const std::optional<std::string>& dex) {
  Json body{{"type", "frontendOpenOrders"}, {"user", user}};
  if (dex) body["dex"] = *dex;
  return accountRead(api, body, [](const Json& json) { return parseOpenOrders(json); });
}

std::vector<Position> positions(const Hyperliquid::InfoApi& api, const std::string& user,
                                const std::optional<std::string>& dex) {
  Json body{{"type", "clearinghouseState"}, {"user", user}};
  if (dex) body["dex"] = *dex;
  return accountRead(api, body, [](const Json& json) { return parsePositions(json); });
}

std::vector<Fill> fills(const Hyperliquid::InfoApi& api, const std::string& user) {
  return accountRead(api, Json{{"type", "userFills"}, {"user", user}}, [](const Json& json) {
    std::vector<Fill> out;
    for (const Json& row : listAt(json, "the answer")) {
      out.push_back({requireString(row, "coin"), requireString(row, "px"), requireString(row, "closedPnl"),
                     requireString(row, "dir"), timestamp(requireField(row, "time"))});
    }
    return out;
  });
}

std::vector<VaultEquity> vaultEquities(const Hyperliquid::InfoApi& api, const std::string& user) {
  return accountRead(api, Json{{"type", "userVaultEquities"}, {"user", user}}, [](const Json& json) {
    std::vector<VaultEquity> out;
    for (const Json& row : listAt(json, "the answer")) {
      VaultEquity v{requireString(row, "vaultAddress"), requireString(row, "equity"), std::nullopt};
      if (auto it = row.find("lockedUntilTimestamp"); it != row.end() && !it->is_null()) {
        v.lockedUntilTimestamp = timestamp(*it);
      }
      out.push_back(std::move(v));
    }
    return out;
  });
}

SpotMeta spotMeta(const Hyperliquid::InfoApi& api) {
  return accountRead(api, Json{{"type", "spotMeta"}}, [](const Json& json) { return spotMetaOf(json); });
}

std::vector<SpotMarket> spotMarkets(const Hyperliquid::InfoApi& api) {
  return accountRead(api, Json{{"type", "spotMetaAndAssetCtxs"}}, [](const Json& json) {
    if (!json.is_array() || json.size() < 2) throw JsonShapeError("expected [meta, ctxs]");
    SpotMeta meta = spotMetaOf(json[0]);
    const Json& ctxs = listAt(json[1], "ctxs");
    std::vector<SpotMarket> out;
    for (std::size_t i = 0; i < meta.universe.size() && i < ctxs.size(); ++i) {
      out.push_back({meta.universe[i], maybeDecimal(ctxs[i], "midPx"), maybeDecimal(ctxs[i], "markPx")});
    }
    return out;
  });
}

std::vector<SpotBalance> spotBalances(const Hyperliquid::InfoApi& api, const std::string& user) {
  return accountRead(api, Json{{"type", "spotClearinghouseState"}, {"user", user}}, [](const Json& json) {
    std::vector<SpotBalance> out;
    for (const Json& row : listAt(requireField(json, "balances"), "balances")) {
      out.push_back({requireString(row, "coin"), Decimal::fromJson(requireField(row, "total")),
                     maybeDecimal(row, "hold").value_or(Decimal(0))});
    }
    return out;
  });
}

std::map<std::string, Decimal> mids(const Hyperliquid::InfoApi& api) {
  return accountRead(api, Json{{"type", "allMids"}}, [](const Json& json) {
    if (!json.is_object()) throw JsonShapeError("expected an object of mid prices");
    std::map<std::string, Decimal> out;
    for (const auto& [coin, px] : json.items()) out.emplace(coin, Decimal::fromJson(px));
    return out;
  });
}

}  // namespace orwenna::HyperliquidAccount
