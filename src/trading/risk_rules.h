// The automatic rules: fill in what the user left out of a trade (entry on a
// pullback, stop by volatility, take-profit from R, leverage cap, exit in
// parts, risk from capital or margin, the minimum order) with one explanatory
// note per change. Pure; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "trading/market.h"
#include "trading/risk_policy.h"
#include "trading/trade_intent.h"

namespace orwenna {

struct RulesOutcome {
  TradeIntent intent;
  std::vector<std::string> notes;
};

namespace RiskRules {

// `market` is nullptr when not loaded; `equity` is the capital for percentages.
[[nodiscard]] RulesOutcome apply(const TradeIntent& intent, const Market* market,
                                 const std::optional<Decimal>& equity, const RiskPolicy& policy);

}  // namespace RiskRules
}  // namespace orwenna
