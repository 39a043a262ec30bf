// Graded verdicts on a sized trade: open risk, risk per trade, margin share,
// reward/risk, stop inside the noise, leverage, liquidation distance, the
// 24-hour move and funding. A `block` item means the trade breaks a hard rule
// of the policy and is not offered for signing. Also the take-profit styles
// offered to the user. Pure; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "trading/market.h"
#include "trading/risk_calc.h"
#include "trading/risk_policy.h"
#include "trading/trade_intent.h"

namespace orwenna {

struct Advice {
  enum class Level { ok, warn, block };

  Level level = Level::ok;
  std::string text;

  friend bool operator==(const Advice&, const Advice&) = default;

  // `openRisk` is the summed loss at the stops of the open positions, absent
  // when one of them has no stop; `equity` the capital for percentages.
  [[nodiscard]] static std::vector<Advice> check(const TradeIntent& intent, const Sizing& sizing,
                                                 const Market& market, const std::optional<Decimal>& equity,
                                                 const RiskPolicy& policy, const std::optional<Decimal>& openRisk);
};

std::string_view levelName(Advice::Level level);  // "ok", "warn", "block"

enum class TakeStyle { classic, partial, trend };

std::string_view rawValue(TakeStyle style);  // "classic", "partial", "trend"
[[nodiscard]] std::optional<TakeStyle> takeStyleFromRaw(std::string_view raw);
std::string_view summary(TakeStyle style);
std::string_view note(TakeStyle style);
// The profit at the take for a risk of `riskUSD`; nothing for a trend exit.
[[nodiscard]] std::optional<Decimal> projectedProfit(TakeStyle style, const Decimal& riskUSD);
// That profit in the money format, or "no cap".
std::string projectedProfitText(TakeStyle style, const Decimal& riskUSD);

}  // namespace orwenna
