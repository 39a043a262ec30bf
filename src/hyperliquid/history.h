// The account's history from Hyperliquid's info endpoint: perp fills, funding
// payments and the non-funding ledger (deposits, withdrawals, sends, moves
// between balances, vaults), each read page by page from a start time so a
// long history is not silently cut, and the portfolio's value now.
//
// Stateless functions over the InfoApi of info.h; numbers parse strictly
// ("Unexpected number format: …"), answers of the wrong shape throw
// MarketDataError, transport failures NetError. Thread-safe as long as the
// HttpClient is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "hyperliquid/info.h"
#include "trading/pnl.h"

namespace orwenna::HyperliquidHistory {

// What a paged read gives, and whether the exchange had no more to give
// (the oldest fills beyond its 10,000 are not served).
struct Fills {
  std::vector<TradeHistory::Fill> fills;  // perp only, oldest first, each once
  bool cut = false;
};

// The exchange's largest page and deepest fill history.
inline constexpr std::size_t kFillPage = 2000;
inline constexpr std::size_t kFillsServed = 10000;

// "userFillsByTime" from `since` (ms), aggregated by time, page after page.
Fills fills(const Hyperliquid::InfoApi& api, const std::string& user, std::int64_t since);
std::vector<TradeHistory::Funding> funding(const Hyperliquid::InfoApi& api, const std::string& user,
                                           std::int64_t since);
// `user` also decides the sign of sends: out of this account is negative.
std::vector<TradeHistory::Transfer> transfers(const Hyperliquid::InfoApi& api, const std::string& user,
                                              std::int64_t since);
// "marginSummary.accountValue" of the perp account.
Decimal accountValue(const Hyperliquid::InfoApi& api, const std::string& user);

// The whole report of a period for the account: fills, funding and the
// ledger read at once on three threads, the positions and the account value
// now. With `history`, the value now is recorded there and the change is
// measured against its values, the ledger's money moves taken out. A failed
// read fails the report (the exception of the read).
PnL::Report pnlReport(const Hyperliquid::InfoApi& api, const std::string& user, PnL::Period period,
                      const std::optional<std::string>& coin, PortfolioHistory* history);

// The parsers alone. A spot fill ("@7", "PURR/USDC") is left out.
[[nodiscard]] std::vector<TradeHistory::Fill> parseFills(const Json& answer);
[[nodiscard]] std::vector<TradeHistory::Funding> parseFunding(const Json& answer);
[[nodiscard]] std::vector<TradeHistory::Transfer> parseTransfers(const Json& answer, const std::string& user);

}  // namespace orwenna::HyperliquidHistory
