// The signer protocol: every request case and the reply through JSON and
// through frames on a real socket pair, the fixed encodings the service
// relies on, and the refusals of malformed or hostile messages.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "signing/signer_protocol.h"
#include "signing/signer_socket.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace sr = signer_request;
using testing::errorOf;

MsgPack protocolAction() {
  return MsgPack::map({{"type", MsgPack::string("order")}, {"grouping", MsgPack::string("na")},
                       {"n", MsgPack::uint(7)}});
}

// One request of every case, with every field set to something non-default.
std::vector<SignerRequest> oneOfEach() {
  const Bytes bytes = {0x00, 0x01, 0xfe, 0xff};
  std::vector<SignerRequest> all = {
      sr::Status{},
      sr::ImportMnemonic{"abandon about", "pass", true},
      sr::CreateWallet{true},
      sr::Forget{},
      sr::AddressBook{},
      sr::SaveAddresses{{{"mom", "solana", "9xQeWvG816bUx9EPjHmaT23yvVM2ZWbrrpZb9PusVFin", "note"}}},
      sr::RemoveAddress{"mom", "solana"},
      sr::ImportPrivateKey{"0x4c0883a69102937d6231471b5dbb6204fe5129617082792ae468d01a3f362318"},
      sr::SetActiveWallet{"W1"},
      sr::RemoveWallet{"W2"},
      sr::RenameWallet{"W1", "Savings «main»"},
      sr::SignSolana{bytes, {"a", "b"}, {"r"}, {{"ata", "owner"}}, {"prog"}},
      sr::SignSolanaMessage{bytes},
      sr::SignPersonal{bytes},
      sr::SignTypedData{Bytes{'{', '}'}},
      sr::SignEVMTransaction{8453, 3, 1000, 2000, 21000, "0x9858EfFD232B4033E47d90003D41EC34EcaEda94",
                             UInt256(5), bytes, {"0x9858EfFD232B4033E47d90003D41EC34EcaEda94"}},
      sr::SignEVMBatch{1, 2, 3, 4, 5, {{"0x9858EfFD232B4033E47d90003D41EC34EcaEda94", bytes}}, {"x"}},
      sr::SignHyperliquidL1{protocolAction(), 1733000000000, true},
      sr::SignHyperliquidUser{protocolAction(), false, {"0xabc"}},
      sr::SignRelayNonceMapping{"0xw", "0xd", bytes, 9},
      sr::EnableAgent{},
      sr::SetAgentActive{true},
      sr::LedgerAgent{"0xowner", true},
      sr::SetLedgerAgentActive{"0xowner", true},
      sr::SignLedgerAgentL1{"0xowner", protocolAction(), 11},
      sr::NearAddress{},
      sr::Lock{},
      sr::SetSessionLength{900},
      sr::EndSession{},
      sr::SignNearIntentDeposit{"1000000000000000000000000", "dep.near", 4, bytes},
      sr::SignNearTransfer{"5", "bob.near", {"bob.near"}, 5, bytes},
      sr::SignNearDeleteAccount{"bob.near", {"bob.near"}, 6, bytes},
      sr::CreateAutomationWallet{},
      sr::SignRelayHyperliquidDeposit{protocolAction(), true, "0xr", 8453, "0xc"},
      sr::SignOneClickDeposit{"dep", R"({"signSolana":{}})"},
  };
  all.push_back(SignerRequest::asWallet("W9", sr::SignHyperliquidL1{protocolAction(), 12, true}));
  return all;
}

struct SocketPair {
  int fds[2];
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
  ~SocketPair() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
};

TEST(SignerRequest, EveryCaseRoundTripsThroughJsonAndFrames) {
  auto all = oneOfEach();
  ASSERT_EQ(all.size(), SignerRequest::kCaseCount);
  std::set<std::string> names;
  SocketPair pair;
  for (const auto& request : all) {
    Json json = request.toJson();
    ASSERT_TRUE(json.is_object());
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json.begin().key(), request.caseName());
    names.insert(std::string(request.caseName()));

    const std::string text = json.dump();
    std::thread writer([&] { writeFrame(pair.fds[0], text); });
    std::string received = readFrame(pair.fds[1]);
    writer.join();
    auto decoded = SignerRequest::fromJson(*parseJson(received));
    EXPECT_EQ(decoded.value().index(), request.value().index());
    EXPECT_EQ(decoded.toJson().dump(), text) << request.caseName();
  }
  EXPECT_EQ(names.size(), SignerRequest::kCaseCount);
}

