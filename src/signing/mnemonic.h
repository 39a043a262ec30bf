// Recovery phrases: the BIP-39 English word list, new phrases from injected
// randomness, phrases of given entropy, validation of a typed phrase, and the
// 64-byte seed (PBKDF2-HMAC-SHA512 over the NFKD forms). The word list and its
// index are built once on first use and read-only afterwards; every function
// is thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "signing/secret.h"

namespace orwenna {

struct BIP39 {
  // The 2048 English words separated by whitespace, in index order.
  static std::string_view englishText();
  static const std::vector<std::string_view>& words();
  // The index (0–2047) of a lower-case word, or nothing when it is not a word of the list.
  [[nodiscard]] static std::optional<std::uint16_t> index(std::string_view word);
};

struct Mnemonic {
  // A new 12-word phrase from 16 bytes of `random`.
  static std::string generate(Random& random);
  // The words of `entropy` joined by single spaces.
  // REQUIRES: entropy is 16, 20, 24, 28 or 32 bytes (throws WalletError otherwise).
  static std::string phrase(ByteView entropy);
  // Lower-cases, splits on whitespace and checks word count, words and checksum;
  // the words joined by single spaces. Throws WalletError with the sentence to show.
  [[nodiscard]] static std::string normalize(std::string_view phrase);
  // The 64-byte BIP-39 seed of a phrase (normalised first) and a passphrase.
  static SecretBytes seed(std::string_view phrase, std::string_view passphrase);
};

}  // namespace orwenna
