#include "app/yield_allocation.h"

#include <algorithm>
#include <map>

#include "base/text.h"
#include "language/wallet_command.h"

namespace orwenna {

namespace {

std::string line(WalletCommand::Value v) { return WalletCommand{std::move(v)}.line(); }

std::string dollars(const Decimal& d) { return "$" + d.rounded(2).toString(); }

// Ranked best first; ties keep the caller's order.
std::vector<const YieldSpot*> ranked(const std::vector<YieldSpot>& places, const std::vector<std::string>& without,
                                     std::vector<std::string>& skipped) {
  std::vector<const YieldSpot*> out;
  for (const auto& p : places) {
    const bool excluded = std::any_of(without.begin(), without.end(), [&](const std::string& w) {
      return text::asciiLowercased(text::trimmed(w)) == p.protocol;
    });
    if (excluded) continue;
    if (!p.apy) {
      skipped.push_back(p.name + ": no rate to compare.");
      continue;
    }
    out.push_back(&p);
  }
  std::stable_sort(out.begin(), out.end(), [](const YieldSpot* a, const YieldSpot* b) { return *a->apy > *b->apy; });
  return out;
}

// How much each place should hold out of `total`.
std::map<const YieldSpot*, Decimal> targets(const std::vector<const YieldSpot*>& order, const Decimal& total,
                                            const std::optional<Decimal>& maxShare, std::vector<std::string>& skipped,
                                            Decimal& unplaced) {
  std::map<const YieldSpot*, Decimal> out;
  const Decimal cap = maxShare ? (total * *maxShare / Decimal(100)).rounded(2, RoundingMode::towardZero) : total;
  Decimal left = total;
  for (const YieldSpot* p : order) {
    if (!left.isPositive()) break;
    const Decimal slice = std::min(left, cap);
    if (!p->onSolana()) {
      const Decimal halfYear = slice * *p->apy / Decimal(100) / Decimal(2);
      if (p->roundTripUSD > halfYear) {
        skipped.push_back(p->name + ": the bridges and gas there and back (" + dollars(p->roundTripUSD) +
                          ") cost more than half a year of this slice's interest (" + dollars(halfYear) + ").");
        continue;
      }
    }
    out[p] = slice;
    left = left - slice;
  }
  unplaced = left;
  return out;
}

}  // namespace

std::string YieldPlan::chain() const { return text::join(lines, " then "); }

Decimal YieldAllocation::roundTripUSD(const std::string& network) {
  // A Relay bridge each way plus the approval, deposit and withdrawal gas:
  // cents on the rollups, dollars on Ethereum itself.
  if (network == "solana") return Decimal(0);
  if (network == "ethereum") return Decimal(20);
  return Decimal::parse("0.6");
}

std::string YieldAllocation::depositLine(const YieldSpot& place, const Decimal& amount) {
  if (place.protocol == "jupiter") return line(wallet::lendDeposit{"USDC", amount});
  if (place.protocol == "kamino") return line(wallet::kamino{true, "USDC", amount});
  const std::string there = place.protocol == "aave" ? line(wallet::aave{true, amount, place.network})
                                                     : line(wallet::morpho{true, amount, place.network});
  return line(wallet::solanaTo{place.network, amount}) + " then " + there;
}

std::string YieldAllocation::withdrawLine(const YieldSpot& place, const Decimal& amount) {
  if (place.protocol == "jupiter") return line(wallet::lendWithdraw{"USDC", amount});
  if (place.protocol == "kamino") return line(wallet::kamino{false, "USDC", amount});
  const std::string out = place.protocol == "aave" ? line(wallet::aave{false, amount, place.network})
                                                   : line(wallet::morpho{false, amount, place.network});
  std::string back;
  if (place.network == "base") {
    back = line(wallet::baseToSolana{amount});
  } else if (place.network == "arbitrum") {
    back = line(wallet::arbitrumToSolana{amount});
  } else {
    back = line(wallet::evmToSolana{place.network, amount});
  }
  return out + " then " + back;
}

YieldPlan YieldAllocation::allocate(const std::vector<YieldSpot>& places, const Decimal& amount,
                                    const std::optional<Decimal>& maxShare, const std::vector<std::string>& without) {
  YieldPlan plan;
  auto order = ranked(places, without, plan.skipped);
  auto share = targets(order, amount, maxShare, plan.skipped, plan.unplaced);
  const Decimal least = Decimal::parse(kMinMove);
  for (const YieldSpot* p : order) {
    auto it = share.find(p);
    if (it == share.end()) continue;
    if (it->second < least) {
      plan.unplaced = plan.unplaced + it->second;
      continue;
    }
    plan.slices.push_back({p->name, it->second});
    plan.lines.push_back(depositLine(*p, it->second));
  }
  return plan;
}

YieldPlan YieldAllocation::rebalance(const std::vector<YieldSpot>& places, const std::optional<Decimal>& maxShare) {
  YieldPlan plan;
  Decimal total;
  for (const auto& p : places) total = total + p.supplied;
  auto order = ranked(places, {}, plan.skipped);
  auto share = targets(order, total, maxShare, plan.skipped, plan.unplaced);
  const Decimal least = Decimal::parse(kMinMove);
  std::vector<std::string> deposits;
  for (const auto& p : places) {
    auto it = share.find(&p);
    const Decimal target = it == share.end() ? Decimal(0) : it->second;
    const Decimal change = target - p.supplied;
    // Money that has nowhere better to go stays where it is.
    if (!p.apy || change.abs() < least) continue;
    if (change.isNegative()) {
      plan.lines.push_back(withdrawLine(p, -change));
    } else {
      plan.slices.push_back({p.name, change});
      deposits.push_back(depositLine(p, change));
    }
  }
  plan.lines.insert(plan.lines.end(), deposits.begin(), deposits.end());
  return plan;
}

}  // namespace orwenna
