// Keccak-256, Base58 and Base58Check against published vectors, and secret wiping.
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
  // SHA3-256 of "" differs (domain byte 0x06): the padding must be Keccak's.
  EXPECT_NE(toHex(Keccak::hash256(std::string_view(""))),
            "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a");
}

TEST(Keccak, BlockBoundariesAreHandled) {
  // 135 bytes pad inside the block; 136 need a whole extra block. Different
  // lengths of the same byte must all differ.
  std::vector<std::string> seen;
  for (std::size_t n : {0u, 1u, 135u, 136u, 137u, 271u, 272u, 273u}) {
    Bytes input(n, 0x61);
    std::string h = toHex(Keccak::hash256(input));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), h), 0);
    seen.push_back(h);
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
    try {
      (void)Base58::decode(text);
      ADD_FAILURE() << text;
    } catch (const WalletError& e) {
      EXPECT_EQ(std::string(e.what()), "Not base58: " + text);
    }
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
