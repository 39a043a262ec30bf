// NEAR: the Borsh form of each action, the signed form, the wrap-and-deposit
// calls, amounts, and the RPC client's reading of answers and of errors whose
// detail sits beside a generic message.
#include <gtest/gtest.h>

#include "base/http.h"
#include "chains/near_rpc.h"
#include "chains/near_transaction.h"
#include "chains/solana_fake_node.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FakeResponse;
using testing::FakeRpcNode;

TEST(NearTransaction, BorshLayoutOfEachAction) {
  Bytes key(32, 0xAB), hash(32, 0x11);
  const std::string signer = toHex(key);
  // The transfer of 1 NEAR: tag 3 and 10^24 in 16 bytes little-endian.
  Bytes t = NearTransaction::encode(signer, key, 42, "bob.near", hash, {NearAction::transfer(NearTransaction::kOneNear)});
  Bytes head;
  for (Bytes part : {Bytes{64, 0, 0, 0}, Bytes(signer.begin(), signer.end()), Bytes{0}, key,
                     Bytes{42, 0, 0, 0, 0, 0, 0, 0}, Bytes{8, 0, 0, 0}, Bytes{'b', 'o', 'b', '.', 'n', 'e', 'a', 'r'},
                     hash, Bytes{1, 0, 0, 0}, Bytes{3}}) {
    head.insert(head.end(), part.begin(), part.end());
  }
  ASSERT_EQ(t.size(), head.size() + 16);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), t.begin()));
  EXPECT_EQ(toHex(ByteView(t).last(16)), "000000a1edccce1bc2d3000000000000");

  Bytes call = NearTransaction::encode(signer, key, 1, "wrap.near", hash,
                                       {NearAction::functionCall("near_deposit", "{}", 15'000'000'000'000, 5)});
  EXPECT_EQ(toHex(ByteView(call).last(1 + 4 + 12 + 4 + 2 + 8 + 16)),
            "02" "0c000000" + toHex(asBytes("near_deposit")) + "02000000" "7b7d" "00f0ab75a40d0000"
            "05000000000000000000000000000000");
  Bytes del = NearTransaction::encode(signer, key, 1, signer, hash, {NearAction::deleteAccount("bob.near")});
  EXPECT_EQ(toHex(ByteView(del).last(13)), "07" "08000000" + toHex(asBytes("bob.near")));
}

TEST(NearTransaction, SignedFormVerifiesUnderTheImplicitAccountsKey) {
  Bytes secret(32, 5), hash(32, 9);
  Bytes signedTx = NearTransaction::signedBytes(secret, 7, "bob.near", hash, {NearAction::transfer(1)});
  auto key = Ed25519::publicKey(secret);
  Bytes body(signedTx.begin(), signedTx.end() - 65);
  EXPECT_EQ(body, NearTransaction::encode(toHex(key), key, 7, "bob.near", hash, {NearAction::transfer(1)}));
  EXPECT_EQ(signedTx[body.size()], 0);
  EXPECT_TRUE(Ed25519::verify(key, NearTransaction::hash(body), ByteView(signedTx).last(64)));
  EXPECT_EQ(NearTransaction::idOfSigned(signedTx), Base58::encode(NearTransaction::hash(body)));
  EXPECT_EQ(errorOf([&] { NearTransaction::signedBytes(secret, 7, "bob.near", Bytes(31), {}); }),
            "A NEAR block hash is 32 bytes.");
}

TEST(NearTransaction, WrapAndDepositIsFourCallsToWrapNear) {
  auto actions = NearTransaction::intentDeposit("me", "dep", NearTransaction::kOneNear);
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[0], NearAction::functionCall("storage_deposit", R"({"account_id":"me","registration_only":true})",
                                                 15'000'000'000'000, NearTransaction::kStorageDeposit));
  EXPECT_EQ(asString(actions[1].args), R"({"account_id":"dep","registration_only":true})");
  EXPECT_EQ(actions[2], NearAction::functionCall("near_deposit", "{}", 15'000'000'000'000, NearTransaction::kOneNear));
  EXPECT_EQ(actions[3], NearAction::functionCall("ft_transfer",
                                                 R"({"receiver_id":"dep","amount":"1000000000000000000000000"})",
                                                 30'000'000'000'000, 1));
  EXPECT_EQ(NearTransaction::kStorageDeposit.str(), "1250000000000000000000");
}

