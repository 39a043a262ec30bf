// The blocks shown beside a pending trade: where the margin comes from, the
// position, stop and take-profit, and the risk-management verdicts, all with
// live numbers. Recomputed on every price refresh. Pure; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/decimal.h"
#include "trading/market.h"
#include "trading/risk_policy.h"
#include "trading/trade_intent.h"

namespace orwenna {

struct Block {
  enum class Status { ready, warning, needsInput, blocked, noData, info };

  std::string id;
  std::string label;
  std::string title;
  std::vector<std::string> lines;
  Status status = Status::info;

  friend bool operator==(const Block&, const Block&) = default;
};

std::string_view statusName(Block::Status status);

// What a bridge from another wallet would deliver to Hyperliquid, as far as
// the funding block needs it.
struct FundingQuote {
  std::string provider;               // "Relay", "1-Click", …
  Decimal receiveUSDC;                // arriving on Hyperliquid
  std::optional<Decimal> feeUSD;
  std::optional<int> etaSeconds;

  friend bool operator==(const FundingQuote&, const FundingQuote&) = default;
};

struct Live {
  bool solanaAddressSet = false;
  std::optional<Decimal> solanaUSDC;
  bool hlAddressSet = false;
  std::optional<Decimal> hlWithdrawable;
  bool marketsLoaded = false;
  std::optional<Market> market;
  std::optional<FundingQuote> quote;
  std::optional<std::pair<std::string, Decimal>> from;  // source name and its USDC
  std::optional<Decimal> equity;
  RiskPolicy policy;
  std::optional<Decimal> openRisk;  // absent when an open position has no stop
  std::vector<std::string> notes;   // from the automatic rules
};

namespace Plan {

// Funding, position, protection, risk management — in that order.
[[nodiscard]] std::vector<Block> blocks(const TradeIntent& intent, const Live& live);

}  // namespace Plan
}  // namespace orwenna
