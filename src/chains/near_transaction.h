// NEAR transactions of the one account kind the system uses, the implicit
// account of an Ed25519 key (its id is the key's 64 lower-case hex digits):
// the Borsh form, its hash, the signed form, and the four calls that wrap
// NEAR and deposit it to a cross-chain intents deposit address.
//
// Amounts are yoctoNEAR (10^-24 NEAR) as unsigned 128-bit integers. Pure;
// thread-safe. Failures are WalletError with the chat's sentence.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/uint.h"

namespace orwenna {

struct NearAction {
  enum class Kind { functionCall, transfer, deleteAccount };
  Kind kind = Kind::transfer;
  std::string method;       // functionCall
  Bytes args;               // functionCall: JSON text
  std::uint64_t gas = 0;    // functionCall
  UInt128 deposit = 0;      // functionCall, transfer
  std::string beneficiary;  // deleteAccount

  static NearAction functionCall(std::string method, std::string_view jsonArgs, std::uint64_t gas, UInt128 deposit);
  static NearAction transfer(UInt128 deposit);
  static NearAction deleteAccount(std::string beneficiary);
  bool operator==(const NearAction&) const = default;
};

struct NearTransaction {
  static constexpr std::string_view kWrapContract = "wrap.near";
  static constexpr std::uint64_t kStorageGas = 15'000'000'000'000;   // 15 Tgas
  static constexpr std::uint64_t kTransferGas = 30'000'000'000'000;  // 30 Tgas
  static inline const UInt128 kStorageDeposit = UInt128(1'250'000'000ULL) * UInt128(1'000'000'000'000ULL);  // 0.00125 NEAR
  static inline const UInt128 kOneNear = UInt128(1'000'000'000'000ULL) * UInt128(1'000'000'000'000ULL);

  // The Borsh bytes: signer id, key type 0 and the key, nonce, receiver,
  // block hash, actions. REQUIRES: publicKey and blockHash are 32 bytes.
  static Bytes encode(std::string_view signerId, ByteView publicKey, std::uint64_t nonce, std::string_view receiver,
                      ByteView blockHash, const std::vector<NearAction>& actions);
  // SHA-256 of the Borsh bytes: what is signed, and (in Base58) the id.
  static std::array<std::uint8_t, 32> hash(ByteView encoded);
  // The Borsh bytes, key type 0, the Ed25519 signature of their hash. The
  // signer is the implicit account of `secret` (32-byte seed). Throws
  // WalletError for a block hash that is not 32 bytes.
  static Bytes signedBytes(ByteView secret, std::uint64_t nonce, std::string_view receiver, ByteView blockHash,
                           const std::vector<NearAction>& actions);
  // The transaction id of signed bytes: Base58 of the hash of their unsigned part.
  // Throws WalletError when the bytes are too short to be a signed transaction.
  static std::string idOfSigned(ByteView signedTransaction);

  // Wrap `amount` and transfer it to `depositAddress`, all calls to wrap.near.
  static std::vector<NearAction> intentDeposit(std::string_view sender, std::string_view depositAddress,
                                               const UInt128& amount);

  [[nodiscard]] static bool isImplicitAccount(std::string_view text);
  // Throws WalletError "Not a NEAR implicit account: " + text.
  static void requireImplicitAccount(std::string_view text);
  // A NEAR account id as the chain accepts it (2–64 of a-z, 0-9, -, _, .).
  [[nodiscard]] static bool isAccountId(std::string_view text);
};

// "1.5" NEAR → yoctoNEAR; nothing for a negative, over-precise or too large amount.
[[nodiscard]] std::optional<UInt128> nearToYocto(std::string_view near);
// yoctoNEAR as NEAR text, exact, without trailing zeros.
std::string yoctoToNear(const UInt128& yocto);

}  // namespace orwenna
