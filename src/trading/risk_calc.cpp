#include "trading/risk_calc.h"

#include "trading/fmt.h"

namespace orwenna {

std::string priceText(const Decimal& price) { return Fmt::num(price, 6); }
std::string plainText(const Decimal& value) { return Fmt::num(value, 2); }
int sideSign(Side side) { return side == Side::long_ ? 1 : -1; }

namespace RiskCalc {

const Decimal& takerFee() {
  static const Decimal fee = Decimal::parse("0.00045");
  return fee;
}

const Decimal& minNotional() {
  static const Decimal minimum = 10;
  return minimum;
}

Sizing size(const Decimal& riskUSD, const Decimal& stopPct, const std::optional<Decimal>& takePct,
            const Decimal& leverage, Side side, const Market& market, const std::optional<Decimal>& entryPx) {
  const Decimal d = sideSign(side);
  const Decimal s = stopPct / Decimal(100);
  const Decimal& fee = takerFee();

  Sizing out;
  out.entry = entryPx.value_or(market.markPx);
  out.stopPrice = out.entry * (Decimal(1) - d * s);
  Decimal stopDistance = out.entry * s;
  Decimal feePerUnit = (out.entry + out.stopPrice) * fee;
  Decimal rawSize = riskUSD / (stopDistance + feePerUnit);
  out.size = rawSize.rounded(market.szDecimals, RoundingMode::down);
  out.notional = out.size * out.entry;
  out.feesUSD = out.size * (out.entry + out.stopPrice) * fee;
  if (takePct) {
    Decimal takePrice = out.entry * (Decimal(1) + d * *takePct / Decimal(100));
    out.takePrice = takePrice;
    out.profitAtTakeUSD = out.size * (takePrice - out.entry).abs() - out.size * (out.entry + takePrice) * fee;
  }
  Decimal mmr = Decimal(1) / (Decimal(2) * Decimal(market.maxLeverage));
  out.liquidationPrice =
      out.entry * (Decimal(1) - d * (Decimal(1) / leverage - mmr) / (Decimal(1) - d * mmr));
  out.margin = out.notional / leverage;
  out.lossAtStopUSD = out.size * out.entry * s + out.feesUSD;
  return out;
}

Evaluation evaluate(const TradeIntent& intent, const Market* market) {
  Evaluation ev;
  if (!intent.riskUSD) ev.missing.emplace_back("risk in $");
  if (!intent.stopPct) ev.missing.emplace_back("stop in %");
  if (!ev.missing.empty() || market == nullptr) return ev;

  const Decimal leverage = intent.leverage.value_or(Decimal(1));
  const Decimal& risk = *intent.riskUSD;
  const Decimal& stop = *intent.stopPct;
  const bool isLong = intent.side == Side::long_;

  if (!risk.isPositive()) {
    ev.problem = "Risk must be above zero.";
    return ev;
  }
  if (!stop.isPositive() || stop >= Decimal(100)) {
    ev.problem = "Stop must be above 0% and below 100%.";
    return ev;
  }
  if (intent.takePct && (!intent.takePct->isPositive() || (!isLong && *intent.takePct >= Decimal(100)))) {
    ev.problem = "Take-profit is out of range.";
    return ev;
  }
  if (leverage < Decimal(1) || leverage > Decimal(market->maxLeverage)) {
    ev.problem = "Leverage for " + market->name + ": 1× to " + std::to_string(market->maxLeverage) + "×.";
    return ev;
  }
  if (!leverage.isInteger()) {
    ev.problem = "Leverage on Hyperliquid is a whole number: " + leverage.rounded(0, RoundingMode::down).toString() +
                 "× or " + leverage.rounded(0, RoundingMode::up).toString() + "×.";
    return ev;
  }
  // A price of zero or below cannot be sized (and cannot be an order).
  if (intent.entryPx && !intent.entryPx->isPositive()) {
    ev.problem = "Limit price must be above zero.";
    return ev;
  }
  if (!intent.entryPx && !market->markPx.isPositive()) {
    ev.problem = "No price for " + market->name + " yet.";
    return ev;
  }
  if (intent.entryPx) {
    bool crosses = isLong ? *intent.entryPx >= market->markPx : *intent.entryPx <= market->markPx;
    if (crosses) {
      ev.problem = "Limit " + priceText(*intent.entryPx) + " is " + (isLong ? "above" : "below") + " the market " +
                   priceText(market->markPx) + " and would fill at once. For a market entry, type “at market”.";
      return ev;
    }
  }

  ev.sizing = size(risk, stop, intent.takePct, leverage, intent.side, *market, intent.entryPx);
  const Sizing& s = *ev.sizing;
  if (!s.size.isPositive()) {
    ev.problem = "Risk is too small for the minimum " + market->name + " size step.";
  } else if (s.notional < minNotional()) {
    ev.problem = "Notional " + Fmt::usd(s.notional) +
                 " is below the Hyperliquid $10 minimum order. Raise the risk or tighten the stop.";
  } else if (isLong ? s.liquidationPrice >= s.stopPrice : s.liquidationPrice <= s.stopPrice) {
    ev.problem = "Liquidation (" + priceText(s.liquidationPrice) + ") comes before the stop. Lower the leverage.";
  }
  return ev;
}

}  // namespace RiskCalc
}  // namespace orwenna
