#include "signing/accounts.h"

#include <memory>

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <secp256k1.h>

#include "base/text.h"
#include "signing/base58.h"
#include "signing/keccak.h"
#include "signing/wallet_error.h"
#include "signing/secp256k1_context.h"

namespace orwenna {

namespace {

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

PKey ed25519Private(ByteView secret) {
  if (secret.size() != 32) throw WalletError("An Ed25519 secret is 32 bytes; this one is " + std::to_string(secret.size()) + ".");
  PKey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, secret.data(), secret.size()), &EVP_PKEY_free);
  if (!key) throw WalletError("The Ed25519 secret could not be read.");
  return key;
}

}  // namespace

bool EVMAccount::isValidSecret(ByteView privateKey) {
  return privateKey.size() == 32 && secp256k1_ec_seckey_verify(secp256k1Context(), privateKey.data()) == 1;
}

Bytes EVMAccount::publicKey(ByteView privateKey) {
  if (!isValidSecret(privateKey)) throw WalletError("The private key isn't a valid secp256k1 key.");
  secp256k1_pubkey pub;
  if (secp256k1_ec_pubkey_create(secp256k1Context(), &pub, privateKey.data()) != 1) {
    throw WalletError("The private key isn't a valid secp256k1 key.");
  }
  Bytes out(65);
  std::size_t len = out.size();
  secp256k1_ec_pubkey_serialize(secp256k1Context(), out.data(), &len, &pub, SECP256K1_EC_UNCOMPRESSED);
  return out;
}

std::array<std::uint8_t, 20> EVMAccount::addressBytes(ByteView body64) {
  auto hash = Keccak::hash256(body64);
  std::array<std::uint8_t, 20> out{};
  std::copy(hash.begin() + 12, hash.end(), out.begin());
  return out;
}

std::string EVMAccount::address(ByteView privateKey) {
  Bytes pub = publicKey(privateKey);
  auto bytes = addressBytes(ByteView(pub).subspan(1));
  return checksummed(toHex(bytes));
}

std::optional<std::string> EVMAccount::addressOfPublicKey(ByteView publicKey) {
  secp256k1_pubkey pub;
  if (publicKey.empty() || secp256k1_ec_pubkey_parse(secp256k1Context(), &pub, publicKey.data(), publicKey.size()) != 1) {
    return std::nullopt;
  }
  std::uint8_t full[65];
  std::size_t len = sizeof full;
  secp256k1_ec_pubkey_serialize(secp256k1Context(), full, &len, &pub, SECP256K1_EC_UNCOMPRESSED);
  return checksummed(toHex(addressBytes(ByteView(full + 1, 64))));
}

std::string EVMAccount::checksummed(std::string_view address) {
  std::string_view body = address;
  if (body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) body.remove_prefix(2);
  if (body.size() != 40 || !fromHex(body, false)) return std::string(address);
  const std::string lower = text::asciiLowercased(body);
  auto hash = Keccak::hash256(std::string_view(lower));
  std::string out = "0x";
  for (std::size_t i = 0; i < lower.size(); ++i) {
    char c = lower[i];
    int nibble = (i % 2 == 0) ? hash[i / 2] >> 4 : hash[i / 2] & 0x0f;
    out += (c >= 'a' && c <= 'f' && nibble >= 8) ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

std::array<std::uint8_t, 32> Ed25519::publicKey(ByteView secret) {
  PKey key = ed25519Private(secret);
  std::array<std::uint8_t, 32> out{};
  std::size_t len = out.size();
  if (EVP_PKEY_get_raw_public_key(key.get(), out.data(), &len) != 1 || len != 32) {
    throw WalletError("The Ed25519 public key could not be computed.");
  }
  return out;
}

std::array<std::uint8_t, 64> Ed25519::sign(ByteView secret, ByteView message) {
  PKey key = ed25519Private(secret);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  std::array<std::uint8_t, 64> sig{};
  std::size_t len = sig.size();
  if (!md || EVP_DigestSignInit(md.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(md.get(), sig.data(), &len, message.data(), message.size()) != 1 || len != 64) {
    throw WalletError("Ed25519 signing failed.");
  }
  return sig;
}

bool Ed25519::verify(ByteView publicKey, ByteView message, ByteView signature) {
  if (publicKey.size() != 32 || signature.size() != 64) return false;
  PKey key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()), &EVP_PKEY_free);
  if (!key) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  return md && EVP_DigestVerifyInit(md.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(md.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
}

std::string SolanaAccount::address(ByteView secret) {
  auto pub = Ed25519::publicKey(secret);
  return Base58::encode(pub);
}

std::string NearAccount::implicitAccount(ByteView secret) {
  auto pub = Ed25519::publicKey(secret);
  return toHex(pub);
}

}  // namespace orwenna
