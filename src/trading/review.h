// A trade as asked, run through the whole chain the chat and `orwenna size`
// share: the automatic rules fill it in, it is sized and checked against the
// market, and a sized trade gets the graded advice. Pure; thread-safe.
#pragma once

#include <optional>
#include <vector>

#include "base/decimal.h"
#include "trading/advice.h"
#include "trading/market.h"
#include "trading/risk_calc.h"
#include "trading/risk_policy.h"
#include "trading/risk_rules.h"
#include "trading/trade_intent.h"

namespace orwenna {

struct Review {
  RulesOutcome rules;          // the trade as the rules completed it, and their notes
  Evaluation evaluation;       // what is missing, the first failing check, the sizing
  std::vector<Advice> advice;  // empty until the trade is sized against a market

  bool breaksARule() const;  // some advice is a block
};

// `market` is nullptr when not loaded; `equity` the capital for percentages;
// `openRisk` the summed loss at the stops of the open positions, absent when
// one of them has no stop.
[[nodiscard]] Review review(const TradeIntent& asked, const Market* market, const std::optional<Decimal>& equity,
                            const RiskPolicy& policy, const std::optional<Decimal>& openRisk);

}  // namespace orwenna
