// A private key pasted by the user: a Solana key (Base58 of the 32-byte secret
// or the 64-byte keypair, or a key file's JSON list of 64 numbers) or an EVM
// key (64 hex digits, "0x" optional). The secret is held in SecretBytes and
// wiped with the value. Not thread-safe to share a value; parsing is pure.
#pragma once

#include <string>
#include <string_view>

#include "signing/secret.h"

namespace orwenna {

class ImportedKey {
 public:
  enum class Kind { solana, evm };

  // Throws WalletError with the sentence to show when the text is not a key.
  [[nodiscard]] static ImportedKey parse(std::string_view text);

  Kind kind() const { return kind_; }
  // The 32-byte secret: the Ed25519 seed for Solana, the secp256k1 scalar for EVM.
  const SecretBytes& secret() const { return secret_; }
  // "Solana" or "EVM · Hyperliquid".
  std::string label() const;
  std::string address() const;

  bool operator==(const ImportedKey& other) const { return kind_ == other.kind_ && secret_ == other.secret_; }

 private:
  ImportedKey(Kind kind, SecretBytes secret) : kind_(kind), secret_(std::move(secret)) {}

  Kind kind_;
  SecretBytes secret_;
};

}  // namespace orwenna
