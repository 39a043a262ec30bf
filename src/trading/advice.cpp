#include "trading/advice.h"

#include "trading/fmt.h"

namespace orwenna {

namespace {

// Rules of thumb behind the warnings; the user's own limits are in RiskPolicy.
// Margin above capital divided by this leaves little free for other trades.
constexpr int kMarginShareDivisor = 2;
// A liquidation within this many stop distances is in reach of a stop that slips.
constexpr int kLiquidationStops = 2;
// A 24-hour move of this many percent either way is sharp: chasing it is a poor entry.
constexpr int kSharpMovePct = 5;
// Funding paid at this many percent a year or more eats a position held for days.
constexpr int kCostlyFundingYearPct = 30;
// Hyperliquid quotes funding per hour.
constexpr int kHoursPerDay = 24;
constexpr int kHoursPerYear = 24 * 365;
// The classic take-profit: the whole position at this multiple of the risk.
constexpr int kClassicTakeR = 2;

Advice ok(std::string text) { return {Advice::Level::ok, std::move(text)}; }
Advice warn(std::string text) { return {Advice::Level::warn, std::move(text)}; }
Advice block(std::string text) { return {Advice::Level::block, std::move(text)}; }

std::string signedText(const Decimal& change) {
  std::string out = plainText(change);
  if (change.isPositive()) out.insert(out.begin(), '+');
  return out;
}

}  // namespace

std::vector<Advice> Advice::check(const TradeIntent& intent, const Sizing& sizing, const Market& market,
                                  const std::optional<Decimal>& equity, const RiskPolicy& policy,
                                  const std::optional<Decimal>& openRisk) {
  std::vector<Advice> out;
  const Decimal hundred = 100;
  const bool haveEquity = equity && equity->isPositive();
  const bool isLong = intent.side == Side::long_;

  // 1. Open risk.
  if (haveEquity) {
    if (!openRisk) {
      out.push_back(warn("An open position has no stop: total risk is unlimited."));
    } else if (openRisk->isPositive()) {
      Decimal total = *openRisk + sizing.lossAtStopUSD;
      Decimal totalPct = (total / *equity * hundred).rounded(1);
      if (totalPct > policy.maxOpenRiskPct) {
        out.push_back(block("With open positions, −" + Fmt::usd(total) + " at the stops: " + plainText(totalPct) +
                            "% of capital. Rule: all positions together at most " + plainText(policy.maxOpenRiskPct) +
                            "%."));
      } else {
        out.push_back(ok("All positions together: " + plainText(totalPct) + "% of capital at the stops, limit " +
                         plainText(policy.maxOpenRiskPct) + "%."));
      }
    }
  }

  // 2. Risk per trade, 3. margin share.
  if (!haveEquity) {
    out.push_back(warn("Capital unknown: no balance, so risk in % isn't checked."));
  } else {
    Decimal riskPct = sizing.lossAtStopUSD / *equity * hundred;
    std::string shown = plainText(riskPct.rounded(1));
    if (riskPct <= policy.maxRiskPct) {
      out.push_back(ok("Risk " + shown + "% of capital, within " + plainText(policy.maxRiskPct) + "%."));
    } else {
      Decimal limit = (*equity * policy.maxRiskPct / hundred).rounded(2, RoundingMode::down);
      out.push_back(block("At the stop −" + Fmt::usd(sizing.lossAtStopUSD) + ": " + shown + "% of " +
                          Fmt::usd(*equity) + " capital. Rule: at most " + plainText(policy.maxRiskPct) +
                          "% per trade, i.e. up to " + Fmt::usd(limit) +
                          ". Lower the risk or top up; the limit is in Settings."));
    }
    if (sizing.margin > *equity / Decimal(kMarginShareDivisor)) {
      out.push_back(warn("Margin takes " + Fmt::num((sizing.margin / *equity * hundred).rounded(0), 0) +
                         "% of capital: little is left for other trades."));
    }
  }

  // 4. Reward/risk.
  const std::string rr = plainText(policy.defaultRewardRisk);
  if (sizing.profitAtTakeUSD && sizing.lossAtStopUSD.isPositive()) {
    Decimal ratio = (*sizing.profitAtTakeUSD / sizing.lossAtStopUSD).rounded(1);
    if (ratio < policy.minRewardRisk) {
      out.push_back(warn("Reward/risk 1:" + plainText(ratio) + ": the take-profit is close. The usual minimum is 1:" +
                         rr + ", “take " + rr + "R”."));
    } else {
      out.push_back(ok("Reward/risk 1:" + plainText(ratio) + "."));
    }
  } else {
    out.push_back(warn("No take-profit. By the 1:" + rr + " rule: “take " + rr + "R”."));
  }

  // 5. Stop inside the noise.
  const Decimal stopPct = intent.stopPct.value_or(
      sizing.entry.isZero() ? Decimal(0) : (sizing.entry - sizing.stopPrice).abs() / sizing.entry * hundred);
  if (market.atrPct && stopPct < *market.atrPct) {
    out.push_back(warn("Stop " + plainText(stopPct) + "% is below the average 4-hour move of " + market.name +
                       " (ATR " + plainText(market.atrPct->rounded(2)) + "%): normal noise can hit it. “Stop by the book” sets " +
                       plainText(policy.atrStopMultiple) + " ATR."));
  }

  // 6. Leverage above the rules.
  const Decimal leverage = intent.leverage.value_or(Decimal(1));
  if (leverage > policy.maxLeverage) {
    out.push_back(warn("Leverage " + plainText(leverage) + "× is above " + plainText(policy.maxLeverage) +
                       "×: risk comes from the stop, but liquidation is closer and mistakes cost more."));
  }

  // 7. Liquidation close.
  Decimal stopGap = (sizing.entry - sizing.stopPrice).abs();
  Decimal liqGap = (sizing.entry - sizing.liquidationPrice).abs();
  if (stopGap.isPositive() && liqGap < Decimal(kLiquidationStops) * stopGap) {
    out.push_back(warn("Liquidation (" + priceText(sizing.liquidationPrice) +
                       ") is less than two stops from entry: a slipping stop could reach it. Lower the leverage."));
  }

  // 8. The 24-hour move.
  if (market.prevDayPx && market.prevDayPx->isPositive()) {
    Decimal change = ((market.markPx - *market.prevDayPx) / *market.prevDayPx * hundred).rounded(1);
    const bool sharpUp = change >= Decimal(kSharpMovePct);
    const bool sharpDown = change <= Decimal(-kSharpMovePct);
    const bool limit = intent.entryPx.has_value();
    if (isLong && sharpUp) {
      out.push_back(limit ? ok(market.name + " +" + plainText(change) + "% in 24h, so the entry is a limit below the market.")
                          : warn("Not the best entry: " + market.name + " +" + plainText(change) +
                                 "% in 24h. A sharp rise is often followed by a pullback: “pullback 2%” sets a limit below."));
    } else if (!isLong && sharpDown) {
      out.push_back(limit ? ok(market.name + " " + plainText(change) + "% in 24h, so the entry is a limit above the market.")
                          : warn("Not the best entry: " + market.name + " " + plainText(change) +
                                 "% in 24h. A sharp drop is often followed by a bounce: “pullback 2%” sets a limit above."));
    } else if ((isLong && sharpDown) || (!isLong && sharpUp)) {
      out.push_back(warn("Trade against the 24h move (" + signedText(change) +
                         "%): catching a reversal is riskier than following the trend."));
    } else {
      out.push_back(ok("24h: " + signedText(change) + "%, no sharp move before entry."));
    }
  }

  // 9. Funding.
  if (market.funding) {
    const Decimal& f = *market.funding;
    bool pays = (isLong && f.isPositive()) || (!isLong && f.isNegative());
    Decimal annualPct = (f.abs() * Decimal(kHoursPerYear * 100)).rounded(0);
    if (pays && annualPct >= Decimal(kCostlyFundingYearPct)) {
      Decimal perDay = (sizing.notional * f.abs() * Decimal(kHoursPerDay)).rounded(2, RoundingMode::up);
      out.push_back(warn(std::string("Funding: ") + (isLong ? "longs" : "shorts") + " pay ≈" + Fmt::num(annualPct, 0) +
                         "% a year, ≈ " + Fmt::usd(perDay) + " a day for this position."));
    }
  }
  return out;
}

std::string_view levelName(Advice::Level level) {
  switch (level) {
    case Advice::Level::ok: return "ok";
    case Advice::Level::warn: return "warn";
    case Advice::Level::block: return "block";
  }
  return "ok";
}

std::string_view rawValue(TakeStyle style) {
  switch (style) {
    case TakeStyle::classic: return "classic";
    case TakeStyle::partial: return "partial";
    case TakeStyle::trend: return "trend";
  }
  return "classic";
}

std::optional<TakeStyle> takeStyleFromRaw(std::string_view raw) {
  for (auto s : {TakeStyle::classic, TakeStyle::partial, TakeStyle::trend}) {
    if (rawValue(s) == raw) return s;
  }
  return std::nullopt;
}

std::string_view summary(TakeStyle style) {
  switch (style) {
    case TakeStyle::classic: return "All of it at 2× the risk.";
    case TakeStyle::partial: return "Half at 1R, stop to breakeven, the rest at 2R.";
    case TakeStyle::trend: return "Half at 1R, the rest follows the price with a 2% trailing stop.";
  }
  return "";
}

std::string_view note(TakeStyle style) {
  switch (style) {
    case TakeStyle::classic: return "Profitable if you win more than a third of your trades.";
    case TakeStyle::partial: return "After the first half the risk is almost zero.";
    case TakeStyle::trend: return "No ceiling, but you give some back on the reversal.";
  }
  return "";
}

std::optional<Decimal> projectedProfit(TakeStyle style, const Decimal& riskUSD) {
  switch (style) {
    case TakeStyle::classic: return Decimal(kClassicTakeR) * riskUSD;
    case TakeStyle::partial: return riskUSD / Decimal(2) + riskUSD;
    case TakeStyle::trend: return std::nullopt;
  }
  return std::nullopt;
}

std::string projectedProfitText(TakeStyle style, const Decimal& riskUSD) {
  auto profit = projectedProfit(style, riskUSD);
  return profit ? Fmt::usd(*profit) : "no cap";
}

}  // namespace orwenna
