// Key arithmetic on the paths a wallet takes: recovery phrase to seed
// (PBKDF2-HMAC-SHA512, 2048 rounds), seed to the first EVM and Solana
// accounts, and Keccak-256 of a word and of 1 MiB. bench/keys_bench.mjs runs
// the same operations with the npm libraries and prints the ratios.
#include <benchmark/benchmark.h>

#include "signing/accounts.h"
#include "signing/derivation.h"
#include "signing/keccak.h"
#include "signing/mnemonic.h"

namespace {

using namespace orwenna;

const char* kPhrase = "legal winner thank year wave sausage worth useful legal winner thank yellow";

void BM_PhraseToSeed(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Mnemonic::seed(kPhrase, "TREZOR"));
}
BENCHMARK(BM_PhraseToSeed);

void BM_SeedToEvmAddress(benchmark::State& state) {
  SecretBytes seed = Mnemonic::seed(kPhrase, "TREZOR");
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVMAccount::address(Derivation::secp256k1(seed.span(), "m/44'/60'/0'/0/0").span()));
  }
}
BENCHMARK(BM_SeedToEvmAddress);

void BM_SeedToSolanaAddress(benchmark::State& state) {
  SecretBytes seed = Mnemonic::seed(kPhrase, "TREZOR");
  for (auto _ : state) {
    benchmark::DoNotOptimize(SolanaAccount::address(Derivation::ed25519(seed.span(), "m/44'/501'/0'/0'").span()));
  }
}
BENCHMARK(BM_SeedToSolanaAddress);

void BM_Keccak256Of32Bytes(benchmark::State& state) {
  Bytes data(32, 0xab);
  for (auto _ : state) benchmark::DoNotOptimize(Keccak::hash256(data));
}
BENCHMARK(BM_Keccak256Of32Bytes);

void BM_Keccak256Of1MiB(benchmark::State& state) {
  Bytes data(1 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31);
  for (auto _ : state) benchmark::DoNotOptimize(Keccak::hash256(data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_Keccak256Of1MiB);

}  // namespace
