// The Solana work done on every move: the point test behind each derived
// address, associated token accounts, compiling a transfer, and parsing a
// received version-0 message (a Jupiter swap is one of these).
#include <benchmark/benchmark.h>

#include "chains/solana_curve.h"
#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "signing/base58.h"

using namespace orwenna;

namespace {

const std::string kOwner = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
const std::string kRecipient = "HN7cABqLq46Es1jh92dQQisAq662SmxELLLsHHe4YWrH";
const std::string kMint = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";

std::string keyOf(int i) {
  Bytes b(32, static_cast<std::uint8_t>(i));
  b[0] = 0x42;
  return Base58::encode(b);
}

}  // namespace

static void BM_IsOnCurve(benchmark::State& state) {
  auto point = solanaSha256(asBytes("a candidate address"));
  for (auto _ : state) benchmark::DoNotOptimize(Ed25519Curve::isOnCurve(point));
}
BENCHMARK(BM_IsOnCurve);

static void BM_AssociatedTokenAddress(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(SPL::associatedTokenAddress(kOwner, kMint, SolanaPrograms::kToken));
}
BENCHMARK(BM_AssociatedTokenAddress);

static void BM_BuildTokenTransfer(benchmark::State& state) {
  SPL::Transfer t{kOwner, kRecipient, kMint, std::string(SolanaPrograms::kToken), 1'000'000, 6, true};
  auto instructions = SPL::transferInstructions(t);
  for (auto _ : state) benchmark::DoNotOptimize(SolanaTransaction::build(instructions, kOwner, kMint, 50'000));
}
BENCHMARK(BM_BuildTokenTransfer);

static void BM_ParseSwapSizedV0Message(benchmark::State& state) {
  // About what a routed swap carries: 20 static keys, 6 instructions, 3 tables.
  SolanaMessage m;
  m.version = 0;
  m.requiredSignatures = 1;
  m.readonlyUnsignedAccounts = 8;
  for (int i = 0; i < 20; ++i) m.staticKeys.push_back(keyOf(i + 1));
  m.recentBlockhash = keyOf(200);
  for (int k = 0; k < 6; ++k) {
    SolanaMessage::Instruction ix{10 + k, {}, Bytes(40, 7)};
    for (int a = 0; a < 12; ++a) ix.accounts.push_back((a * 5 + k) % 40);
    m.instructions.push_back(ix);
  }
  for (int t = 0; t < 3; ++t) m.lookups.push_back({keyOf(100 + t), {0, 2, 4, 6, 8}, {1, 3, 5}});
  Bytes bytes = SolanaTransaction::encodeMessage(m);
  for (auto _ : state) benchmark::DoNotOptimize(SolanaTransaction::parseMessage(bytes));
}
BENCHMARK(BM_ParseSwapSizedV0Message);
