// The account address of each key kind: EVM (and Hyperliquid) addresses in
// EIP-55 form from secp256k1 keys; Solana and NEAR implicit accounts from
// Ed25519 secrets (the 32-byte seed form). Also the raw Ed25519 operations the
// Solana and NEAR layers sign with. Pure; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "signing/secret.h"

namespace orwenna {

struct EVMAccount {
  // "0x" + 40 hex digits in EIP-55 case. Throws WalletError for a secret that
  // libsecp256k1 rejects (zero, or not below the curve order, or not 32 bytes).
  static std::string address(ByteView privateKey);
  // The EIP-55 form of a 40-hex-digit address, with or without "0x". Text that
  // is not 40 hex digits comes back unchanged.
  static std::string checksummed(std::string_view address);
  // The address of a public key in any form libsecp256k1 reads (33 or 65 bytes);
  // nothing when it is not a point on the curve.
  [[nodiscard]] static std::optional<std::string> addressOfPublicKey(ByteView publicKey);
  // The 20 address bytes of a 64-byte uncompressed key body (without 0x04).
  static std::array<std::uint8_t, 20> addressBytes(ByteView publicKeyBody64);
  // The 65-byte uncompressed public key (0x04 ‖ x ‖ y). Throws WalletError as `address`.
  static Bytes publicKey(ByteView privateKey);
  static bool isValidSecret(ByteView privateKey);
};

struct Ed25519 {
  // The 32-byte public key of a 32-byte secret (seed form). Throws WalletError
  // when the secret is not 32 bytes.
  static std::array<std::uint8_t, 32> publicKey(ByteView secret);
  // A 64-byte signature (RFC 8032, deterministic).
  static std::array<std::uint8_t, 64> sign(ByteView secret, ByteView message);
  static bool verify(ByteView publicKey, ByteView message, ByteView signature);
};

struct SolanaAccount {
  static std::string address(ByteView secret);  // Base58 of the public key
};

struct NearAccount {
  static std::string implicitAccount(ByteView secret);  // 64 lower-case hex digits
};

}  // namespace orwenna
