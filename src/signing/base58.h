// Base58 in any 58-character alphabet (Bitcoin's by default, the XRP Ledger's
// for XRP), and Base58Check (a 4-byte double-SHA-256 checksum). Pure; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"

namespace orwenna {

struct Base58 {
  static constexpr std::string_view kBitcoinAlphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
  static constexpr std::string_view kXrpAlphabet = "rpshnaf39wBUDNEGHJKLM4PQRST7VWXYZ2bcdeCg65jkm8oFqi1tuvAxyz";

  static std::string encode(ByteView data, std::string_view alphabet = kBitcoinAlphabet);
  // Throws WalletError "Not base58: " + text for a character outside the alphabet.
  static Bytes decode(std::string_view text, std::string_view alphabet = kBitcoinAlphabet);
  [[nodiscard]] static std::optional<Bytes> tryDecode(std::string_view text,
                                                      std::string_view alphabet = kBitcoinAlphabet);

  // Payload plus the first 4 bytes of SHA-256(SHA-256(payload)).
  static std::string checkEncode(ByteView payload, std::string_view alphabet = kBitcoinAlphabet);
  // The payload (version bytes included, checksum removed), or nothing when the
  // text is not Base58, is shorter than 5 bytes, or the checksum does not match.
  [[nodiscard]] static std::optional<Bytes> checkDecode(std::string_view text,
                                                        std::string_view alphabet = kBitcoinAlphabet);
};

// SHA-256 of SHA-256 of `data` (OpenSSL).
Bytes doubleSha256(ByteView data);

}  // namespace orwenna
