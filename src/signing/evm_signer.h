// Recoverable secp256k1 ECDSA as EVM chains use it: signatures of 32-byte
// hashes with RFC 6979 deterministic nonces and low s, v = 27 + recovery id,
// recovery of the signer's EIP-55 address; and the EIP-191 personal-message
// hash. Pure; thread-safe (one shared, read-only libsecp256k1 context).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "base/bytes.h"
#include "base/json.h"
#include "signing/keccak.h"

namespace orwenna {

struct EVMSignature {
  std::array<std::uint8_t, 32> r{};
  std::array<std::uint8_t, 32> s{};
  int v = 27;  // 27 or 28

  // r ‖ s ‖ v, the 65 bytes a personal_sign or eth_signTypedData reply carries.
  Bytes bytes() const;
  // Any 65 bytes, v taken as it is (recovery refuses all but 27 and 28);
  // nothing for another length.
  [[nodiscard]] static std::optional<EVMSignature> fromBytes(ByteView bytes);

  // {"r": Base64, "s": Base64, "v": 27}
  Json toJson() const;
  // Throws WalletError "Not a signature over a 32-byte hash." when r or s is not
  // 32 bytes of Base64 or v is not a number.
  static EVMSignature fromJson(const Json& json);

  bool operator==(const EVMSignature&) const = default;
};

struct EVMSigner {
  // REQUIRES: privateKey is the caller's secret (a SecretBytes span); it is
  // read in place and never copied. Throws WalletError for a hash that is not
  // 32 bytes ("Only a 32-byte hash can be signed.") or an invalid key.
  static EVMSignature sign(ByteView hash, ByteView privateKey);
  // The EIP-55 address whose key made the signature. Throws WalletError "Not a
  // signature over a 32-byte hash." for a hash that is not 32 bytes or v other
  // than 27/28, and another WalletError when no key recovers.
  static std::string recover(const EVMSignature& signature, ByteView hash);
};

struct PersonalMessage {
  // Keccak-256(0x19 ‖ "Ethereum Signed Message:\n" ‖ decimal length ‖ message).
  static Keccak::Digest hash(ByteView message);
};

}  // namespace orwenna
