// Derivation paths and child keys: the account paths of each chain, path
// parsing, BIP-32 private derivation on secp256k1 (scalar addition by
// libsecp256k1) and SLIP-10 derivation on ed25519 (hardened steps only).
// Secrets are held in SecretBytes and wiped when they go away. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "signing/secret.h"

namespace orwenna {

struct WalletPath {
  static constexpr std::uint32_t kHardened = 0x80000000u;
  // REQUIRES: 0 <= index < 2^31 for every path below.
  static std::string evm(std::uint32_t index);     // m/44'/60'/0'/0/i (EVM and Hyperliquid)
  static std::string solana(std::uint32_t index);  // m/44'/501'/i'/0'
  static std::string near(std::uint32_t index);    // m/44'/397'/i'
};

// A private key with its chain code.
struct ExtendedKey {
  SecretBytes key;        // 32 bytes
  SecretBytes chainCode;  // 32 bytes
};

struct Derivation {
  // Steps of "m/…" with "'" or "h" marking hardened steps. Throws WalletError.
  [[nodiscard]] static std::vector<std::uint32_t> parse(std::string_view path);

  // The 32-byte private key at `path` (BIP-32). Throws WalletError for a bad
  // path or, with negligible probability, a key that is not valid.
  static SecretBytes secp256k1(ByteView seed, std::string_view path);
  // The 32-byte Ed25519 secret at `path` (SLIP-10); every step must be hardened.
  static SecretBytes ed25519(ByteView seed, std::string_view path);

  // The same, with the chain code, from already parsed steps.
  static ExtendedKey secp256k1Node(ByteView seed, std::span<const std::uint32_t> steps);
  static ExtendedKey ed25519Node(ByteView seed, std::span<const std::uint32_t> steps);
};

}  // namespace orwenna