TEST(SignerRequest, FixedEncodings) {
  EXPECT_EQ(SignerRequest(sr::Status{}).toJson().dump(), R"({"status":{}})");
  EXPECT_EQ(SignerRequest(sr::SetAgentActive{true}).toJson().dump(), R"({"setAgentActive":{"_0":true}})");
  EXPECT_EQ(SignerRequest(sr::ImportMnemonic{"a b", "", false}).toJson().dump(),
            R"({"importMnemonic":{"phrase":"a b","passphrase":"","requirePresence":false}})");
  EXPECT_EQ(SignerRequest(sr::SignPersonal{Bytes{'h', 'i'}}).toJson().dump(), R"({"signPersonal":{"message":"aGk="}})");
  auto wrapped = SignerRequest::asWallet("W1", sr::Lock{});
  EXPECT_EQ(wrapped.toJson().dump(), R"({"asWallet":{"id":"W1","request":{"lock":{}}}})");
  EXPECT_EQ(wrapped.unwrapped().caseName(), "lock");
  auto l1 = SignerRequest(sr::SignHyperliquidL1{MsgPack::uint(1), 5, true}).toJson();
  EXPECT_EQ(l1["signHyperliquidL1"]["action"], MsgPack::uint(1).toJson());
}

TEST(SignerRequest, WeiAboveSixtyFourBitsTravelsWhole) {
  sr::SignEVMTransaction tx;
  tx.value = *parseUInt256("18446744073709551616");  // 2^64: one more than a UInt64 holds
  Json json = SignerRequest(tx).toJson();
  EXPECT_EQ(json["signEVMTransaction"]["value"], "18446744073709551616");
  auto back = SignerRequest::fromJson(json);
  EXPECT_EQ(back.get<sr::SignEVMTransaction>()->value, tx.value);

  tx.value = std::numeric_limits<std::uint64_t>::max();
  json = SignerRequest(tx).toJson();
  ASSERT_TRUE(json["signEVMTransaction"]["value"].is_number_unsigned());
  EXPECT_EQ(SignerRequest::fromJson(json).get<sr::SignEVMTransaction>()->value, tx.value);

  json["signEVMTransaction"]["value"] = "12e3";
  EXPECT_NE(errorOf([&] { (void)SignerRequest::fromJson(json); }).find("\"value\""), std::string::npos);
}

TEST(SignerRequest, MalformedAndHostileRequestsAreRefused) {
  auto refusal = [](const std::string& text) {
    return errorOf([&] { (void)SignerRequest::fromJson(*parseJson(text)); });
  };
  // A wallet choice inside a wallet choice would let a peer nest without end.
  EXPECT_EQ(refusal(R"({"asWallet":{"id":"a","request":{"asWallet":{"id":"b","request":{"lock":{}}}}}})"),
            "The signer message is malformed: \"asWallet\" holds another \"asWallet\".");
  EXPECT_EQ(errorOf([] { (void)SignerRequest::asWallet("a", SignerRequest::asWallet("b", sr::Lock{})); }),
            "The signer message is malformed: \"asWallet\" holds another \"asWallet\".");
  EXPECT_NE(refusal(R"({"launchMissiles":{}})"), "");
  EXPECT_NE(refusal(R"({"status":{},"lock":{}})"), "");
  EXPECT_NE(refusal(R"([])"), "");
  EXPECT_NE(refusal(R"({"signPersonal":{"message":"not base64!"}})"), "");
  EXPECT_NE(refusal(R"({"signHyperliquidL1":{"action":{"kind":"uint","uint":1},"nonce":-1,"mainnet":true}})"), "");
  EXPECT_NE(refusal(R"({"signHyperliquidL1":{"action":{"kind":"uint","uint":1},"nonce":1}})"), "");
  EXPECT_NE(refusal(R"({"setAgentActive":{"_0":"yes"}})"), "");
  EXPECT_NE(refusal(R"({"signHyperliquidL1":{"action":{"type":"order"},"nonce":1,"mainnet":true}})"), "");
  // The valid twin of the last one decodes.
  EXPECT_EQ(refusal(R"({"signHyperliquidL1":{"action":{"kind":"uint","uint":1},"nonce":1,"mainnet":true}})"), "");
}

TEST(SignerReply, ErrorTextJoinsErrorAndProblems) {
  auto reply = SignerReply::fromJson(*parseJson(R"({"ok": false, "checks": [], "problems": []})"));
  EXPECT_FALSE(reply.ok);
  EXPECT_EQ(reply.errorText(), "The signer refused.");
  reply = SignerReply::fromJson(
      *parseJson(R"({"ok": false, "error": "Refused.", "checks": ["a"], "problems": ["One.", "Two."]})"));
  EXPECT_EQ(reply.errorText(), "Refused. One. Two.");
  EXPECT_NE(errorOf([] { (void)SignerReply::fromJson(*parseJson(R"({"ok": true, "checks": []})")); }), "");
  EXPECT_NE(errorOf([] { (void)SignerReply::fromJson(*parseJson(R"({"ok": "yes", "checks": [], "problems": []})")); }),
            "");
}

