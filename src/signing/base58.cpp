#include "signing/base58.h"

#include <algorithm>
#include <array>

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include "signing/wallet_error.h"

namespace orwenna {

std::string Base58::encode(ByteView data, std::string_view alphabet) {
  std::size_t zeros = 0;
  while (zeros < data.size() && data[zeros] == 0) ++zeros;
  // Base-256 to base-58, most significant digit last while building.
  std::vector<std::uint8_t> digits;
  digits.reserve(data.size() * 138 / 100 + 1);
  for (std::size_t i = zeros; i < data.size(); ++i) {
    unsigned carry = data[i];
    for (auto& d : digits) {
      carry += static_cast<unsigned>(d) << 8;
      d = static_cast<std::uint8_t>(carry % 58);
      carry /= 58;
    }
    while (carry > 0) {
      digits.push_back(static_cast<std::uint8_t>(carry % 58));
      carry /= 58;
    }
  }
  std::string out(zeros, alphabet[0]);
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) out += alphabet[*it];
  return out;
}

std::optional<Bytes> Base58::tryDecode(std::string_view text, std::string_view alphabet) {
  std::array<int, 256> index;
  index.fill(-1);
  for (std::size_t i = 0; i < alphabet.size(); ++i) index[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);

  std::size_t zeros = 0;
  while (zeros < text.size() && text[zeros] == alphabet[0]) ++zeros;
  std::vector<std::uint8_t> bytes;  // little-endian while building
  bytes.reserve(text.size() * 733 / 1000 + 1);
  for (std::size_t i = zeros; i < text.size(); ++i) {
    int v = index[static_cast<unsigned char>(text[i])];
    if (v < 0) return std::nullopt;
    unsigned carry = static_cast<unsigned>(v);
    for (auto& b : bytes) {
      carry += static_cast<unsigned>(b) * 58;
      b = static_cast<std::uint8_t>(carry & 0xff);
      carry >>= 8;
    }
    while (carry > 0) {
      bytes.push_back(static_cast<std::uint8_t>(carry & 0xff));
      carry >>= 8;
    }
  }
  Bytes out(zeros, 0);
  out.insert(out.end(), bytes.rbegin(), bytes.rend());
  return out;
}

Bytes Base58::decode(std::string_view text, std::string_view alphabet) {
  auto out = tryDecode(text, alphabet);
  if (!out) throw WalletError("Not base58: " + std::string(text));
  return *out;
}

Bytes doubleSha256(ByteView data) {
  std::uint8_t first[SHA256_DIGEST_LENGTH];
  SHA256(data.data(), data.size(), first);
  Bytes second(SHA256_DIGEST_LENGTH);
  SHA256(first, sizeof first, second.data());
  return second;
}

std::string Base58::checkEncode(ByteView payload, std::string_view alphabet) {
  Bytes full(payload.begin(), payload.end());
  Bytes check = doubleSha256(payload);
  full.insert(full.end(), check.begin(), check.begin() + 4);
  return encode(full, alphabet);
}

std::optional<Bytes> Base58::checkDecode(std::string_view text, std::string_view alphabet) {
  auto raw = tryDecode(text, alphabet);
  if (!raw || raw->size() < 5) return std::nullopt;
  Bytes payload(raw->begin(), raw->end() - 4);
  Bytes check = doubleSha256(payload);
  if (CRYPTO_memcmp(check.data(), raw->data() + payload.size(), 4) != 0) return std::nullopt;
  return payload;
}

}  // namespace orwenna
