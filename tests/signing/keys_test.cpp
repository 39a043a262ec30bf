// Recovery phrases, seeds and derivation against the published BIP-39, BIP-32
// and SLIP-10 vectors, and the phrase and path rules users run into.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/json.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/derivation.h"
#include "signing/mnemonic.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

Bytes hex(const std::string& h) { return *fromHex(h); }

std::string hexOf(const SecretBytes& s) { return toHex(s.span()); }

using testing::errorOf;

Bytes compressed(ByteView secret) {
  Bytes full = EVMAccount::publicKey(secret);
  Bytes out(33);
  out[0] = (full[64] & 1) ? 0x03 : 0x02;
  std::copy(full.begin() + 1, full.begin() + 33, out.begin() + 1);
  return out;
}

TEST(Mnemonic, MatchesTheBip39EnglishVectors) {
  Json data = testing::loadTestJson("bip39.json");
  std::string passphrase = data["passphrase"].get<std::string>();
  ASSERT_EQ(data["vectors"].size(), 24u);
  for (const Json& v : data["vectors"]) {
    std::string phrase = v["phrase"].get<std::string>();
    SCOPED_TRACE(phrase);
    EXPECT_EQ(Mnemonic::phrase(hex(v["entropy"].get<std::string>())), phrase);
    EXPECT_EQ(Mnemonic::normalize(phrase), phrase);
    SecretBytes seed = Mnemonic::seed(phrase, passphrase);
    EXPECT_EQ(hexOf(seed), v["seed"].get<std::string>());

    // The BIP-32 master key of that seed, as serialised in the vectors.
    Bytes xprv = *Base58::checkDecode(v["masterKey"].get<std::string>());
    ExtendedKey master = Derivation::secp256k1Node(seed.span(), {});
    EXPECT_EQ(hexOf(master.chainCode), toHex(ByteView(xprv).subspan(13, 32)));
    EXPECT_EQ(hexOf(master.key), toHex(ByteView(xprv).subspan(46, 32)));

    std::string twin = v["invalidTwin"].get<std::string>();
    EXPECT_EQ(errorOf([&] { (void)Mnemonic::normalize(twin); }),
              "The phrase checksum doesn't match: check the word order and spelling.");
    EXPECT_THROW((void)Mnemonic::seed(twin, passphrase), WalletError);
  }
}

TEST(Mnemonic, WordListIsTheStandardOne) {
  const auto& words = BIP39::words();
  ASSERT_EQ(words.size(), 2048u);
  EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
  EXPECT_EQ(BIP39::index("abandon"), 0);
  EXPECT_EQ(BIP39::index("zoo"), 2047);
  EXPECT_EQ(BIP39::index("wrong"), 2037);
  EXPECT_FALSE(BIP39::index("Abandon"));
  EXPECT_FALSE(BIP39::index(""));
  // Every word is told apart by its first four letters.
  std::vector<std::string_view> prefixes;
  for (auto w : words) prefixes.push_back(w.substr(0, 4));
  std::sort(prefixes.begin(), prefixes.end());
  EXPECT_EQ(std::adjacent_find(prefixes.begin(), prefixes.end()), prefixes.end());
}

TEST(Mnemonic, NormalisesWhatUsersType) {
  const std::string clean = "legal winner thank year wave sausage worth useful legal winner thank yellow";
  const std::string typed = "  LEGAL winner  Thank year\twave sausage worth useful legal winner thank YELLOW\n";
  EXPECT_EQ(Mnemonic::normalize(typed), clean);
  EXPECT_EQ(hexOf(Mnemonic::seed(typed, "")), hexOf(Mnemonic::seed(clean, "")));
  // An ideographic space separates words too.
  EXPECT_EQ(Mnemonic::normalize("legal winner thank year wave sausage worth useful legal winner thank\u3000yellow"),
            clean);
}

