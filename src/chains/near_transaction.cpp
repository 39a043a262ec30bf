#include "chains/near_transaction.h"

#include "base/json.h"
#include "chains/spl.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

void putU32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putU64(Bytes& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putU128(Bytes& out, const UInt128& v) {
  for (int i = 0; i < 16; ++i) out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xff));
}
void putString(Bytes& out, std::string_view s) {
  putU32(out, static_cast<std::uint32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

std::string jsonText(const Json& j) { return j.dump(); }

}  // namespace

NearAction NearAction::functionCall(std::string method, std::string_view jsonArgs, std::uint64_t gas,
                                    UInt128 deposit) {
  NearAction a;
  a.kind = Kind::functionCall;
  a.method = std::move(method);
  a.args.assign(jsonArgs.begin(), jsonArgs.end());
  a.gas = gas;
  a.deposit = deposit;
  return a;
}

NearAction NearAction::transfer(UInt128 deposit) {
  NearAction a;
  a.kind = Kind::transfer;
  a.deposit = deposit;
  return a;
}

NearAction NearAction::deleteAccount(std::string beneficiary) {
  NearAction a;
  a.kind = Kind::deleteAccount;
  a.beneficiary = std::move(beneficiary);
  return a;
}

Bytes NearTransaction::encode(std::string_view signerId, ByteView publicKey, std::uint64_t nonce,
                              std::string_view receiver, ByteView blockHash, const std::vector<NearAction>& actions) {
  Bytes out;
  putString(out, signerId);
  out.push_back(0);
  out.insert(out.end(), publicKey.begin(), publicKey.end());
  putU64(out, nonce);
  putString(out, receiver);
  out.insert(out.end(), blockHash.begin(), blockHash.end());
  putU32(out, static_cast<std::uint32_t>(actions.size()));
  for (const auto& a : actions) {
    switch (a.kind) {
      case NearAction::Kind::functionCall:
        out.push_back(2);
        putString(out, a.method);
        putU32(out, static_cast<std::uint32_t>(a.args.size()));
        out.insert(out.end(), a.args.begin(), a.args.end());
        putU64(out, a.gas);
        putU128(out, a.deposit);
        break;
      case NearAction::Kind::transfer:
        out.push_back(3);
        putU128(out, a.deposit);
        break;
      case NearAction::Kind::deleteAccount:
        out.push_back(7);
        putString(out, a.beneficiary);
        break;
    }
  }
  return out;
}

std::array<std::uint8_t, 32> NearTransaction::hash(ByteView encoded) { return solanaSha256(encoded); }

Bytes NearTransaction::signedBytes(ByteView secret, std::uint64_t nonce, std::string_view receiver,
                                   ByteView blockHash, const std::vector<NearAction>& actions) {
  if (blockHash.size() != 32) throw WalletError("A NEAR block hash is 32 bytes.");
  auto publicKey = Ed25519::publicKey(secret);
  const std::string signer = toHex(publicKey);
  Bytes out = encode(signer, publicKey, nonce, receiver, blockHash, actions);
  auto digest = hash(out);
  auto signature = Ed25519::sign(secret, digest);
  out.push_back(0);
  out.insert(out.end(), signature.begin(), signature.end());
  return out;
}

std::string NearTransaction::idOfSigned(ByteView signedTransaction) {
  if (signedTransaction.size() < 65) throw WalletError("Not a signed NEAR transaction.");
  return Base58::encode(hash(signedTransaction.first(signedTransaction.size() - 65)));
}

std::vector<NearAction> NearTransaction::intentDeposit(std::string_view sender, std::string_view depositAddress,
                                                       const UInt128& amount) {
  auto registration = [](std::string_view account) {
    Json args = Json::object();
    args["account_id"] = std::string(account);
    args["registration_only"] = true;
    return jsonText(args);
  };
  Json transfer = Json::object();
  transfer["receiver_id"] = std::string(depositAddress);
  transfer["amount"] = amount.str();
  return {
      NearAction::functionCall("storage_deposit", registration(sender), kStorageGas, kStorageDeposit),
      NearAction::functionCall("storage_deposit", registration(depositAddress), kStorageGas, kStorageDeposit),
      NearAction::functionCall("near_deposit", "{}", kStorageGas, amount),
      NearAction::functionCall("ft_transfer", jsonText(transfer), kTransferGas, 1),
  };
}

bool NearTransaction::isImplicitAccount(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

void NearTransaction::requireImplicitAccount(std::string_view text) {
  if (!isImplicitAccount(text)) throw WalletError("Not a NEAR implicit account: " + std::string(text));
}

bool NearTransaction::isAccountId(std::string_view text) {
  if (text.size() < 2 || text.size() > 64) return false;
  char previous = '.';
  for (char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    const bool separator = c == '-' || c == '_' || c == '.';
    if (!plain && !separator) return false;
    // A separator never starts, ends or doubles.
    if (separator && (previous == '.' || previous == '-' || previous == '_')) return false;
    previous = c;
  }
  return previous != '.' && previous != '-' && previous != '_';
}

std::optional<UInt128> nearToYocto(std::string_view near) {
  auto dot = near.find('.');
  std::string_view whole = near.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : near.substr(dot + 1);
  if (whole.empty() || fraction.size() > 24 || (dot != std::string_view::npos && fraction.empty())) return std::nullopt;
  std::string digits(whole);
  digits += fraction;
  digits.append(24 - fraction.size(), '0');
  auto value = parseUInt256(digits);
  if (!value || *value > UInt256(~UInt128(0))) return std::nullopt;
  return static_cast<UInt128>(*value);
}

std::string yoctoToNear(const UInt128& yocto) {
  std::string digits = yocto.str();
  if (digits.size() <= 24) digits.insert(0, 25 - digits.size(), '0');
  std::string whole = digits.substr(0, digits.size() - 24);
  std::string fraction = digits.substr(digits.size() - 24);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return fraction.empty() ? whole : whole + "." + fraction;
}

}  // namespace orwenna
