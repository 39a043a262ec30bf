#include "trading/risk_rules.h"

#include <algorithm>

#include "trading/fmt.h"
#include "trading/risk_calc.h"

namespace orwenna::RiskRules {

namespace {

// A stop from volatility is set to a tenth of a percent, rounded wider so the
// noise it was sized against stays inside it.
constexpr int kStopDecimals = 1;
// A take-profit percentage keeps the two decimals the plan shows.
constexpr int kTakeDecimals = 2;
// Dollar risks are whole cents.
constexpr int kCentDecimals = 2;
// Both the entry and the exit at the stop pay the taker fee.
constexpr int kFeeLegs = 2;

}  // namespace

RulesOutcome apply(const TradeIntent& original, const Market* market, const std::optional<Decimal>& equity,
                   const RiskPolicy& policy) {
  RulesOutcome out{original, {}};
  TradeIntent& t = out.intent;
  auto& notes = out.notes;
  const bool autoRules = t.autoRules.value_or(false);
  const Decimal d = sideSign(t.side);
  const Decimal& fee = RiskCalc::takerFee();
  const Decimal hundred = 100;
  const bool haveEquity = equity && equity->isPositive();

  // 1. Pullback entry.
  if (t.pullbackPct && market) {
    t.entryPx = market->markPx * (Decimal(1) - d * *t.pullbackPct / hundred);
    notes.push_back("Limit entry on a " + plainText(*t.pullbackPct) + "% pullback: " + priceText(*t.entryPx) +
                    " vs. " + priceText(market->markPx) + " now.");
  }

  // 2. Stop by volatility.
  if (!t.stopPct && autoRules && market && market->atrPct) {
    t.stopPct = (policy.atrStopMultiple * *market->atrPct).rounded(kStopDecimals, RoundingMode::up);
    notes.push_back("Stop by volatility: " + plainText(policy.atrStopMultiple) + " × 4h ATR (" +
                    plainText(market->atrPct->rounded(2)) + "%) ≈ " + plainText(*t.stopPct) + "%.");
  }

  // 3. Take-profit from R.
  if (!t.takePct && t.stopPct) {
    std::optional<Decimal> r = t.takeR;
    if (!r && autoRules) r = policy.defaultRewardRisk;
    if (r) {
      t.takePct = (*t.stopPct * *r).rounded(kTakeDecimals, RoundingMode::halfAwayFromZero);
      notes.push_back("Take-profit " + plainText(*r) + "R: " + plainText(*r) + " × stop = " + plainText(*t.takePct) +
                      "%.");
    }
  }

  // 4. Leverage cap.
  bool leverageByRules = false;
  if (!t.leverage && market) {
    t.leverage = std::min(policy.maxLeverage, Decimal(market->maxLeverage));
    leverageByRules = true;
    notes.push_back("Leverage " + plainText(*t.leverage) +
                    "×, the rules' cap; the stop sets the loss, leverage only shrinks the margin.");
  }

  // 5. Partial exit.
  if (!t.partialTake && autoRules) {
    t.partialTake = true;
    notes.emplace_back("Exit in parts: half at 1R, then stop to breakeven, the rest runs to the take-profit.");
  }

  // 6. Risk.
  bool riskByRules = false;
  std::optional<Decimal> amountGiven;
  if (!t.riskUSD) {
    if (!t.amountUSDC) {
      if (autoRules && haveEquity) {
        t.riskUSD = (*equity * policy.defaultRiskPct / hundred).rounded(kCentDecimals, RoundingMode::down);
        riskByRules = true;
        notes.push_back("Risk " + plainText(policy.defaultRiskPct) + "% of " + Fmt::usd(*equity) + " capital = " +
                        Fmt::usd(*t.riskUSD) + ".");
      }
    } else if (t.amountUSDC->isPositive() && t.stopPct) {
      const Decimal amount = *t.amountUSDC;
      const Decimal f = *t.stopPct / hundred + Decimal(kFeeLegs) * fee;
      if (leverageByRules && haveEquity) {
        Decimal n = (*equity * policy.maxRiskPct / hundred / (amount * f)).rounded(0, RoundingMode::down);
        if (n >= Decimal(1) && n < *t.leverage) {
          t.leverage = n;
          notes.push_back("Leverage " + plainText(n) + "× keeps " + plainText(amount) + " USDC in the trade within the " +
                          plainText(policy.maxRiskPct) + "% risk limit.");
        }
      }
      const Decimal leverage = t.leverage.value_or(Decimal(1));
      t.riskUSD = (amount * leverage * f).rounded(kCentDecimals, RoundingMode::down);
      t.amountUSDC.reset();
      amountGiven = amount;
      riskByRules = true;
      notes.push_back(plainText(amount) + " USDC in the trade at " + plainText(leverage) + "× with a " +
                      plainText(*t.stopPct) + "% stop risks " + Fmt::usd(*t.riskUSD) + ".");
    }
  }

  // 7. Minimum order.
  if (riskByRules && market && t.stopPct && haveEquity) {
    const Decimal entry = t.entryPx.value_or(market->markPx);
    if (entry.isPositive()) {
      const Decimal s = *t.stopPct / hundred;
      const Decimal stopPrice = entry * (Decimal(1) - d * s);
      const Decimal perUnit = entry * s + (entry + stopPrice) * fee;
      const Decimal minSize = (RiskCalc::minNotional() / entry).rounded(market->szDecimals, RoundingMode::up);
      const Decimal minRisk = (minSize * perUnit).rounded(kCentDecimals, RoundingMode::up);
      const Decimal leverage = t.leverage.value_or(Decimal(1));
      bool amountReaches = !amountGiven || *amountGiven >= RiskCalc::minNotional() / leverage;
      if (*t.riskUSD < minRisk && minRisk <= *equity * policy.maxRiskPct / hundred && amountReaches) {
        t.riskUSD = minRisk;
        notes.push_back("Risk raised to " + Fmt::usd(minRisk) + " so the order reaches Hyperliquid's $10 minimum.");
      }
    }
  }
  return out;
}

}  // namespace orwenna::RiskRules
