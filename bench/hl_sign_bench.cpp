// Building and signing one Hyperliquid order (HLOrder → action map →
// MessagePack → action hash → EIP-712 "Agent" digest → secp256k1 signature),
// and its pieces. bench/hl_sign_bench.mjs runs this program and measures
// @nktkas/hyperliquid on the same order.
#include <benchmark/benchmark.h>

#include "base/bytes.h"
#include "signing/hl_action.h"
#include "signing/hl_signer.h"
#include "signing/keccak.h"
#include "signing/secret.h"

namespace {

using namespace orwenna;

HLOrder sampleOrder() {
  HLOrder o;
  o.asset = 0;
  o.isBuy = true;
  o.price = Decimal::parse("64231.5");
  o.size = Decimal::parse("0.0123");
  o.reduceOnly = false;
  o.kind = HLOrder::Limit{"Gtc"};
  return o;
}

SecretBytes benchKey() {
  Keccak::Digest d = Keccak::hash256(std::string_view("hl bench key"));
  return SecretBytes(d);
}

constexpr std::uint64_t kNonce = 1765000000000ULL;

void BM_HLSignOrder(benchmark::State& state) {
  HLOrder order = sampleOrder();
  SecretBytes key = benchKey();
  std::uint64_t nonce = kNonce;
  for (auto _ : state) {
    MsgPack action = HLAction::order(std::span(&order, 1), "na");
    benchmark::DoNotOptimize(HLSigner::signL1(action, key.span(), nonce++, std::nullopt, std::nullopt, true));
  }
}
BENCHMARK(BM_HLSignOrder);

void BM_HLBuildAndPackOrder(benchmark::State& state) {
  HLOrder order = sampleOrder();
  for (auto _ : state) benchmark::DoNotOptimize(HLAction::order(std::span(&order, 1), "na").encoded());
}
BENCHMARK(BM_HLBuildAndPackOrder);

void BM_HLActionHashOrder(benchmark::State& state) {
  HLOrder order = sampleOrder();
  MsgPack action = HLAction::order(std::span(&order, 1), "na");
  std::uint64_t nonce = kNonce;
  for (auto _ : state) benchmark::DoNotOptimize(HLSigner::actionHash(action, std::nullopt, nonce++, std::nullopt));
}
BENCHMARK(BM_HLActionHashOrder);

void BM_HLSignUserWithdraw(benchmark::State& state) {
  SecretBytes key = benchKey();
  std::uint64_t time = kNonce;
  for (auto _ : state) {
    MsgPack action = HLAction::withdraw3("0x5e9ee1089755c3435139848e47e6635505d5a13a", Decimal(25), time++, true);
    benchmark::DoNotOptimize(HLSigner::signUser(action, key.span(), true));
  }
}
BENCHMARK(BM_HLSignUserWithdraw);

}  // namespace
