// The account reads execution needs from Hyperliquid's info endpoint: open
// orders, positions, fills, vault equities, spot metadata and balances, and
// mid prices. Each is one POST to <root>/info with a 20-second time-out (the
// executor waits on them between orders, so they get longer than the market
// reads); the address is the account's 0x address.
//
// Stateless functions over the InfoApi of info.h; numbers parse strictly
// ("Unexpected number format: …"), answers of the wrong shape throw
// MarketDataError naming the request, transport failures NetError.
// Thread-safe as long as the HttpClient is.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "hyperliquid/info.h"

namespace orwenna::HyperliquidAccount {

// A resting order from "frontendOpenOrders"; `children` are the stop and take
// attached to a resting entry.
struct Order {
  std::string coin;
  std::uint64_t oid = 0;
  bool isTrigger = false;
  std::optional<Decimal> triggerPx;
  std::optional<Decimal> limitPx;
  std::optional<Decimal> size;       // "sz"
  std::optional<std::string> side;   // "B" buys, "A" sells
  std::optional<std::string> orderType;  // "Limit", "Stop Market", "Take Profit Market", …
  bool reduceOnly = false;
  std::vector<Order> children;

  bool isBuy() const { return side && *side == "B"; }
  // A reduce-only trigger the exchange labels as a stop or as a take-profit.
  bool isStop() const;
  bool isTake() const;
};

struct Position {
  std::string coin;
  Decimal size;  // signed: positive long, negative short ("szi")
  Decimal entry;
  Decimal unrealizedPnl;
  std::optional<Decimal> liquidation;
};

struct Fill {
  std::string coin;
  std::string px;
  std::string closedPnl;
  std::string dir;
  double time = 0;  // the exchange's timestamp, ms since 1970
};

struct VaultEquity {
  std::string vaultAddress;
  std::string equity;
  std::optional<double> lockedUntilTimestamp;
};

struct SpotToken {
  std::string name;
  int index = 0;
  int szDecimals = 0;
  int weiDecimals = 0;
  std::string tokenId;
};

// A spot pair; its asset number in orders is 10000 + index.
struct SpotPair {
  std::string name;  // "PURR/USDC" or "@7"
  std::vector<int> tokens;  // base, quote: indexes into SpotMeta::tokens
  int index = 0;
};

struct SpotMeta {
  std::vector<SpotToken> tokens;
  std::vector<SpotPair> universe;

  const SpotToken* token(int index) const;
};

// A spot pair with its live prices ("spotMetaAndAssetCtxs").
struct SpotMarket {
  SpotPair pair;
  std::optional<Decimal> midPx;
  std::optional<Decimal> markPx;
};

struct SpotBalance {
  std::string coin;
  Decimal total;
  Decimal hold;
};

// `dex` names a builder dex whose positions or orders are wanted; none is
// Hyperliquid's own.
std::vector<Order> openOrders(const Hyperliquid::InfoApi& api, const std::string& user,
                              const std::optional<std::string>& dex = std::nullopt);
std::vector<Position> positions(const Hyperliquid::InfoApi& api, const std::string& user,
                                const std::optional<std::string>& dex = std::nullopt);
std::vector<Fill> fills(const Hyperliquid::InfoApi& api, const std::string& user);
std::vector<VaultEquity> vaultEquities(const Hyperliquid::InfoApi& api, const std::string& user);
SpotMeta spotMeta(const Hyperliquid::InfoApi& api);
std::vector<SpotMarket> spotMarkets(const Hyperliquid::InfoApi& api);
// "spotClearinghouseState": every token the account holds on spot.
std::vector<SpotBalance> spotBalances(const Hyperliquid::InfoApi& api, const std::string& user);
// "allMids": coin → mid price. Spot pairs appear under their "@<index>" names.
std::map<std::string, Decimal> mids(const Hyperliquid::InfoApi& api);

// The parsers alone, for answers already in hand.
[[nodiscard]] std::vector<Order> parseOpenOrders(const Json& answer);
[[nodiscard]] std::vector<Position> parsePositions(const Json& clearinghouseState);

}  // namespace orwenna::HyperliquidAccount
