#include "chains/spl.h"

#include <openssl/evp.h>

#include <string>

#include "chains/solana_curve.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"

namespace orwenna {

std::array<std::uint8_t, 32> solanaSha256(ByteView data) {
  std::array<std::uint8_t, 32> out{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_sha256(), nullptr) != 1 || length != 32) {
    throw WalletError("SHA-256 failed.");
  }
  return out;
}

namespace {

Bytes pdaPreimage(const std::vector<Bytes>& seeds, std::string_view program) {
  auto programBytes = solanaAddressBytes(program);
  // The runtime refuses these, so an address derived from them would be useless.
  if (seeds.size() > 16) throw WalletError("A program address takes at most 16 seeds.");
  for (const auto& seed : seeds) {
    if (seed.size() > 32) throw WalletError("A program address seed is at most 32 bytes.");
  }
  static constexpr std::string_view kMarker = "ProgramDerivedAddress";
  Bytes input;
  for (const auto& seed : seeds) input.insert(input.end(), seed.begin(), seed.end());
  input.insert(input.end(), programBytes.begin(), programBytes.end());
  input.insert(input.end(), kMarker.begin(), kMarker.end());
  return input;
}

}  // namespace

std::optional<std::string> SPL::createProgramAddress(const std::vector<Bytes>& seeds, std::string_view program) {
  auto candidate = solanaSha256(pdaPreimage(seeds, program));
  if (Ed25519Curve::isOnCurve(candidate)) return std::nullopt;
  return Base58::encode(candidate);
}

std::pair<std::string, std::uint8_t> SPL::findProgramAddress(const std::vector<Bytes>& seeds,
                                                             std::string_view program) {
  std::vector<Bytes> withBump = seeds;
  withBump.push_back({0});
  Bytes input = pdaPreimage(withBump, program);
  std::size_t bumpAt = 0;
  for (const auto& seed : seeds) bumpAt += seed.size();
  for (int bump = 255; bump >= 0; --bump) {
    input[bumpAt] = static_cast<std::uint8_t>(bump);
    auto candidate = solanaSha256(input);
    if (!Ed25519Curve::isOnCurve(candidate)) {
      return {Base58::encode(candidate), static_cast<std::uint8_t>(bump)};
    }
  }
  throw WalletError("No program address found");
}

std::string SPL::associatedTokenAddress(std::string_view owner, std::string_view mint,
                                        std::string_view tokenProgram) {
  auto o = solanaAddressBytes(owner);
  auto p = solanaAddressBytes(tokenProgram);
  auto m = solanaAddressBytes(mint);
  return findProgramAddress({Bytes(o.begin(), o.end()), Bytes(p.begin(), p.end()), Bytes(m.begin(), m.end())},
                            SolanaPrograms::kAssociatedToken)
      .first;
}

std::vector<SolanaInstruction> SPL::transferInstructions(const Transfer& t) {
  auto ownerBytes = solanaAddressBytes(t.owner);
  auto recipientBytes = solanaAddressBytes(t.recipient);
  (void)solanaAddressBytes(t.mint);
  if (t.tokenProgram != SolanaPrograms::kToken && t.tokenProgram != SolanaPrograms::kToken2022) {
    throw WalletError("Unknown token program: " + t.tokenProgram);
  }
  if (ownerBytes == recipientBytes) throw WalletError("Transfer to yourself");
  const std::string source = associatedTokenAddress(t.owner, t.mint, t.tokenProgram);
  const std::string destination = associatedTokenAddress(t.recipient, t.mint, t.tokenProgram);

  std::vector<SolanaInstruction> out;
  if (t.createRecipientAccount) {
    out.push_back({std::string(SolanaPrograms::kAssociatedToken),
                   {{t.owner, true, true},
                    {destination, false, true},
                    {t.recipient, false, false},
                    {t.mint, false, false},
                    {std::string(SolanaPrograms::kSystem), false, false},
                    {t.tokenProgram, false, false}},
                   {0x01}});
  }
  SolanaInstruction transfer;
  transfer.program = t.tokenProgram;
  transfer.accounts = {{source, false, true}, {t.mint, false, false}, {destination, false, true}, {t.owner, true, false}};
  transfer.data.push_back(0x0C);
  for (int i = 0; i < 8; ++i) transfer.data.push_back(static_cast<std::uint8_t>(t.amount >> (8 * i)));
  transfer.data.push_back(t.decimals);
  out.push_back(std::move(transfer));
  return out;
}

std::uint64_t SPL::accountAmount(ByteView data) {
  if (data.size() < 72) return 0;
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | data[64 + static_cast<std::size_t>(i)];
  return v;
}

}  // namespace orwenna
