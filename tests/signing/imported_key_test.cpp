// Importing a pasted private key: each accepted form and each refusal.
#include "signing/imported_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;

Bytes solanaSecret() {
  Bytes s(32);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(7 * i + 3);
  return s;
}

Bytes keypairOf(const Bytes& secret) {
  Bytes pair = secret;
  auto pub = Ed25519::publicKey(secret);
  pair.insert(pair.end(), pub.begin(), pub.end());
  return pair;
}

// A key file's list of numbers; `gap` goes around each one, as pretty-printed files have it.
std::string jsonList(const Bytes& bytes, const std::string& gap = "") {
  std::string out = "[";
  for (std::size_t i = 0; i < bytes.size(); ++i) out += (i ? "," : "") + gap + std::to_string(bytes[i]);
  return out + gap + "]";
}

const std::string kEvmOne = "0000000000000000000000000000000000000000000000000000000000000001";
const std::string kEvmOneAddress = "0x7E5F4552091A69125d5DfCb7b8C2659029395Bdf";
const std::string kKeyFile = "A Solana key file is a list of 64 numbers from 0 to 255.";
const std::string kNotAKey =
    "Not a key that can be imported: a Solana key (base58 from Phantom, or the 64 numbers of a key file) or an EVM key "
    "(64 hex digits from MetaMask).";
const std::string kBadKeypair =
    "The key's second half isn't its own public key: it was copied incompletely, or it isn't a Solana key.";
const std::string kBadEvm = "Those 64 hex digits aren't a valid EVM private key.";

TEST(ImportedKey, EvmKeysInHex) {
  for (const std::string& text : {kEvmOne, "  0x" + kEvmOne + "\n"}) {
    ImportedKey key = ImportedKey::parse(text);
    EXPECT_EQ(key.kind(), ImportedKey::Kind::evm) << text;
    EXPECT_EQ(key.address(), kEvmOneAddress);
    EXPECT_EQ(key.label(), "EVM · Hyperliquid");
  }
  std::string upper = "0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364140";  // n - 1
  EXPECT_EQ(ImportedKey::parse(upper).kind(), ImportedKey::Kind::evm);
  EXPECT_EQ(errorOf([] { (void)ImportedKey::parse("0x" + std::string(64, '0')); }), kBadEvm);
  EXPECT_EQ(errorOf([] {
              (void)ImportedKey::parse("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");  // n
            }),
            kBadEvm);
}

TEST(ImportedKey, SixtyThreeHexDigitsFallThroughToBase58) {
  // With "0x" the text is not Base58 at all ('0' is outside the alphabet).
  EXPECT_EQ(errorOf([] { (void)ImportedKey::parse("0x" + kEvmOne.substr(1)); }), kNotAKey);
  // Without a zero digit it is Base58, of the wrong length for a Solana key.
  std::string digits(63, 'a');
  auto decoded = Base58::decode(digits);
  EXPECT_EQ(errorOf([&] { (void)ImportedKey::parse(digits); }),
            "A Solana private key is 64 bytes (32 for the secret alone); this one decodes to " +
                std::to_string(decoded.size()) + ".");
}

TEST(ImportedKey, SolanaSecretsAndKeypairs) {
  Bytes secret = solanaSecret();
  Bytes pair = keypairOf(secret);
  const std::string address = SolanaAccount::address(secret);
  // The bare forms are compared with the reference library elsewhere; here,
  // the padding and line breaks a paste brings along.
  for (const std::string& text : {std::string("\n ") + Base58::encode(pair) + " \n", jsonList(pair, "\n  ")}) {
    ImportedKey key = ImportedKey::parse(text);
    EXPECT_EQ(key.kind(), ImportedKey::Kind::solana) << text;
    EXPECT_EQ(toHex(key.secret().span()), toHex(secret));
    EXPECT_EQ(key.address(), address);
    EXPECT_EQ(key.label(), "Solana");
  }
  EXPECT_TRUE(ImportedKey::parse(Base58::encode(secret)) == ImportedKey::parse(jsonList(pair)));
}

TEST(ImportedKey, SolanaRefusals) {
  Bytes secret = solanaSecret();
  Bytes pair = keypairOf(secret);
  Bytes swapped(pair.begin() + 32, pair.end());
  swapped.insert(swapped.end(), pair.begin(), pair.begin() + 32);
  Bytes truncatedPub = pair;
  truncatedPub[63] ^= 1;

  struct Case {
    std::string text;
    std::string message;
  };
  const std::string full = jsonList(pair);
  const std::string rest = full.substr(full.find(',') + 1);  // all but the first number
  std::string with256 = jsonList(pair);
  with256.replace(1, with256.find(','), "256");
  const std::vector<Case> cases = {
      {Base58::encode(swapped), kBadKeypair},
      {Base58::encode(truncatedPub), kBadKeypair},
      {jsonList(swapped), kBadKeypair},
      {jsonList(Bytes(pair.begin(), pair.begin() + 63)), kKeyFile},
      {std::string("[1,") + full.substr(1), kKeyFile},  // 65 numbers
      {with256, kKeyFile},
      {std::string("[1.5,") + rest, kKeyFile},
      {std::string("[-1,") + rest, kKeyFile},
      {std::string("[01,") + rest, kKeyFile},
      {std::string("[\"1\",") + rest, kKeyFile},
      {full + ",", kKeyFile},
      {full.substr(0, full.size() - 1), kKeyFile},
      {"[]", kKeyFile},
      {"[", kKeyFile},
      {"not a key", kNotAKey},
      {"", kNotAKey},
      {"0l" + Base58::encode(secret), kNotAKey},
      {Base58::encode(Bytes(33, 9)), "A Solana private key is 64 bytes (32 for the secret alone); this one decodes to 33."},
      {Base58::encode(Bytes(31, 9)), "A Solana private key is 64 bytes (32 for the secret alone); this one decodes to 31."},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf([&] { (void)ImportedKey::parse(c.text); }), c.message) << c.text;
}

TEST(ImportedKey, EqualityIsKindAndBytes) {
  Bytes bytes(32, 0);
  bytes[31] = 1;
  ImportedKey evm = ImportedKey::parse(kEvmOne);
  ImportedKey solana = ImportedKey::parse(Base58::encode(bytes));
  EXPECT_EQ(toHex(evm.secret().span()), toHex(solana.secret().span()));
  EXPECT_FALSE(evm == solana);
  EXPECT_TRUE(evm == ImportedKey::parse("0x" + kEvmOne));
  EXPECT_FALSE(evm == ImportedKey::parse("0x" + kEvmOne.substr(0, 63) + "2"));
}

}  // namespace
}  // namespace orwenna
