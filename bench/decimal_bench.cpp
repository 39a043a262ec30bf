// Decimal arithmetic on the figures sizing works with: prices with 5 significant
// figures, sizes with a few decimals, fees with 5 decimals; and the worst case
// of full 38-digit operands.
#include <benchmark/benchmark.h>

#include "base/decimal.h"

using orwenna::Decimal;

static void BM_MultiplyPriceBySize(benchmark::State& state) {
  Decimal price = Decimal::parse("64231.5");
  Decimal size = Decimal::parse("0.01234");
  for (auto _ : state) benchmark::DoNotOptimize(price * size);
}
BENCHMARK(BM_MultiplyPriceBySize);

static void BM_MultiplyFull(benchmark::State& state) {
  Decimal a = Decimal::parse("1234567890.1234567890123456789012345678");
  Decimal b = Decimal::parse("9.876543210987654321098765432109876543");
  for (auto _ : state) benchmark::DoNotOptimize(a * b);
}
BENCHMARK(BM_MultiplyFull);

static void BM_DivideRiskByPerUnit(benchmark::State& state) {
  Decimal risk = Decimal(10);
  Decimal perUnit = Decimal::parse("2.0891");
  for (auto _ : state) benchmark::DoNotOptimize(risk / perUnit);
}
BENCHMARK(BM_DivideRiskByPerUnit);

static void BM_DivideFull(benchmark::State& state) {
  Decimal a = Decimal::parse("1234567890.1234567890123456789012345678");
  Decimal b = Decimal::parse("3.333333333333333333333333333333333333");
  for (auto _ : state) benchmark::DoNotOptimize(a / b);
}
BENCHMARK(BM_DivideFull);

static void BM_AddMixedScales(benchmark::State& state) {
  Decimal a = Decimal::parse("100000.25");
  Decimal b = Decimal::parse("0.000425898");
  for (auto _ : state) benchmark::DoNotOptimize(a + b);
}
BENCHMARK(BM_AddMixedScales);

static void BM_RoundDownToSizeDecimals(benchmark::State& state) {
  Decimal raw = Decimal(10) / Decimal::parse("2.0891");
  for (auto _ : state) benchmark::DoNotOptimize(raw.rounded(2, orwenna::RoundingMode::down));
}
BENCHMARK(BM_RoundDownToSizeDecimals);

static void BM_ParseAndPrint(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Decimal::parse("64231.50000").toString());
}
BENCHMARK(BM_ParseAndPrint);
