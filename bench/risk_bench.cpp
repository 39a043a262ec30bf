// Rules, evaluation, advice and plan blocks for one pending trade: the work
// done on every price refresh while a trade waits for Confirm.
#include <benchmark/benchmark.h>

#include "trading/advice.h"
#include "trading/plan_blocks.h"
#include "trading/risk_calc.h"
#include "trading/risk_rules.h"

namespace {

using orwenna::Decimal;

orwenna::Market market() {
  orwenna::Market m;
  m.name = "BTC";
  m.markPx = Decimal::parse("91012.5");
  m.szDecimals = 5;
  m.maxLeverage = 40;
  m.prevDayPx = Decimal::parse("86500");
  m.funding = Decimal::parse("0.0000125");
  m.atrPct = Decimal::parse("1.8734");
  m.volume24h = Decimal::parse("2500000000");
  return m;
}

void BM_PendingTradeRefresh(benchmark::State& state) {
  orwenna::TradeIntent intent;
  intent.asset = "BTC";
  intent.side = orwenna::Side::long_;
  intent.autoRules = true;
  intent.pullbackPct = Decimal(1);
  orwenna::Live live;
  live.hlAddressSet = true;
  live.hlWithdrawable = Decimal::parse("2500");
  live.marketsLoaded = true;
  live.market = market();
  live.equity = Decimal::parse("5230.17");
  live.openRisk = Decimal::parse("41.5");
  for (auto _ : state) {
    auto rules = orwenna::RiskRules::apply(intent, &*live.market, live.equity, live.policy);
    live.notes = rules.notes;
    auto ev = orwenna::RiskCalc::evaluate(rules.intent, &*live.market);
    auto advice = orwenna::Advice::check(rules.intent, *ev.sizing, *live.market, live.equity, live.policy,
                                         live.openRisk);
    auto blocks = orwenna::Plan::blocks(rules.intent, live);
    benchmark::DoNotOptimize(advice);
    benchmark::DoNotOptimize(blocks);
  }
}
BENCHMARK(BM_PendingTradeRefresh);

void BM_SizeOnly(benchmark::State& state) {
  orwenna::Market m = market();
  for (auto _ : state) {
    auto s = orwenna::RiskCalc::size(Decimal(50), Decimal::parse("2.5"), Decimal(5), Decimal(5),
                                     orwenna::Side::long_, m, std::nullopt);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_SizeOnly);

}  // namespace
