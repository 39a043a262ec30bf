#include "signing/accounts.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "base/json.h"
#include "base/text.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

TEST(EVMAccount, ChecksumsTheEip55Examples) {
  Json data = testing::loadTestJson("eip55.json");
  for (const Json& v : data["valid"]) {
    std::string a = v.get<std::string>();
    EXPECT_EQ(EVMAccount::checksummed(a), a);
    EXPECT_EQ(EVMAccount::checksummed(text::lowercased(a).substr(2)), a);
  }
  for (const Json& v : data["invalid"]) {
    std::string a = v.get<std::string>();
    EXPECT_NE(EVMAccount::checksummed(a), a);
  }
  EXPECT_EQ(EVMAccount::checksummed("0x123"), "0x123");
}

TEST(EVMAccount, DerivesTheAddressOfAKey) {
  // Private key 1: the generator point's address, published widely.
  Bytes one(32, 0);
  one[31] = 1;
  EXPECT_EQ(EVMAccount::address(one), "0x7E5F4552091A69125d5DfCb7b8C2659029395Bdf");
  EXPECT_EQ(EVMAccount::addressOfPublicKey(EVMAccount::publicKey(one)), "0x7E5F4552091A69125d5DfCb7b8C2659029395Bdf");
  Bytes zero(32, 0);
  EXPECT_THROW((void)EVMAccount::address(zero), WalletError);
  // The curve order n itself is not a valid secret.
  Bytes order = *fromHex("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
  EXPECT_THROW((void)EVMAccount::address(order), WalletError);
  EXPECT_THROW((void)EVMAccount::address(Bytes(31, 1)), WalletError);
  EXPECT_FALSE(EVMAccount::addressOfPublicKey(Bytes(65, 4)));
}

TEST(Ed25519, MatchesRfc8032TestOne) {
  // RFC 8032 section 7.1, TEST 1 (empty message).
  Bytes secret = *fromHex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
  auto pub = Ed25519::publicKey(secret);
  EXPECT_EQ(toHex(pub), "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  auto sig = Ed25519::sign(secret, Bytes{});
  EXPECT_EQ(toHex(sig),
            "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
  EXPECT_TRUE(Ed25519::verify(pub, Bytes{}, sig));
  sig[0] ^= 1;
  EXPECT_FALSE(Ed25519::verify(pub, Bytes{}, sig));
  EXPECT_EQ(NearAccount::implicitAccount(secret), "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  EXPECT_THROW((void)SolanaAccount::address(Bytes(31, 0)), WalletError);
}

}  // namespace
}  // namespace orwenna