TEST(SignerReply, EveryFieldRoundTrips) {
  SignerReply reply;
  reply.ok = true;
  reply.hasWallet = true;
  reply.solanaAddress = "So1";
  reply.evmAddress = "0xE";
  reply.nearAddress = "n.near";
  reply.phrase = "abandon about";
  reply.signedWire = Bytes{1, 2};
  reply.signedRaw = Bytes{3};
  EVMSignature signature;
  signature.r[0] = 9;
  signature.v = 28;
  reply.signature = signature;
  reply.signatureBytes = Bytes{4};
  reply.agentAddress = "0xA";
  reply.agentActive = false;
  reply.wallets = std::vector<SignerWallet>{{"W1", "Main", "phrase", "So1", "0xE", std::nullopt, true, std::nullopt}};
  reply.activeWallet = "W1";
  reply.sessionLength = 300;
  reply.action = protocolAction();
  reply.nonce = 42;
  reply.addresses = std::vector<SignerAddress>{{"mom", "evm", "0xM", ""}};
  reply.checks = {"checked"};
  const std::string text = reply.toJson().dump();
  SignerReply back = SignerReply::fromJson(*parseJson(text));
  EXPECT_EQ(back.toJson().dump(), text);
  ASSERT_NE(back.activeWalletRecord(), nullptr);
  EXPECT_EQ(back.activeWalletRecord()->label, "Main");
  EXPECT_EQ(back.signature, signature);
}

TEST(SignerWallet, KeyProblemNamesWhatTheWalletHolds) {
  SignerWallet solanaOnly{"W", "Phantom import", "key", "So1", std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  EXPECT_EQ(solanaOnly.keyProblem("solana"), std::nullopt);
  EXPECT_EQ(solanaOnly.keyProblem("evm"),
            "The wallet «Phantom import» has no EVM (Hyperliquid, Base…) key: it holds only a Solana key. Switch "
            "wallets (Settings → Key and signing) or import one that has it.");
  SignerWallet evmOnly{"W", "Metamask", "key", std::nullopt, "0xE", std::nullopt, std::nullopt, std::nullopt};
  EXPECT_EQ(evmOnly.keyProblem("solana"),
            "The wallet «Metamask» has no Solana key: it holds only an EVM key. Switch wallets (Settings → Key and "
            "signing) or import one that has it.");
}

TEST(SignerFrames, OversizedAndTruncatedFramesAreRefused) {
  SocketPair pair;
  // A header announcing one byte over the cap is refused before any body.
  const std::uint32_t huge = static_cast<std::uint32_t>(kMaxSignerFrameBytes + 1);
  const unsigned char header[4] = {static_cast<unsigned char>(huge >> 24), static_cast<unsigned char>(huge >> 16),
                                   static_cast<unsigned char>(huge >> 8), static_cast<unsigned char>(huge)};
  ASSERT_EQ(::write(pair.fds[0], header, 4), 4);
  EXPECT_NE(errorOf([&] { (void)readFrame(pair.fds[1]); }).find("over the limit"), std::string::npos);

  EXPECT_NE(errorOf([&] { writeFrame(pair.fds[0], std::string(100, 'x'), 99); }).find("over the limit"),
            std::string::npos);

  // A peer that closes mid-frame.
  SocketPair torn;
  const unsigned char partial[6] = {0, 0, 0, 10, '{', '}'};
  ASSERT_EQ(::write(torn.fds[0], partial, 6), 6);
  ::shutdown(torn.fds[0], SHUT_WR);
  EXPECT_EQ(errorOf([&] { (void)readFrame(torn.fds[1]); }), "it closed the connection without an answer");

  // A silent peer meets the time limit.
  SocketPair silent;
  EXPECT_EQ(errorOf([&] { (void)readFrame(silent.fds[1], kMaxSignerFrameBytes, std::chrono::milliseconds(20)); }),
            "it did not answer in time");
}

TEST(SignerProtocol, WipingClearsEveryStringOfTheDocument) {
  Json json = SignerRequest(sr::ImportMnemonic{"secret words", "pw", false}).toJson();
  wipeJsonStrings(json);
  EXPECT_EQ(json["importMnemonic"]["phrase"], "");
  EXPECT_EQ(json["importMnemonic"]["passphrase"], "");
  EXPECT_EQ(json["importMnemonic"]["requirePresence"], false);
}

}  // namespace
}  // namespace orwenna