TEST(Mnemonic, RefusesBadPhrasesWithTheirSentence) {
  struct Case {
    std::string phrase;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"legal winner thank year wave sausage worth useful legal winner thank yellow legal",
       "The phrase must have 12, 15, 18, 21 or 24 words, not 13."},
      {"", "The phrase must have 12, 15, 18, 21 or 24 words, not 0."},
      {"zoo zoo zoo zoo zoo zoo zoo zoo zoo zoo wrong", "The phrase must have 12, 15, 18, 21 or 24 words, not 11."},
      {"legal winner thnak year wave sausage worth useful legal winer thank yellow",
       "Word #3 isn't in the BIP-39 word list."},
      {"legal winner thank year wave sausage worth useful legal winner thank yelow",
       "Word #12 isn't in the BIP-39 word list."},
      {"winner legal thank year wave sausage worth useful legal winner thank yellow",
       "The phrase checksum doesn't match: check the word order and spelling."},
      {"abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon",
       "The phrase checksum doesn't match: check the word order and spelling."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(errorOf([&] { (void)Mnemonic::normalize(c.phrase); }), c.message) << c.phrase;
    EXPECT_EQ(errorOf([&] { (void)Mnemonic::seed(c.phrase, "x"); }), c.message) << c.phrase;
  }
}

TEST(Mnemonic, PassphraseIsCompatibilityDecomposed) {
  const std::string phrase = "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
  // "é" precomposed, decomposed, and the ligature "ﬁ" against "fi": NFKD makes each pair one passphrase.
  EXPECT_EQ(hexOf(Mnemonic::seed(phrase, "caf\u00e9")), hexOf(Mnemonic::seed(phrase, "cafe\u0301")));
  EXPECT_EQ(hexOf(Mnemonic::seed(phrase, "\ufb01")), hexOf(Mnemonic::seed(phrase, "fi")));
  EXPECT_NE(hexOf(Mnemonic::seed(phrase, "TREZOR")), hexOf(Mnemonic::seed(phrase, "trezor")));
  EXPECT_NE(hexOf(Mnemonic::seed(phrase, "")), hexOf(Mnemonic::seed(phrase, " ")));
}

TEST(Mnemonic, GeneratesTwelveValidWordsFromTheInjectedRandom) {
  // 16 bytes, 0 to 15, drawn from the Random it is given.
  testing::ScriptedRandom zeroUp({0});
  EXPECT_EQ(Mnemonic::generate(zeroUp), Mnemonic::phrase(*fromHex("000102030405060708090a0b0c0d0e0f")));
  EXPECT_NE(Mnemonic::generate(SecureRandom::shared()), Mnemonic::generate(SecureRandom::shared()));
}

TEST(Mnemonic, RefusesEntropyOfOtherSizes) {
  // Every allowed size is compared with the reference library elsewhere.
  for (std::size_t n : {0, 15, 17, 33, 64}) EXPECT_THROW((void)Mnemonic::phrase(Bytes(n, 1)), WalletError) << n;
}

TEST(Derivation, MatchesTheBip32Vectors) {
  Json data = testing::loadTestJson("bip32.json");
  ASSERT_EQ(data["vectors"].size(), 3u);
  for (const Json& v : data["vectors"]) {
    Bytes seed = hex(v["seed"].get<std::string>());
    for (const Json& chain : v["chains"]) {
      std::string path = chain[0].get<std::string>();
      SCOPED_TRACE(path);
      Bytes xpub = *Base58::checkDecode(chain[1].get<std::string>());
      Bytes xprv = *Base58::checkDecode(chain[2].get<std::string>());
      ASSERT_EQ(xprv.size(), 78u);
      ExtendedKey node = Derivation::secp256k1Node(seed, Derivation::parse(path));
      EXPECT_EQ(hexOf(node.key), toHex(ByteView(xprv).subspan(46, 32)));
      EXPECT_EQ(hexOf(node.chainCode), toHex(ByteView(xprv).subspan(13, 32)));
      EXPECT_EQ(toHex(compressed(node.key.span())), toHex(ByteView(xpub).subspan(45, 33)));
      EXPECT_EQ(hexOf(Derivation::secp256k1(seed, path)), hexOf(node.key));

      // The twin: the last step with its hardened mark flipped is another key.
      auto steps = Derivation::parse(path);
      if (!steps.empty()) {
        steps.back() ^= WalletPath::kHardened;
        EXPECT_NE(hexOf(Derivation::secp256k1Node(seed, steps).key), hexOf(node.key));
      }
    }
  }
}

