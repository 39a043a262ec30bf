// Read-only requests to Hyperliquid's info endpoint: markets (own and
// builder-deployed dexes), candles and the 4-hour ATR, and account balances.
// The root is the caller's (InfoApi::root, one of HLEndpoints).
//
// Stateless functions over an injected HttpClient and Clock; every number in an
// answer is parsed strictly into Decimal, and one bad number fails the whole
// call ("Unexpected number format: …"). Network failures propagate as NetError,
// HTTP errors and answers of the wrong shape as MarketDataError. Thread-safe
// as long as the HttpClient is.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/decimal.h"
#include "base/http.h"
#include "base/json.h"
#include "hyperliquid/endpoints.h"
#include "trading/market.h"

namespace orwenna::Hyperliquid {

// Where and how the info endpoint is reached.
struct InfoApi {
  HttpClient& http;
  const Clock& clock;
  std::string root = HLEndpoints::kMainnet;  // no trailing slash; "/info" is appended
};

// Market reads give up after 15 seconds; the account reads execution waits on
// allow 20.
inline constexpr std::chrono::seconds kInfoTimeout{15};
inline constexpr std::chrono::seconds kAccountTimeout{20};

// POSTs `body` as JSON to <root>/info and returns the answer's bytes. Throws
// MarketDataError("Invalid URL: …") for a root that is not an http(s) URL,
// MarketDataError for a non-2xx status, NetError for transport failures.
std::string post(const InfoApi& api, const Json& body, std::chrono::milliseconds timeout = kInfoTimeout);

// A builder-deployed perp dex as listed by "perpDexs".
struct PerpDex {
  std::string name;
  std::string fullName;
};

// The dexes in Hyperliquid's order; the first entry (null on the wire) stands
// for Hyperliquid's own dex and has an empty name. Any failure gives an empty
// list (logged), so callers simply see no builder dexes.
std::vector<PerpDex> perpDexs(const InfoApi& api);

// A builder dex to read markets from: its name and its position in perpDexs.
struct DexRef {
  std::string name;
  int index = 0;
};

// The markets of Hyperliquid's own dex (no dex) or of one builder dex, keyed
// by name. Delisted assets and assets without a mark price are left out.
std::map<std::string, Market> markets(const InfoApi& api, const std::optional<DexRef>& dex = std::nullopt);

// Own markets, then every builder dex from perpDexs, merged by name. A failing
// own-dex read throws; a builder dex that cannot be read is skipped, logged and
// named in unreadDexes() so the rest of the table stays usable.
MarketTable loadMarketTable(const InfoApi& api);

struct Candle {
  std::optional<std::int64_t> t;  // open time, ms since 1970
  std::optional<Decimal> o;
  Decimal h;
  Decimal l;
  Decimal c;
};

// A chart period: a day of 15-minute candles, a week of hourly ones, a month
// of 4-hour ones.
std::vector<Candle> candles(const InfoApi& api, const std::string& coin, ChartRange range);

// Average true range of the last 14 four-hour candles, in percent of the last
// close. Needs at least 15 candles, else MarketDataError
// "Not enough <coin> candles for ATR.".
Decimal atrPct(const InfoApi& api, const std::string& coin);
// The computation alone, on candles oldest first.
[[nodiscard]] Decimal atrPctOf(const std::vector<Candle>& candles, const std::string& coin);

struct Balance {
  Decimal accountValue;  // perp account value
  Decimal withdrawable;  // perp balance free for withdrawal or new margin
  Decimal spotUSDC;      // USDC in the spot account

  friend bool operator==(const Balance&, const Balance&) = default;
};

// Reads the perp and spot clearinghouse states of `user` (a 0x address)
// concurrently.
Balance balance(const InfoApi& api, const std::string& user);

}  // namespace orwenna::Hyperliquid
