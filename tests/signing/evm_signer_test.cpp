// Recoverable ECDSA and the personal-message hash against published signatures
// (byte for byte: RFC 6979 nonces are deterministic) and their tampered twins;
// hundreds of random keys are compared with the reference library elsewhere.
#include "signing/evm_signer.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "signing/accounts.h"
#include "signing/secret.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::expectFailure;

Bytes hexField(const Json& j, const char* key) { return *fromHex(j[key].get<std::string>(), false); }

EVMSignature signatureOf(const Json& v) {
  EVMSignature sig;
  Bytes r = hexField(v, "r"), s = hexField(v, "s");
  std::copy(r.begin(), r.end(), sig.r.begin());
  std::copy(s.begin(), s.end(), sig.s.begin());
  sig.v = v["v"].get<int>();
  return sig;
}

TEST(EVMSigner, ReproducesPublishedSignatures) {
  Json data = testing::loadTestJson("evm_signatures.json");
  for (const Json& v : data["valid"]) {
    SCOPED_TRACE(v["name"].get<std::string>());
    Bytes hash = hexField(v, "hash");
    if (v.contains("message")) {
      EXPECT_EQ(toHex(PersonalMessage::hash(asBytes(v["message"].get<std::string>()))), toHex(hash));
    }
    SecretBytes key(hexField(v, "privateKey"));
    EXPECT_EQ(EVMAccount::address(key.span()), v["address"].get<std::string>());
    EVMSignature sig = EVMSigner::sign(hash, key.span());
    EXPECT_EQ(sig, signatureOf(v));
    EXPECT_EQ(EVMSigner::recover(signatureOf(v), hash), v["address"].get<std::string>());
  }
}

TEST(EVMSigner, TamperedSignaturesDoNotRecoverTheSigner) {
  Json data = testing::loadTestJson("evm_signatures.json");
  for (const Json& bad : data["invalid"]) {
    SCOPED_TRACE(bad["name"].get<std::string>());
    const Json& original = data["valid"][bad["of"].get<std::size_t>()];
    EVMSignature sig = signatureOf(original);
    Bytes hash = hexField(original, "hash");
    if (bad.contains("v")) sig.v = bad["v"].get<int>();
    if (bad.contains("flipBitOfR")) sig.r[bad["flipBitOfR"].get<int>() / 8] ^= 1 << (bad["flipBitOfR"].get<int>() % 8);
    if (bad.contains("flipBitOfS")) sig.s[bad["flipBitOfS"].get<int>() / 8] ^= 1 << (bad["flipBitOfS"].get<int>() % 8);
    if (bad.contains("hash")) hash = hexField(bad, "hash");
    std::string recovered;
    try {
      recovered = EVMSigner::recover(sig, hash);
    } catch (const WalletError&) {
      recovered = "none";  // r off the curve: no key at all, which is also right
    }
    EXPECT_NE(recovered, original["address"].get<std::string>());
  }
}

TEST(EVMSigner, RefusesWhatIsNotASignatureOverAHash) {
  Json data = testing::loadTestJson("evm_signatures.json");
  const Json& v = data["valid"][0];
  Bytes hash = hexField(v, "hash");
  SecretBytes key(hexField(v, "privateKey"));
  const std::string notSig = "Not a signature over a 32-byte hash.";
  for (int badV : {0, 1, 26, 29, 255}) {
    EVMSignature sig = signatureOf(v);
    sig.v = badV;
    expectFailure([&] { (void)EVMSigner::recover(sig, hash); }, notSig);
  }
  for (std::size_t n : {0, 31, 33}) {
    expectFailure([&] { (void)EVMSigner::recover(signatureOf(v), Bytes(n, 7)); }, notSig);
    expectFailure([&] { (void)EVMSigner::sign(Bytes(n, 7), key.span()); }, "Only a 32-byte hash can be signed.");
  }
  EVMSignature zeroR = signatureOf(v);
  zeroR.r.fill(0);
  expectFailure([&] { (void)EVMSigner::recover(zeroR, hash); }, "No key recovers from this signature.");
  expectFailure([&] { (void)EVMSigner::sign(hash, Bytes(32, 0)); }, "The private key isn't a valid secp256k1 key.");
  expectFailure([&] { (void)EVMSigner::sign(hash, Bytes(31, 1)); }, "The private key isn't a valid secp256k1 key.");
}

TEST(EVMSignature, TravelsAsBase64HalvesAndANumber) {
  Json data = testing::loadTestJson("evm_signatures.json");
  EVMSignature sig = signatureOf(data["valid"][0]);
  Json j = sig.toJson();
  EXPECT_EQ(j.dump(), R"({"r":"Q1XEfWOSTopy5Qm2UCkFLrbCmdU6BOFnxXdf1GZ1HJ0=","s":"BymZNtMEwVP2RD36BfQP8AfXKRG29yMH+ZYjFgW5FWI=","v":28})");
  EXPECT_EQ(EVMSignature::fromJson(j), sig);
  EXPECT_EQ(EVMSignature::fromBytes(sig.bytes()), sig);
  EXPECT_EQ(sig.bytes().size(), 65u);
  EXPECT_FALSE(EVMSignature::fromBytes(Bytes(64, 1)));

  Json shortR = j;
  shortR["r"] = toBase64(Bytes(31, 1));
  Json textV = j;
  textV["v"] = "28";
  Json noS = j;
  noS.erase("s");
  for (const Json& bad : {shortR, textV, noS, Json::array()}) {
    expectFailure([&] { (void)EVMSignature::fromJson(bad); }, "Not a signature over a 32-byte hash.");
  }
}

TEST(PersonalMessage, MatchesPublishedHashesAndNotTheirTwins) {
  Json data = testing::loadTestJson("evm_signatures.json")["personalMessages"];
  for (const Json& v : data["valid"]) {
    EXPECT_EQ(toHex(PersonalMessage::hash(asBytes(v["message"].get<std::string>()))), v["hash"].get<std::string>());
  }
  for (const Json& v : data["invalid"]) {
    EXPECT_NE(toHex(PersonalMessage::hash(asBytes(v["message"].get<std::string>()))), v["notHash"].get<std::string>());
  }
}

}  // namespace
}  // namespace orwenna
