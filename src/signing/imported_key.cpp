#include "signing/imported_key.h"

#include <optional>

#include "base/bytes.h"
#include "base/text.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

constexpr const char* kKeyFileMessage = "A Solana key file is a list of 64 numbers from 0 to 255.";

// A JSON array of integers 0–255, read by hand so the key never lands in a
// general JSON tree. Nothing unless it is exactly 64 of them.
std::optional<SecretBytes> keyFileBytes(std::string_view text) {
  SecretBytes out(64);
  std::size_t count = 0;
  std::size_t i = 0;
  auto skipSpace = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  };
  if (i >= text.size() || text[i] != '[') return std::nullopt;
  ++i;
  skipSpace();
  if (i < text.size() && text[i] == ']') return std::nullopt;  // empty list
  while (true) {
    skipSpace();
    std::size_t start = i;
    unsigned value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 4) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
    }
    std::size_t digits = i - start;
    // JSON forbids leading zeros; fractions, exponents and signs are not bytes.
    if (digits == 0 || digits > 3 || (digits > 1 && text[start] == '0') || value > 255) return std::nullopt;
    if (count == 64) return std::nullopt;
    out[count++] = static_cast<std::uint8_t>(value);
    skipSpace();
    if (i >= text.size()) return std::nullopt;
    if (text[i] == ',') {
      ++i;
      continue;
    }
    if (text[i] != ']') return std::nullopt;
    ++i;
    break;
  }
  skipSpace();
  if (i != text.size() || count != 64) return std::nullopt;
  return out;
}

}  // namespace

ImportedKey ImportedKey::parse(std::string_view input) {
  std::string text = text::trimmed(input);
  struct Wiper {
    std::string& s;
    ~Wiper() { wipeString(s); }
  } wiper{text};

  SecretBytes bytes;
  if (!text.empty() && text[0] == '[') {
    auto file = keyFileBytes(text);
    if (!file) throw WalletError(kKeyFileMessage);
    bytes = std::move(*file);
  } else {
    std::string_view body = text;
    if (body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) body.remove_prefix(2);
    if (body.size() == 64) {
      if (auto hex = fromHex(body, false)) {
        SecretBytes key(*hex);
        wipeBytes(*hex);
        if (!EVMAccount::isValidSecret(key.span())) throw WalletError("Those 64 hex digits aren't a valid EVM private key.");
        return ImportedKey(Kind::evm, std::move(key));
      }
    }
    // An empty paste decodes to no bytes; it is not a key either.
    auto decoded = text.empty() ? std::nullopt : Base58::tryDecode(text);
    if (!decoded) {
      throw WalletError(
          "Not a key that can be imported: a Solana key (base58 from Phantom, or the 64 numbers of a key file) or an "
          "EVM key (64 hex digits from MetaMask).");
    }
    bytes = SecretBytes(*decoded);
    wipeBytes(*decoded);
  }

  if (bytes.size() == 32) return ImportedKey(Kind::solana, std::move(bytes));
  if (bytes.size() == 64) {
    auto pub = Ed25519::publicKey(bytes.span().first(32));
    if (!std::equal(pub.begin(), pub.end(), bytes.span().begin() + 32)) {
      throw WalletError(
          "The key's second half isn't its own public key: it was copied incompletely, or it isn't a Solana key.");
    }
    return ImportedKey(Kind::solana, SecretBytes(bytes.span().first(32)));
  }
  throw WalletError("A Solana private key is 64 bytes (32 for the secret alone); this one decodes to " +
                    std::to_string(bytes.size()) + ".");
}

std::string ImportedKey::label() const { return kind_ == Kind::solana ? "Solana" : "EVM · Hyperliquid"; }

std::string ImportedKey::address() const {
  return kind_ == Kind::solana ? SolanaAccount::address(secret_.span()) : EVMAccount::address(secret_.span());
}

}  // namespace orwenna