TEST(NearTransaction, AccountsAndAmounts) {
  EXPECT_TRUE(NearTransaction::isImplicitAccount(std::string(64, 'a')));
  EXPECT_FALSE(NearTransaction::isImplicitAccount(std::string(64, 'A')));
  EXPECT_FALSE(NearTransaction::isImplicitAccount(std::string(63, 'a')));
  EXPECT_EQ(errorOf([] { NearTransaction::requireImplicitAccount("bob.near"); }),
            "Not a NEAR implicit account: bob.near");
  EXPECT_TRUE(NearTransaction::isAccountId("bob.near"));
  EXPECT_TRUE(NearTransaction::isAccountId("a-b_c.near"));
  for (const char* bad : {"a", "Bob.near", "bob..near", ".bob", "bob.", "bo b"}) {
    EXPECT_FALSE(NearTransaction::isAccountId(bad)) << bad;
  }
  EXPECT_EQ(nearToYocto("1.5")->str(), "1500000000000000000000000");
  EXPECT_EQ(nearToYocto("0.000000000000000000000001")->str(), "1");
  EXPECT_FALSE(nearToYocto("0.0000000000000000000000001"));
  EXPECT_FALSE(nearToYocto("-1"));
  EXPECT_FALSE(nearToYocto("1."));
  EXPECT_EQ(yoctoToNear(*nearToYocto("2.25")), "2.25");
  EXPECT_EQ(yoctoToNear(1), "0.000000000000000000000001");
  EXPECT_EQ(yoctoToNear(0), "0");
}

class NearRPCTest : public ::testing::Test {
 protected:
  FakeRpcNode node;
  NearRPC rpc{CurlHttpClient::shared(), node.url()};
};

TEST_F(NearRPCTest, ReadsNonceAccountBlockAndWrappedBalance) {
  Bytes key(32, 3);
  node.on("query", [&](const Json& p) {
    EXPECT_EQ(p.at("finality"), "final");
    if (p.at("request_type") == "view_access_key") {
      EXPECT_EQ(p.at("public_key"), "ed25519:" + Base58::encode(key));
      return FakeRpcNode::ok({{"nonce", 41}});
    }
    if (p.at("request_type") == "call_function") {
      EXPECT_EQ(p.at("args_base64"), toBase64(asBytes(std::string_view(R"({"account_id":"me"})"))));
      std::string text = "\"25\"";
      return FakeRpcNode::ok({{"result", Json(Bytes(text.begin(), text.end()))}});
    }
    return FakeRpcNode::ok({{"amount", "1000000000000000000000000000"}, {"storage_usage", 182}});
  });
  node.result("block", {{"header", {{"hash", Base58::encode(Bytes(32, 1))}, {"gas_price", "100000000"}}}});
  EXPECT_EQ(rpc.accessKeyNonce("me", key), 42u);
  auto account = rpc.account("me");
  EXPECT_EQ(account.amount.str(), "1000000000000000000000000000");
  EXPECT_EQ(account.storageUsage, 182u);
  EXPECT_EQ(rpc.latestBlock().hash, Bytes(32, 1));
  EXPECT_EQ(rpc.wrappedBalance("me"), 25u);
  node.result("block", {{"header", {{"gas_price", "1"}}}});
  EXPECT_EQ(errorOf([&] { rpc.latestBlock(); }), "NEAR RPC: no nonce, block hash or balance.");
}

TEST_F(NearRPCTest, SendingAndErrors) {
  node.result("send_tx", {{"status", {{"Failure", {{"ActionError", "LackBalanceForState"}}}}},
                          {"transaction", {{"hash", "abc"}}}});
  EXPECT_EQ(errorOf([&] { rpc.sendTx(Bytes{1}); }),
            R"(The NEAR transaction failed: {"ActionError":"LackBalanceForState"})");
  node.result("send_tx", {{"status", {{"SuccessValue", ""}}}, {"transaction", {{"hash", "abc"}}}});
  EXPECT_EQ(rpc.sendTx(Bytes{1}), "abc");
  EXPECT_EQ(node.bodies().back()["params"],
            Json({{"signed_tx_base64", "AQ=="}, {"wait_until", "EXECUTED_OPTIMISTIC"}}));
  node.result("send_tx", nullptr);
  EXPECT_EQ(errorOf([&] { rpc.sendTx(Bytes{1}); }), "NEAR RPC send_tx: no result");

  // The detail sits in "data" beside a generic message; the whole object is read.
  node.on("send_tx", [](const Json&) {
    return FakeResponse::json(R"({"jsonrpc":"2.0","id":1,"error":{"code":-32000,"message":"Server error",
      "data":{"TxExecutionError":{"InvalidTxError":{"NotEnoughBalance":{"cost":"5"}}}}}})");
  });
  try {
    rpc.sendTx(Bytes{1});
    ADD_FAILURE();
  } catch (const NearRPCError& e) {
    EXPECT_EQ(std::string(e.what()), "NEAR RPC send_tx: Server error");
    EXPECT_EQ(NearRPC::userMessage(e.nodeText()),
              "Not enough NEAR: the account keeps NEAR for its storage and pays the fee in NEAR. Send it ≈ 0.1 NEAR, "
              "then try again.");
  }
  node.result("query", {{"error", "account x does not exist while viewing"}});
  try {
    rpc.account("x");
    ADD_FAILURE();
  } catch (const NearRPCError& e) {
    EXPECT_TRUE(NearRPC::isMissingAccount(e.nodeText()));
  }
}

}  // namespace
}  // namespace orwenna
