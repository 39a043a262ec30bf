#include "trading/plan_blocks.h"

#include "base/text.h"
#include "trading/advice.h"
#include "trading/fmt.h"
#include "trading/risk_calc.h"

namespace orwenna {

std::string_view statusName(Block::Status status) {
  switch (status) {
    case Block::Status::ready: return "ready";
    case Block::Status::warning: return "warning";
    case Block::Status::needsInput: return "needsInput";
    case Block::Status::blocked: return "blocked";
    case Block::Status::noData: return "noData";
    case Block::Status::info: return "info";
  }
  return "info";
}

namespace {

Block fundingBlock(const Live& live, const std::optional<Sizing>& sizing) {
  Block b{"funding", "Margin", "Funding", {}, Block::Status::info};
  if (!live.hlAddressSet) {
    b.lines.emplace_back("No Hyperliquid wallet yet: add one to trade perps.");
    b.status = Block::Status::needsInput;
    return b;
  }
  if (!live.hlWithdrawable) {
    b.lines.emplace_back("Hyperliquid balance: no data.");
    b.status = Block::Status::noData;
    return b;
  }
  const Decimal& free = *live.hlWithdrawable;
  b.lines.push_back("Hyperliquid: " + Fmt::usd(free) + " free for margin.");
  if (!sizing) return b;
  const Decimal& needed = sizing->margin;
  if (free >= needed) {
    b.lines.push_back("Margin " + Fmt::usd(needed) + " comes from the Hyperliquid balance.");
    b.status = Block::Status::ready;
    return b;
  }
  const Decimal shortBy = needed - free;
  if (live.from) {
    b.lines.push_back("Short by " + Fmt::usd(shortBy) + ": bridge from " + live.from->first + " (" +
                      Fmt::usd(live.from->second) + " USDC).");
    b.status = Block::Status::warning;
    if (live.quote) {
      std::string line = "Bridge via " + live.quote->provider + ": ≈ " + Fmt::usd(live.quote->receiveUSDC) +
                         " arrives on Hyperliquid";
      if (live.quote->feeUSD) line += ", fee " + Fmt::usd(*live.quote->feeUSD);
      if (live.quote->etaSeconds) line += ", about " + std::to_string((*live.quote->etaSeconds + 59) / 60) + " min";
      b.lines.push_back(line + ".");
      if (live.quote->receiveUSDC >= shortBy) b.status = Block::Status::ready;
    }
  } else if (live.solanaAddressSet && live.solanaUSDC && live.solanaUSDC->isPositive()) {
    b.lines.push_back("Short by " + Fmt::usd(shortBy) + ": the Solana wallet holds " + Fmt::usd(*live.solanaUSDC) +
                      " USDC that can be bridged to Hyperliquid.");
    b.status = Block::Status::warning;
  } else {
    b.lines.push_back("Short by " + Fmt::usd(shortBy) + ": top up Hyperliquid with USDC.");
    b.status = Block::Status::blocked;
  }
  return b;
}

Block positionBlock(const TradeIntent& intent, const Live& live, const Evaluation& ev) {
  std::string label = intent.side == Side::long_ ? "Long" : "Short";
  if (!intent.asset.empty()) label += " " + intent.asset;
  Block b{"position", label, "Position · Hyperliquid", {}, Block::Status::ready};
  if (!live.market) {
    b.lines.push_back(live.marketsLoaded ? "No " + intent.asset + " market on Hyperliquid." : "Price: no data.");
    b.status = Block::Status::noData;
    return b;
  }
  const Market& m = *live.market;
  if (!ev.missing.empty()) {
    b.lines.push_back("Needed: " + text::join(ev.missing, ", ") + ".");
    b.status = Block::Status::needsInput;
    return b;
  }
  if (ev.sizing) {
    const Sizing& s = *ev.sizing;
    std::string size = Fmt::num(s.size, m.szDecimals);
    if (intent.entryPx) {
      b.lines.push_back("Limit: " + size + " " + intent.asset + " at " + priceText(*intent.entryPx) + ", now " +
                        priceText(m.markPx) + ". Waiting; stop and take-profit start after entry.");
    } else {
      b.lines.push_back(size + " " + intent.asset + " at ≈ " + priceText(s.entry) + " (mark).");
    }
    b.lines.push_back("Notional " + Fmt::usd(s.notional) + ", margin " + Fmt::usd(s.margin) + " at " +
                      plainText(intent.leverage.value_or(Decimal(1))) + "× leverage" +
                      (intent.leverage ? "" : " (default)") + ".");
    b.lines.push_back("Liquidation ≈ " + priceText(s.liquidationPrice) + ", isolated margin.");
  }
  if (ev.problem) {
    b.lines.push_back(*ev.problem);
    b.status = Block::Status::blocked;
  }
  return b;
}

Block protectionBlock(const TradeIntent& intent, const Live& live, const Evaluation& ev) {
  Block b{"protection", "Protection", "Stop & take-profit", {}, Block::Status::ready};
  if (ev.sizing) {
    const Sizing& s = *ev.sizing;
    b.lines.push_back("Stop " + plainText(*intent.stopPct) + "% → " + priceText(s.stopPrice) + ". Loss ≈ " +
                      Fmt::usd(s.lossAtStopUSD) + " incl. " + Fmt::usd(s.feesUSD) + " fees.");
    if (s.takePrice && s.profitAtTakeUSD) {
      b.lines.push_back("Take-profit " + plainText(*intent.takePct) + "% → " + priceText(*s.takePrice) +
                        ". Profit ≈ " + Fmt::usd(*s.profitAtTakeUSD) + ".");
    } else {
      b.lines.emplace_back("No take-profit set.");
    }
    if (intent.partialTake.value_or(false)) {
      Decimal oneR = s.entry + (s.entry - s.stopPrice);
      if (s.size / Decimal(2) * oneR < RiskCalc::minNotional()) {
        b.lines.emplace_back("Can't take in parts: half the position is below the $10 minimum order.");
      } else {
        b.lines.push_back("In parts: half at 1R → " + priceText(oneR) +
                          ", then stop to breakeven (while orwenna is open).");
      }
    }
  } else {
    b.status = live.market ? Block::Status::needsInput : Block::Status::noData;
    b.lines.push_back(intent.stopPct ? "Stop " + plainText(*intent.stopPct) + "%." : "Stop: needed, in %.");
    b.lines.push_back(intent.takePct ? "Take-profit " + plainText(*intent.takePct) + "%." : "No take-profit set.");
  }
  if (intent.trailingPct) {
    b.lines.push_back("Trailing " + plainText(*intent.trailingPct) + "% from the best price; moves while orwenna is open.");
  }
  b.lines.emplace_back("Triggers on mark price; a market exit may fill worse.");
  return b;
}

Block riskBlock(const Live& live, const std::vector<Advice>& advice, bool sized) {
  Block b{"risk", "Rules met", "Risk management", live.notes, Block::Status::ready};
  if (!sized) {
    b.label = "Risk";
    b.lines.emplace_back("The rules are checked once the trade is sized.");
    b.status = live.market ? Block::Status::needsInput : Block::Status::noData;
    return b;
  }
  bool broken = false;
  bool warned = false;
  for (const Advice& a : advice) {
    b.lines.push_back(a.text);
    broken = broken || a.level == Advice::Level::block;
    warned = warned || a.level == Advice::Level::warn;
  }
  if (broken) {
    b.label = "Rule broken";
    b.status = Block::Status::blocked;
  } else if (warned) {
    b.label = "Warnings";
    b.status = Block::Status::warning;
  }
  return b;
}

}  // namespace

namespace Plan {

std::vector<Block> blocks(const TradeIntent& intent, const Live& live) {
  const Market* market = live.market ? &*live.market : nullptr;
  Evaluation ev = RiskCalc::evaluate(intent, market);
  std::vector<Advice> advice;
  if (ev.sizing && market) {
    advice = Advice::check(intent, *ev.sizing, *market, live.equity, live.policy, live.openRisk);
  }
  std::vector<Block> out;
  out.reserve(4);
  out.push_back(fundingBlock(live, ev.sizing));
  out.push_back(positionBlock(intent, live, ev));
  out.push_back(protectionBlock(intent, live, ev));
  out.push_back(riskBlock(live, advice, ev.sizing.has_value()));
  return out;
}

}  // namespace Plan
}  // namespace orwenna
