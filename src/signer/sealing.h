// Secrets at rest: a storage key stretched from the user's passphrase with
// scrypt, and AES-256-GCM boxes sealed under it. A box carries its own random
// 96-bit nonce; the label it was sealed for is authenticated with it, so a box
// moved to another wallet's slot does not open. Pure apart from the random
// source; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/error.h"
#include "base/json.h"
#include "signing/secret.h"

namespace orwenna {

// A failure of the signer's own storage or prompts, as the user reads it.
class SignerServiceError : public Error {
 public:
  using Error::Error;
};

struct ScryptParams {
  // 2^15 × 8 × 128 bytes = 32 MiB per derivation, about a tenth of a second.
  static constexpr int kDefaultLog2N = 15;
  static constexpr int kMinLog2N = 10;  // tests only; see SignerConfig
  static constexpr int kMaxLog2N = 20;

  Bytes salt;  // 16 random bytes
  int log2N = kDefaultLog2N;
  int r = 8;
  int p = 1;

  Json toJson() const;
  // Throws SignerServiceError for a shape or a cost outside the bounds above.
  [[nodiscard]] static ScryptParams fromJson(const Json& json);
};

// AES-256-GCM: nonce (12 bytes) and ciphertext with its 16-byte tag.
struct SealedBox {
  Bytes nonce;
  Bytes data;

  Json toJson() const;  // {"nonce": Base64, "data": Base64}
  [[nodiscard]] static SealedBox fromJson(const Json& json);
};

struct Sealing {
  static constexpr std::size_t kKeyBytes = 32;

  // The 32-byte storage key of a passphrase. Throws SignerServiceError when
  // the KDF fails (out of memory, parameters OpenSSL refuses).
  static SecretBytes deriveKey(std::string_view passphrase, const ScryptParams& params);
  // REQUIRES: key is kKeyBytes long.
  static SealedBox seal(const SecretBytes& key, ByteView plaintext, std::string_view label, Random& random);
  // Nothing when the key is wrong, the label differs or the box was altered.
  [[nodiscard]] static std::optional<SecretBytes> open(const SecretBytes& key, const SealedBox& box,
                                                       std::string_view label);
};

}  // namespace orwenna
