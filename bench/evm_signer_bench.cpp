// EVM signing costs: recoverable ECDSA sign and recover-to-address (libsecp256k1),
// the EIP-712 digest of the Mail example, reading a page's permit document,
// and the personal-message hash. bench/evm_signer_bench.mjs runs this program
// and measures @noble/curves and viem on the same inputs for the ratios.
#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "signing/eip712.h"
#include "signing/evm_signer.h"
#include "signing/keccak.h"
#include "signing/secret.h"
#include "signing/typed_data.h"

namespace {

using namespace orwenna;

// Sixteen fixed keys and hashes (Keccak of small texts), the same the script uses.
struct Inputs {
  std::vector<SecretBytes> keys;
  std::vector<Keccak::Digest> hashes;
  std::vector<EVMSignature> signatures;
  Inputs() {
    for (int i = 0; i < 16; ++i) {
      auto k = Keccak::hash256(std::string_view("bench key " + std::to_string(i)));
      keys.emplace_back(ByteView(k));
      hashes.push_back(Keccak::hash256(std::string_view("bench message " + std::to_string(i))));
      signatures.push_back(EVMSigner::sign(hashes.back(), keys.back().span()));
    }
  }
};

const Inputs& inputs() {
  static const Inputs all;
  return all;
}

void BM_EVMSign(benchmark::State& state) {
  const Inputs& in = inputs();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVMSigner::sign(in.hashes[i % 16], in.keys[i % 16].span()));
    ++i;
  }
}
BENCHMARK(BM_EVMSign);

void BM_EVMRecoverAddress(benchmark::State& state) {
  const Inputs& in = inputs();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVMSigner::recover(in.signatures[i % 16], in.hashes[i % 16]));
    ++i;
  }
}
BENCHMARK(BM_EVMRecoverAddress);

void BM_EIP712DigestMail(benchmark::State& state) {
  using F = EIP712::Field;
  using V = EIP712::Value;
  auto person = [](const char* name, const char* wallet) {
    return V::structure("Person", {F{"name", "string", V::string(name)}, F{"wallet", "address", V::address(wallet)}});
  };
  EIP712::Typed mail{{F{"name", "string", V::string("Ether Mail")},
                      F{"version", "string", V::string("1")},
                      F{"chainId", "uint256", V::uint(1)},
                      F{"verifyingContract", "address", V::address("0xCcCCccccCCCCcCCCCCCcCcCccCcCCCcCcccccccC")}},
                     "Mail",
                     {F{"from", "Person", person("Cow", "0xCD2a3d9F938E13CD947Ec05AbC7FE734Df8DD826")},
                      F{"to", "Person", person("Bob", "0xbBbBBBBbbBBBbbbBbbBbbbbBBbBbbbbBbBbbBBbB")},
                      F{"contents", "string", V::string("Hello, Bob!")}}};
  for (auto _ : state) benchmark::DoNotOptimize(EIP712::digest(mail));
}
BENCHMARK(BM_EIP712DigestMail);

void BM_TypedDataParsePermit(benchmark::State& state) {
  const std::string text =
      R"({"types":{"EIP712Domain":[{"name":"name","type":"string"},{"name":"version","type":"string"},)"
      R"({"name":"chainId","type":"uint256"},{"name":"verifyingContract","type":"address"}],)"
      R"("Permit":[{"name":"owner","type":"address"},{"name":"spender","type":"address"},)"
      R"({"name":"value","type":"uint256"},{"name":"nonce","type":"uint256"},{"name":"deadline","type":"uint256"}]},)"
      R"("primaryType":"Permit","domain":{"name":"USD Coin","version":"2","chainId":1,)"
      R"("verifyingContract":"0xA0b86991c6218b36c1d19D4a2e9Eb0cE3606eB48"},)"
      R"("message":{"owner":"0x7E5F4552091A69125d5DfCb7b8C2659029395Bdf","spender":"0x2B5AD5c4795c026514f8317c7a215E218DcCD6cF",)"
      R"("value":"1000000","nonce":0,"deadline":1893456000}})";
  for (auto _ : state) {
    TypedData typed = TypedData::parse(text);
    benchmark::DoNotOptimize(TypedData::refusal(typed));
  }
}
BENCHMARK(BM_TypedDataParsePermit);

void BM_PersonalMessageHash100(benchmark::State& state) {
  Bytes message(100, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(PersonalMessage::hash(message));
}
BENCHMARK(BM_PersonalMessageHash100);

}  // namespace
