#include "chains/sns.h"

#include <algorithm>

#include "chains/solana_curve.h"
#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

// Whole-text match of [a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.sol
bool isSolName(std::string_view name) {
  constexpr std::string_view kSuffix = ".sol";
  if (name.size() <= kSuffix.size() || name.substr(name.size() - kSuffix.size()) != kSuffix) return false;
  std::string_view label = name.substr(0, name.size() - kSuffix.size());
  auto plain = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  if (!plain(label.front()) || !plain(label.back())) return false;
  return std::all_of(label.begin(), label.end(), [&](char c) { return plain(c) || c == '-'; });
}

}  // namespace

std::string SNS::nameAccount(std::string_view label) {
  static constexpr std::string_view kPrefix = "SPL Name Service";
  std::string input = std::string(kPrefix) + std::string(label);
  auto hashed = solanaSha256(asBytes(input));
  auto root = solanaAddressBytes(SolanaPrograms::kSolRoot);
  return SPL::findProgramAddress({Bytes(hashed.begin(), hashed.end()), Bytes(32, 0), Bytes(root.begin(), root.end())},
                                 SolanaPrograms::kNameService)
      .first;
}

std::string SNS::resolve(std::string_view name, const SolanaRPC& rpc) {
  const std::string text(name);
  if (!isSolName(name)) {
    throw WalletError(text + " isn't a .sol name orwenna reads: plain letters, digits and hyphens.");
  }
  const std::string account = nameAccount(name.substr(0, name.size() - 4));
  auto info = rpc.accountInfo(account);
  if (!info) throw WalletError(text + " isn't registered.");
  // A registered name always carries its 96-byte header; anything shorter is
  // not a name record.
  if (info->data.size() < 96) throw WalletError(text + "'s account isn't under .sol.");
  ByteView data(info->data);
  auto root = solanaAddressBytes(SolanaPrograms::kSolRoot);
  if (!std::equal(root.begin(), root.end(), data.begin())) throw WalletError(text + "'s account isn't under .sol.");
  ByteView owner = data.subspan(32, 32);
  // An all-zero owner is the empty key: funds sent there are lost for good.
  if (std::all_of(owner.begin(), owner.end(), [](std::uint8_t b) { return b == 0; })) {
    throw WalletError(text + " isn't registered.");
  }
  if (!Ed25519Curve::isOnCurve(owner)) {
    throw WalletError(text + " is held by a program (a tokenized domain), not a wallet. Paste the address itself.");
  }
  return Base58::encode(owner);
}

}  // namespace orwenna
