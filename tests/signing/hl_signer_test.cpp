// Hyperliquid signatures against the ones the exchange's own SDK publishes,
// the refusals of the user-signed derivation, and the hash-only variants a
// hardware signer uses.
#include "signing/hl_signer.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "signing/accounts.h"
#include "signing/hl_action.h"
#include "signing/secret.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;

Json sigJson(const EVMSignature& s) { return Json{{"r", toHex0x(s.r)}, {"s", toHex0x(s.s)}, {"v", s.v}}; }

class HLSignerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = testing::loadTestJson("hl_signing.json");
    key_ = SecretBytes(*fromHex(data_["key"].get<std::string>()));
    address_ = EVMAccount::address(key_.span());
  }
  std::optional<std::string> vaultOf(const Json& v) {
    return v.contains("vault") ? std::optional(v["vault"].get<std::string>()) : std::nullopt;
  }

  Json data_;
  SecretBytes key_;
  std::string address_;
};

TEST_F(HLSignerTest, L1SignaturesMatchPublishedVectors) {
  ASSERT_EQ(data_["l1"].size(), 9u);
  for (const Json& v : data_["l1"]) {
    MsgPack action = MsgPack::fromPlainJson(v["action"]);
    for (bool mainnet : {true, false}) {
      std::uint64_t nonce = v["nonce"].get<std::uint64_t>();
      EVMSignature sig = HLSigner::signL1(action, key_.span(), nonce, vaultOf(v), std::nullopt, mainnet);
      EXPECT_EQ(sigJson(sig), v[mainnet ? "mainnet" : "testnet"]) << v["name"] << (mainnet ? " mainnet" : " testnet");
      // The hash-only path a hardware signer takes recovers to the same key.
      EIP712::Parts parts = HLSigner::l1Parts(action, nonce, vaultOf(v), std::nullopt, mainnet);
      EXPECT_EQ(EVMSigner::recover(sig, EIP712::digest(parts)), address_);
    }
  }
}

TEST_F(HLSignerTest, UserSignaturesMatchPublishedVectors) {
  for (const Json& v : data_["user"]) {
    MsgPack action = MsgPack::fromPlainJson(v["action"]);
    EVMSignature sig = HLSigner::signUser(action, key_.span(), v["mainnet"].get<bool>());
    EXPECT_EQ(sigJson(sig), v["signature"]) << v["name"];
    EXPECT_EQ(EVMSigner::recover(sig, EIP712::digest(HLSigner::userParts(action, false))), address_);
    // The key order of the action does not matter: the typed data is rebuilt
    // field by field. The chain does.
    MsgPack::Map reversed(action.mapValue()->rbegin(), action.mapValue()->rend());
    EXPECT_EQ(HLSigner::signUser(MsgPack::map(reversed), key_.span(), false), sig);
    EXPECT_NE(HLSigner::signUser(action, key_.span(), true), sig);
  }
}

TEST_F(HLSignerTest, TwinsOfSignedVectorsDoNotReproduceThem) {
  for (const Json& twin : data_["twins"]) {
    std::string of = twin["of"];
    if (!of.starts_with("l1/")) continue;
    const Json& original = data_["l1"][std::stoul(of.substr(3))];
    MsgPack action = MsgPack::fromPlainJson(twin["action"]);
    EVMSignature sig = HLSigner::signL1(action, key_.span(), twin["nonce"].get<std::uint64_t>(), vaultOf(twin),
                                        std::nullopt, true);
    EXPECT_NE(sigJson(sig), original["mainnet"]) << twin["why"];
  }
}

