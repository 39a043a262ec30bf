// The local work of one guardian pass over 50 positions: for each, finding
// its stop among 150 open orders (a stop, a take and an unrelated order per
// position), the step decision and the rounding — everything but the reads
// and the stop moves themselves.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "execution/guardian.h"

namespace {

using orwenna::Decimal;

void BM_GuardianPass50(benchmark::State& state) {
  std::vector<orwenna::ExitRules> rules;
  std::vector<orwenna::HyperliquidAccount::Position> positions;
  std::vector<orwenna::Market> markets;
  std::vector<orwenna::HyperliquidAccount::Order> orders;
  for (int i = 0; i < 50; ++i) {
    const std::string coin = "C" + std::to_string(i);
    const Decimal entry = Decimal(1000 + i * 37);
    const bool isLong = i % 2 == 0;
    const Decimal size = isLong ? Decimal(2) : Decimal(-2);
    rules.push_back(orwenna::ExitRules::opened(size, entry, i % 3 == 0, Decimal::parse("1.5")));
    positions.push_back({coin, i % 3 == 0 ? size / Decimal(2) : size, entry, Decimal(0), std::nullopt});
    orwenna::Market m;
    m.name = coin;
    m.szDecimals = 3;
    m.markPx = isLong ? entry * Decimal::parse("1.021") : entry * Decimal::parse("0.979");
    markets.push_back(m);
    auto order = [&](const char* type, const Decimal& px, bool buy) {
      orwenna::HyperliquidAccount::Order o;
      o.coin = coin;
      o.isTrigger = true;
      o.reduceOnly = true;
      o.triggerPx = px;
      o.side = buy ? "B" : "A";
      o.orderType = type;
      orders.push_back(o);
    };
    order("Stop Market", isLong ? entry * Decimal::parse("0.97") : entry * Decimal::parse("1.03"), !isLong);
    order("Take Profit Market", isLong ? entry * Decimal::parse("1.05") : entry * Decimal::parse("0.95"), !isLong);
    order("Limit", entry, isLong);
  }
  for (auto _ : state) {
    int moves = 0;
    for (std::size_t i = 0; i < rules.size(); ++i) {
      auto d = orwenna::Guardian::decide(rules[i], positions[i], orders, markets[i]);
      moves += d.action.has_value();
    }
    benchmark::DoNotOptimize(moves);
  }
}
BENCHMARK(BM_GuardianPass50);

}  // namespace
