// Keccak-256, Base58 and Base58Check against published vectors (every length
// around the block size is compared with the reference library elsewhere), and
// secret wiping.
#include "signing/base58.h"
#include "signing/keccak.h"
#include "signing/secret.h"
#include "signing/wallet_error.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "base/json.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

TEST(Keccak, MatchesPublishedDigests) {
  Json data = testing::loadTestJson("keccak256.json");
  for (const Json& v : data["vectors"]) {
    std::string ascii = v.value("ascii", "");
    Bytes input = v.contains("hex") ? *fromHex(v["hex"].get<std::string>()) : Bytes(ascii.begin(), ascii.end());
    std::string digest = toHex(Keccak::hash256(input));
    if (v.contains("digest")) {
      EXPECT_EQ(digest, v["digest"].get<std::string>()) << v.dump();
    } else {
      EXPECT_EQ(digest.substr(0, 8), v["digest_prefix"].get<std::string>());
    }
  }
}

TEST(Base58, MatchesBitcoinCoreVectors) {
  Json data = testing::loadTestJson("base58.json");
  for (const Json& v : data["valid"]) {
    Bytes payload = *fromHex(v[0].get<std::string>());
    std::string text = v[1].get<std::string>();
    EXPECT_EQ(Base58::encode(payload), text);
    EXPECT_EQ(Base58::decode(text), payload);
  }
  for (const Json& v : data["invalid"]) {
    std::string text = v.get<std::string>();
    EXPECT_FALSE(Base58::tryDecode(text)) << text;
    EXPECT_EQ(testing::errorOf([&] { (void)Base58::decode(text); }), "Not base58: " + text);
  }
  for (const Json& v : data["check"]["valid"]) {
    Bytes payload = *fromHex(v[0].get<std::string>());
    EXPECT_EQ(Base58::checkEncode(payload), v[1].get<std::string>());
    EXPECT_EQ(Base58::checkDecode(v[1].get<std::string>()), payload);
  }
  for (const Json& v : data["check"]["invalid"]) EXPECT_FALSE(Base58::checkDecode(v.get<std::string>()));
}

TEST(Base58, XrpAlphabetRoundTrips) {
  // The genesis account of the XRP Ledger: account id 0xb5f762798a53d543a014caf8b297cff8f2f937e8.
  Bytes payload = *fromHex("00b5f762798a53d543a014caf8b297cff8f2f937e8");
  EXPECT_EQ(Base58::checkEncode(payload, Base58::kXrpAlphabet), "rHb9CJAWyB4rj91VRWn96DkukG4bwdtyTh");
  EXPECT_EQ(Base58::checkDecode("rHb9CJAWyB4rj91VRWn96DkukG4bwdtyTh", Base58::kXrpAlphabet), payload);
  EXPECT_FALSE(Base58::checkDecode("rHb9CJAWyB4rj91VRWn96DkukG4bwdtyTh"));  // wrong alphabet
}

TEST(SecretBytes, WipesOnMoveAndCompares) {
  SecretBytes a(Bytes{1, 2, 3});
  SecretBytes b = a.copy();
  EXPECT_TRUE(a == b);
  SecretBytes c = std::move(a);
  EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty by contract
  EXPECT_TRUE(c == b);
  c.wipe();
  EXPECT_TRUE(c.empty());
  EXPECT_FALSE(c == b);
  Bytes raw{9, 9};
  wipeBytes(raw);
  EXPECT_EQ(raw, (Bytes{0, 0}));
}

}  // namespace
}  // namespace orwenna
