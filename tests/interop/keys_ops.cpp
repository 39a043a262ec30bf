// Ops for the key and address checks: accounts of a phrase, phrase
// validation, segwit decoding, key import and address checks.
#include "base/bytes.h"
#include "helper.h"
#include "signing/accounts.h"
#include "signing/address_check.h"
#include "signing/bech32.h"
#include "signing/derivation.h"
#include "signing/imported_key.h"
#include "signing/mnemonic.h"
#include "signing/wallet_error.h"

namespace orwenna::interop {

namespace {

OpRegistrar accounts("keysAccounts", [](const Json& request) {
  auto entropy = fromHex(requireString(request, "entropy"), false);
  if (!entropy) throw std::runtime_error("bad hex");
  std::string phrase = Mnemonic::phrase(*entropy);
  SecretBytes seed = Mnemonic::seed(phrase, requireString(request, "passphrase"));
  auto index = request.at("index").get<std::uint32_t>();
  return Json{
      {"phrase", phrase},
      {"seed", toHex(seed.span())},
      {"evm", EVMAccount::address(Derivation::secp256k1(seed.span(), WalletPath::evm(index)).span())},
      {"solana", SolanaAccount::address(Derivation::ed25519(seed.span(), WalletPath::solana(index)).span())},
      {"near", NearAccount::implicitAccount(Derivation::ed25519(seed.span(), WalletPath::near(index)).span())},
  };
});

// The normalised phrase, or null when it is refused.
OpRegistrar normalize("mnemonicNormalize", [](const Json& request) {
  try {
    return Json(Mnemonic::normalize(requireString(request, "phrase")));
  } catch (const WalletError&) {
    return Json(nullptr);
  }
});

OpRegistrar segwit("segwitDecode", [](const Json& request) {
  auto w = Bech32::decodeSegwit(requireString(request, "hrp"), requireString(request, "address"));
  if (!w) return Json(nullptr);
  return Json{{"version", w->version}, {"program", toHex(w->program)}};
});

OpRegistrar importKey("importKey", [](const Json& request) {
  try {
    ImportedKey key = ImportedKey::parse(requireString(request, "text"));
    return Json{{"kind", key.kind() == ImportedKey::Kind::evm ? "evm" : "solana"}, {"address", key.address()}};
  } catch (const WalletError& e) {
    return Json{{"error", e.what()}};
  }
});

OpRegistrar addressProblem("addressProblem", [](const Json& request) {
  auto network = AddressCheck::networkFromRawValue(requireString(request, "network"));
  if (!network) throw std::runtime_error("unknown network");
  auto problem = AddressCheck::problem(requireString(request, "address"), *network);
  return problem ? Json(*problem) : Json(nullptr);
});

}  // namespace

}  // namespace orwenna::interop