TEST_F(HLSignerTest, UserDerivationRefusals) {
  const std::string unsupported = "Signing this Hyperliquid action isn't supported.";
  auto action = [](const char* json) { return MsgPack::fromPlainJson(Json::parse(json)); };
  struct Case {
    MsgPack action;
    std::string message;
  };
  const Case cases[] = {
      {MsgPack::array({}), "Unrecognized action."},
      {MsgPack::string("withdraw3"), "Unrecognized action."},
      {action(R"({"destination":"0x1"})"), unsupported},
      {action(R"({"type":3})"), unsupported},
      {action(R"({"type":"order"})"), unsupported},
      {action(R"({"type":"approveAgent","agentAddress":"0x1","agentName":"","nonce":1})"), unsupported},
      {action(R"({"type":"withdraw3","destination":"0x1","amount":"1"})"),
       "The action has no time field of type uint64."},
      {action(R"({"type":"withdraw3","destination":"0x1","amount":"1","time":"1687816341423"})"),
       "The action has no time field of type uint64."},
      {action(R"({"type":"usdSend","destination":"0x1","amount":1,"time":1})"),
       "The action has no amount field of type string."},
      {action(R"({"type":"usdClassTransfer","amount":"1","toPerp":"true","nonce":1})"),
       "The action has no toPerp field of type bool."},
      {action(R"({"type":"spotSend","destination":null,"token":"x","amount":"1","time":1})"),
       "The action has no destination field of type string."},
      {action(R"({"type":"sendAsset","destination":"0x1","sourceDex":"","destinationDex":"","token":"USDC",)"
              R"("amount":"1","nonce":5})"),
       "The action has no fromSubAccount field of type string."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(errorOf([&] { (void)HLSigner::signUser(c.action, key_.span(), true); }), c.message)
        << c.action.toJson().dump();
  }
}

TEST_F(HLSignerTest, ApproveAgentTypedDataAndSignature) {
  const std::string agent = "0x1719884eb866cb12b2287399b15f7db5e7d775ea";
  MsgPack action = HLAction::approveAgent(agent, "orwenna", 1700000000000, true);
  EIP712::Typed t = HLSigner::approveAgentTypedData(action, true);
  EXPECT_EQ(t.type, "HyperliquidTransaction:ApproveAgent");
  EXPECT_EQ(EIP712::encodeType(t.type, t.message),
            "HyperliquidTransaction:ApproveAgent(string hyperliquidChain,address agentAddress,string agentName,"
            "uint64 nonce)");
  EVMSignature sig = HLSigner::signApproveAgent(action, key_.span(), true);
  EXPECT_EQ(EVMSigner::recover(sig, EIP712::digest(HLSigner::approveAgentParts(action, true))), address_);
  // The agent address is an address: any letter case signs the same bytes;
  // anything else is refused when hashed.
  MsgPack upper = HLAction::approveAgent(EVMAccount::checksummed(agent), "orwenna", 1700000000000, true);
  EXPECT_EQ(HLSigner::signApproveAgent(upper, key_.span(), true), sig);
  MsgPack bad = HLAction::approveAgent("0x1719", "orwenna", 1, true);
  EXPECT_EQ(errorOf([&] { (void)HLSigner::signApproveAgent(bad, key_.span(), true); }), "Invalid address: 0x1719");
  EXPECT_EQ(errorOf([&] { (void)HLSigner::approveAgentTypedData(HLAction::withdraw3(agent, 1, 1, true), true); }),
            "Signing this Hyperliquid action isn't supported.");
}

TEST_F(HLSignerTest, RelayNonceMapping) {
  const std::string wallet = "0x1719884eb866cb12b2287399b15f7db5e7d775ea";
  Bytes id(32, 0xab);
  EIP712::Typed t = HLSigner::relayNonceMappingTypedData(wallet, address_, id, 42);
  EXPECT_EQ(EIP712::encodeType(t.type, t.message),
            "NonceMapping(string chainId,address wallet,address depositor,bytes32 id,uint256 nonce)");
  EXPECT_EQ(EIP712::encodeType("EIP712Domain", t.domain),
            "EIP712Domain(string name,string version,uint256 chainId,address verifyingContract)");
  EVMSignature sig = HLSigner::signRelayNonceMapping(wallet, address_, id, 42, key_.span());
  EXPECT_EQ(EVMSigner::recover(sig, EIP712::digest(HLSigner::relayNonceMappingParts(wallet, address_, id, 42))),
            address_);
  for (std::size_t n : {0u, 31u, 33u}) {
    Bytes wrong(n, 1);
    EXPECT_EQ(errorOf([&] { (void)HLSigner::relayNonceMappingTypedData(wallet, address_, wrong, 42); }),
              "Invalid Relay mapping id.");
  }
  EXPECT_EQ(errorOf([&] { (void)HLSigner::signRelayNonceMapping("0xnope", address_, id, 42, key_.span()); }),
            "Invalid address: 0xnope");
}

}  // namespace
}  // namespace orwenna