TEST(Derivation, RefusesMalformedPaths) {
  Json data = testing::loadTestJson("bip32.json");
  for (const Json& c : data["invalidPaths"]) {
    std::string path = c[0].get<std::string>();
    EXPECT_EQ(errorOf([&] { (void)Derivation::parse(path); }), c[1].get<std::string>()) << path;
    EXPECT_EQ(errorOf([&] { (void)Derivation::secp256k1(Bytes(64, 1), path); }), c[1].get<std::string>()) << path;
  }
}

TEST(Derivation, ParsesBothHardenedMarks) {
  std::vector<std::uint32_t> expected = {0x8000002c, 0x8000003c, 0x80000000, 0, 0};
  EXPECT_EQ(Derivation::parse("m/44'/60'/0'/0/0"), expected);
  EXPECT_EQ(Derivation::parse("m/44h/60h/0h/0/0"), expected);
  EXPECT_EQ(Derivation::parse("m//44'/60'/0'/0/0/"), expected);  // empty pieces are dropped
  EXPECT_TRUE(Derivation::parse("m").empty());
  EXPECT_TRUE(Derivation::parse("m/").empty());
  EXPECT_EQ(Derivation::parse("m/2147483647'"), std::vector<std::uint32_t>{0xffffffff});
  EXPECT_EQ(Derivation::parse("m/2147483647"), std::vector<std::uint32_t>{0x7fffffff});
  EXPECT_EQ(Derivation::parse("m/007"), std::vector<std::uint32_t>{7});
}

TEST(Derivation, MatchesTheSlip10Ed25519Vectors) {
  Json data = testing::loadTestJson("slip10_ed25519.json");
  for (const Json& v : data["vectors"]) {
    Bytes seed = hex(v["seed"].get<std::string>());
    for (const Json& chain : v["chains"]) {
      std::string path = chain["path"].get<std::string>();
      SCOPED_TRACE(path);
      ExtendedKey node = Derivation::ed25519Node(seed, Derivation::parse(path));
      EXPECT_EQ(hexOf(node.key), chain["private"].get<std::string>());
      EXPECT_EQ(hexOf(node.chainCode), chain["chainCode"].get<std::string>());
      EXPECT_EQ("00" + toHex(Ed25519::publicKey(node.key.span())), chain["public"].get<std::string>());
      EXPECT_EQ(hexOf(Derivation::ed25519(seed, path)), chain["private"].get<std::string>());
    }
  }
  for (const Json& c : data["invalid"]) {
    std::string path = c["path"].get<std::string>();
    Bytes seed = hex(c["seed"].get<std::string>());
    EXPECT_EQ(errorOf([&] { (void)Derivation::ed25519(seed, path); }),
              "For ed25519 every path step must be hardened (with ').")
        << path;
    // The same steps derive on secp256k1, where normal steps exist.
    EXPECT_EQ(Derivation::secp256k1(seed, path).size(), 32u) << path;
  }
}

TEST(Derivation, AccountsOfTheBip39TestPhrase) {
  // Widely published addresses of the all-"abandon" phrase without passphrase.
  SecretBytes seed = Mnemonic::seed(
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about", "");
  EXPECT_EQ(EVMAccount::address(Derivation::secp256k1(seed.span(), WalletPath::evm(0)).span()),
            "0x9858EfFD232B4033E47d90003D41EC34EcaEda94");
  EXPECT_EQ(SolanaAccount::address(Derivation::ed25519(seed.span(), WalletPath::solana(0)).span()),
            "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk");
}

}  // namespace
}  // namespace orwenna
