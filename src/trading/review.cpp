#include "trading/review.h"

#include <algorithm>

namespace orwenna {

bool Review::breaksARule() const {
  return std::any_of(advice.begin(), advice.end(), [](const Advice& a) { return a.level == Advice::Level::block; });
}

Review review(const TradeIntent& asked, const Market* market, const std::optional<Decimal>& equity,
              const RiskPolicy& policy, const std::optional<Decimal>& openRisk) {
  Review out{RiskRules::apply(asked, market, equity, policy), {}, {}};
  out.evaluation = RiskCalc::evaluate(out.rules.intent, market);
  if (out.evaluation.sizing && market) {
    out.advice = Advice::check(out.rules.intent, *out.evaluation.sizing, *market, equity, policy, openRisk);
  }
  return out;
}

}  // namespace orwenna
