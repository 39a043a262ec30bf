#include "signing/mnemonic.h"

#include <array>
#include <unordered_map>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include "base/text.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

struct WordTable {
  std::vector<std::string_view> words;
  std::unordered_map<std::string_view, std::uint16_t> index;
};

const WordTable& table() {
  static const WordTable t = [] {
    WordTable w;
    std::string_view text = BIP39::englishText();
    std::size_t i = 0;
    while (i < text.size()) {
      while (i < text.size() && (text[i] == ' ' || text[i] == '\n')) ++i;
      std::size_t start = i;
      while (i < text.size() && text[i] != ' ' && text[i] != '\n') ++i;
      if (i > start) w.words.push_back(text.substr(start, i - start));
    }
    for (std::size_t k = 0; k < w.words.size(); ++k) w.index.emplace(w.words[k], static_cast<std::uint16_t>(k));
    return w;
  }();
  return t;
}

// Bit `i` (most significant first) of a byte string.
int bitAt(ByteView bytes, std::size_t i) { return (bytes[i / 8] >> (7 - i % 8)) & 1; }

std::array<std::uint8_t, 32> sha256(ByteView data) {
  std::array<std::uint8_t, 32> out{};
  SHA256(data.data(), data.size(), out.data());
  return out;
}

// Splits on Unicode whitespace; runs and both ends give no empty words.
std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::string current;
  for (char32_t cp : text::codePoints(text)) {
    if (text::isWhitespace(cp)) {
      if (!current.empty()) words.push_back(std::move(current));
      current.clear();
    } else {
      text::appendUtf8(current, cp);
    }
  }
  if (!current.empty()) words.push_back(std::move(current));
  return words;
}

}  // namespace

const std::vector<std::string_view>& BIP39::words() { return table().words; }

std::optional<std::uint16_t> BIP39::index(std::string_view word) {
  const auto& idx = table().index;
  auto it = idx.find(word);
  if (it == idx.end()) return std::nullopt;
  return it->second;
}

std::string Mnemonic::generate(Random& random) {
  SecretBytes entropy(16);
  random.fill(entropy.span());
  return phrase(entropy.span());
}

std::string Mnemonic::phrase(ByteView entropy) {
  std::size_t n = entropy.size();
  if (n < 16 || n > 32 || n % 4 != 0) {
    throw WalletError("Entropy for a phrase is 16, 20, 24, 28 or 32 bytes, not " + std::to_string(n) + ".");
  }
  auto hash = sha256(entropy);
  std::size_t entropyBits = n * 8;
  std::size_t totalBits = entropyBits + entropyBits / 32;
  const auto& words = BIP39::words();
  std::string out;
  for (std::size_t group = 0; group < totalBits / 11; ++group) {
    unsigned value = 0;
    for (std::size_t b = group * 11; b < group * 11 + 11; ++b) {
      int bit = b < entropyBits ? bitAt(entropy, b) : bitAt(hash, b - entropyBits);
      value = (value << 1) | static_cast<unsigned>(bit);
    }
    if (!out.empty()) out += ' ';
    out += words[value];
  }
  wipeBytes(hash);
  return out;
}

std::string Mnemonic::normalize(std::string_view phrase) {
  std::string lower = text::lowercased(phrase);
  std::vector<std::string> words = splitWords(lower);
  wipeString(lower);
  struct Wiper {
    std::vector<std::string>& w;
    ~Wiper() {
      for (auto& s : w) wipeString(s);
    }
  } wiper{words};

  std::size_t count = words.size();
  if (count != 12 && count != 15 && count != 18 && count != 21 && count != 24) {
    throw WalletError("The phrase must have 12, 15, 18, 21 or 24 words, not " + std::to_string(count) + ".");
  }
  std::vector<std::uint16_t> indices;
  indices.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    auto index = BIP39::index(words[i]);
    if (!index) throw WalletError("Word #" + std::to_string(i + 1) + " isn't in the BIP-39 word list.");
    indices.push_back(*index);
  }

  std::size_t totalBits = count * 11;
  std::size_t checksumBits = totalBits / 33;
  std::size_t entropyBits = totalBits - checksumBits;
  SecretBytes entropy(entropyBits / 8);
  unsigned checksum = 0;
  for (std::size_t b = 0; b < totalBits; ++b) {
    int bit = (indices[b / 11] >> (10 - b % 11)) & 1;
    if (b < entropyBits) {
      if (bit) entropy[b / 8] |= static_cast<std::uint8_t>(0x80 >> (b % 8));
    } else {
      checksum = (checksum << 1) | static_cast<unsigned>(bit);
    }
  }
  wipeBytes(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(indices.data()), indices.size() * 2));
  auto hash = sha256(entropy.span());
  unsigned expected = hash[0] >> (8 - checksumBits);  // checksumBits is 4..8
  wipeBytes(hash);
  if (checksum != expected) {
    throw WalletError("The phrase checksum doesn't match: check the word order and spelling.");
  }

  return text::join(words, " ");
}

SecretBytes Mnemonic::seed(std::string_view phrase, std::string_view passphrase) {
  std::string normal = normalize(phrase);
  std::string password = text::nfkd(normal);
  wipeString(normal);
  std::string extra = text::nfkd(passphrase);
  std::string salt = "mnemonic" + extra;
  wipeString(extra);
  SecretBytes out(64);
  int ok = PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                             2048, EVP_sha512(), static_cast<int>(out.size()), out.data());
  wipeString(password);
  wipeString(salt);
  if (ok != 1) {
    unsigned long status = ERR_get_error();
    throw WalletError("PBKDF2 failed with error " + std::to_string(status) + ".");
  }
  return out;
}

}  // namespace orwenna
