// The service's answers with a scripted prompter: the guards run before
// anyone is asked (payments outside the address book, unlimited approvals,
// SOL to strangers), the address book widens only with approval, the trading
// key signs unattended only once switched on, the passphrase and its refusal,
// status while a prompt is open, and the cases this signer does not sign.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

#include "chains/abi.h"
#include "chains/near_transaction.h"
#include "chains/solana_transaction.h"
#include "signer/signer_service.h"
#include "signing/accounts.h"
#include "signing/derivation.h"
#include "signing/mnemonic.h"
#include "signing/eip712.h"
#include "signing/hl_action.h"
#include "signing/hl_signer.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace sr = signer_request;
using testing::FixedClock;
using testing::ScriptedRandom;
using testing::TempDir;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
constexpr const char* kAccount = "0x9858EfFD232B4033E47d90003D41EC34EcaEda94";  // its m/44'/60'/0'/0/0
constexpr const char* kSolanaAccount = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";
constexpr const char* kStranger = "0x1111111111111111111111111111111111111111";

// Answers prompts from a list and records what each one showed.
class ScriptedPrompter final : public Prompter {
 public:
  void push(PromptAnswer::Outcome outcome, std::string pin = {}) {
    std::lock_guard lock(mutex_);
    answers_.push_back({outcome, std::move(pin)});
  }
  PromptAnswer confirm(const PromptText& text) override { return next("CONFIRM", text); }
  PromptAnswer passphrase(const PromptText& text) override { return next("GETPIN", text); }
  std::vector<std::string> shown() {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  // While set, a prompt waits until `release`.
  std::promise<void> opened;
  std::shared_future<void> gate;

 private:
  PromptAnswer next(const std::string& kind, const PromptText& text) {
    std::pair<PromptAnswer::Outcome, std::string> a{PromptAnswer::Outcome::failed, "no answer scripted"};
    {
      std::lock_guard lock(mutex_);
      shown_.push_back(kind + " " + text.description);
      if (!answers_.empty()) {
        a = answers_.front();
        answers_.pop_front();
      }
    }
    if (gate.valid()) {
      opened.set_value();
      gate.wait();
    }
    if (a.first == PromptAnswer::Outcome::failed) return {a.first, {}, a.second};
    return {a.first, a.second};
  }
  std::mutex mutex_;
  std::deque<std::pair<PromptAnswer::Outcome, std::string>> answers_;
  std::vector<std::string> shown_;
};

using Outcome = PromptAnswer::Outcome;

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() : service({dir.path() / "signer", ScryptParams::kMinLog2N}, prompter, clock, random) {}

  void importPhrase() {
    prompter.push(Outcome::approved, "correct horse");
    SignerReply r = service.handle(sr::ImportMnemonic{kPhrase, "", false});
    ASSERT_TRUE(r.ok) << r.errorText();
  }

  TempDir dir;
  FixedClock clock;
  ScriptedRandom random;
  ScriptedPrompter prompter;
  SignerService service;
};

TEST_F(ServiceTest, ImportChoosesThePassphraseAndLockAsksForItAgain) {
  importPhrase();
  SignerReply status = service.handle(sr::Status{});
  EXPECT_EQ(status.evmAddress, kAccount);
  EXPECT_EQ(status.solanaAddress, kSolanaAccount);
  EXPECT_EQ(status.hasWallet, true);
  const std::string keystore = readFile(dir.path() / "signer" / Keystore::kFileName).value_or("");
  EXPECT_EQ(keystore.find("abandon"), std::string::npos);
  EXPECT_EQ(keystore.find("1ab42cc412b618bdea3a599e3c9bae199ebf030895b039e9db1e30dafb12b727"), std::string::npos);

  ASSERT_TRUE(service.handle(sr::Lock{}).ok);
  prompter.push(Outcome::approved, "wrong");
  SignerReply refused = service.handle(sr::SignPersonal{Bytes{'h', 'i'}});
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.errorText(), "The passphrase is wrong. Nothing was signed.");
  EXPECT_FALSE(refused.signature);
  prompter.push(Outcome::approved, "correct horse");
  SignerReply signed_ = service.handle(sr::SignPersonal{Bytes{'h', 'i'}});
  ASSERT_TRUE(signed_.ok) << signed_.errorText();
  EXPECT_EQ(EVMSigner::recover(*signed_.signature, PersonalMessage::hash(Bytes{'h', 'i'})), kAccount);
  EXPECT_EQ(prompter.shown().back().rfind("GETPIN", 0), 0u);
}

TEST_F(ServiceTest, APaymentOutsideTheAddressBookIsRefusedBeforeAnyPrompt) {
  importPhrase();
  const std::size_t prompts = prompter.shown().size();
  MsgPack send = HLAction::usdSend(kStranger, Decimal(10), 1'800'000'000'000, true);
  // Listing the address for the move is not enough: the book must hold it.
  SignerReply r = service.handle(sr::SignHyperliquidUser{send, true, {kStranger}});
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0], std::string("Funds go to someone else's address ") + kStranger);
  EXPECT_EQ(prompter.shown().size(), prompts);

  prompter.push(Outcome::declined);
  EXPECT_FALSE(service.handle(sr::SaveAddresses{{{"Mom", "hyperliquid", kStranger, ""}}}).ok);
  prompter.push(Outcome::approved);
  ASSERT_TRUE(service.handle(sr::SaveAddresses{{{"Mom", "hyperliquid", kStranger, ""}}}).ok);
  prompter.push(Outcome::approved);
  r = service.handle(sr::SignHyperliquidUser{send, true, {kStranger}});
  ASSERT_TRUE(r.ok) << r.errorText();
  EXPECT_EQ(EVMSigner::recover(*r.signature, EIP712::digest(HLSigner::userTypedData(send, true))), kAccount);
  EXPECT_NE(prompter.shown().back().find(std::string("Send 10 USDC to ") + kStranger), std::string::npos);
  // In the book but not named for this move: refused.
  EXPECT_FALSE(service.handle(sr::SignHyperliquidUser{send, true, {}}).ok);
}

TEST_F(ServiceTest, UnlimitedApprovalsAreRefusedAndExactOnesSigned) {
  importPhrase();
  const std::string usdc = "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913";
  auto approve = [&](const UInt256& amount) {
    return ABI::call("approve(address,uint256)", {ABI::Value::address(kStranger), ABI::Value::uint(amount)});
  };
  sr::SignEVMTransaction tx{8453, 0, 1'000'000, 100'000'000, 60'000, usdc, 0, approve(UInt256(1) << 96), {}};
  SignerReply r = service.handle(tx);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.problems, std::vector<std::string>{"Unlimited token spending approval — the drainers' main trick. "
                                                 "orwenna only approves exact amounts."});
  tx.data = approve(5'000'000);
  prompter.push(Outcome::approved);
  r = service.handle(tx);
  ASSERT_TRUE(r.ok) << r.errorText();
  ASSERT_TRUE(r.signedRaw);
  EXPECT_EQ((*r.signedRaw)[0], 0x02);
  EXPECT_NE(prompter.shown().back().find("Allow " + std::string(kStranger).substr(0, 4)), std::string::npos);
  EXPECT_NE(prompter.shown().back().find("5 USDC"), std::string::npos);
}

TEST_F(ServiceTest, BatchesAndTypedDataPassTheSameRules) {
  importPhrase();
  const std::string usdc = "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913";
  auto approve = [&](const UInt256& amount) {
    return ABI::call("approve(address,uint256)", {ABI::Value::address(kStranger), ABI::Value::uint(amount)});
  };
  sr::SignEVMBatch batch{8453, 4, 1'000'000, 100'000'000, 200'000, {{usdc, approve(~UInt256(0))}}, {}};
  SignerReply r = service.handle(batch);
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].rfind("Unlimited token spending approval", 0), 0u);
  batch.calls = {{usdc, approve(7)}, {kAccount, {}}};
  r = service.handle(batch);
  EXPECT_EQ(r.problems, std::vector<std::string>{
                            "A call into this wallet's own address: it would run calls nobody checked. Refused."});
  batch.calls = {{usdc, approve(7)}};
  prompter.push(Outcome::approved);
  r = service.handle(batch);
  ASSERT_TRUE(r.ok) << r.errorText();
  EXPECT_EQ((*r.signedRaw)[0], 0x04);  // the wallet delegates to the batch contract in the same transaction

  const std::string permit = R"({"types":{"EIP712Domain":[{"name":"name","type":"string"}],
    "Permit":[{"name":"spender","type":"address"},{"name":"value","type":"uint256"}]},
    "primaryType":"Permit","domain":{"name":"USD Coin"},
    "message":{"spender":"0x1111111111111111111111111111111111111111","value":"1"}})";
  r = service.handle(sr::SignTypedData{Bytes(permit.begin(), permit.end())});
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.errorText().find("Permit: this is permission to spend your tokens"), std::string::npos);
}

TEST_F(ServiceTest, TheAutomationWalletSignsWithoutAsking) {
  importPhrase();
  prompter.push(Outcome::approved);
  SignerReply made = service.handle(sr::CreateAutomationWallet{});
  ASSERT_TRUE(made.ok) << made.errorText();
  EXPECT_EQ(made.evmAddress, kAccount);  // the active wallet stays the user's
  const SignerWallet& automation = made.wallets->back();
  ASSERT_TRUE(automation.automation.value_or(false));
  ASSERT_TRUE(service.handle(sr::Lock{}).ok);
  const std::size_t prompts = prompter.shown().size();
  SignerReply r = service.handle(SignerRequest::asWallet(automation.id, sr::SignPersonal{Bytes{'g', 'o'}}));
  ASSERT_TRUE(r.ok) << r.errorText();
  EXPECT_EQ(EVMSigner::recover(*r.signature, PersonalMessage::hash(Bytes{'g', 'o'})), *automation.evm);
  EXPECT_EQ(prompter.shown().size(), prompts);
  // It pays nobody outside the address book either.
  MsgPack send = HLAction::usdSend(kStranger, Decimal(1), 1, true);
  EXPECT_FALSE(service.handle(SignerRequest::asWallet(automation.id, sr::SignHyperliquidUser{send, true, {kStranger}})).ok);
}

TEST_F(ServiceTest, SolToAStrangerIsRefusedAndToTheWalletSigned) {
  importPhrase();
  const std::string stranger = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
  const std::string blockhash = "11111111111111111111111111111111";
  auto wire = [&](const std::string& to) {
    return SolanaTransaction::build({SolanaTransaction::solTransfer(kSolanaAccount, to, 1'500'000'000)},
                                    kSolanaAccount, blockhash, 1000)
        .transaction;
  };
  SignerReply r = service.handle(sr::SignSolana{wire(stranger), {}, {stranger}, {}, {}});
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0], "SOL goes to someone else's address " + stranger);

  prompter.push(Outcome::approved);
  ASSERT_TRUE(service.handle(sr::SaveAddresses{{{"Desk", "solana", stranger, ""}}}).ok);
  prompter.push(Outcome::approved);
  r = service.handle(sr::SignSolana{wire(stranger), {}, {stranger}, {}, {}});
  ASSERT_TRUE(r.ok) << r.errorText();
  auto parsed = SolanaTransaction::parse(*r.signedWire);
  EXPECT_TRUE(Ed25519::verify(Ed25519::publicKey(Derivation::ed25519(Mnemonic::seed(kPhrase, "").span(),
                                                                     WalletPath::solana(0)).span()),
                              parsed.message, parsed.signatures[0]));
  EXPECT_NE(prompter.shown().back().find("Send 1.5 SOL to " + stranger), std::string::npos);
}

TEST_F(ServiceTest, TheTradingKeySignsUnattendedOnlyOnceSwitchedOn) {
  importPhrase();
  prompter.push(Outcome::approved);
  SignerReply enabled = service.handle(sr::EnableAgent{});
  ASSERT_TRUE(enabled.ok) << enabled.errorText();
  ASSERT_TRUE(enabled.agentAddress && enabled.action && enabled.nonce && enabled.signature);
  EXPECT_EQ(enabled.agentActive, false);  // not before the exchange accepted it
  EXPECT_EQ(EVMSigner::recover(*enabled.signature,
                               EIP712::digest(HLSigner::approveAgentTypedData(*enabled.action, true))),
            kAccount);

  HLOrder order;
  order.asset = 0;
  order.isBuy = true;
  order.price = Decimal(50000);
  order.size = Decimal::parse("0.01");
  MsgPack action = HLAction::order(std::span(&order, 1), "na");
  auto signer = [&](const SignerReply& r) {
    return EVMSigner::recover(*r.signature, EIP712::digest(HLSigner::l1TypedData(action, 7, std::nullopt,
                                                                                 std::nullopt, true)));
  };
  ASSERT_TRUE(service.handle(sr::EndSession{}).ok);
  prompter.push(Outcome::approved);
  SignerReply byAccount = service.handle(sr::SignHyperliquidL1{action, 7, true});
  ASSERT_TRUE(byAccount.ok);
  EXPECT_EQ(signer(byAccount), kAccount);
  EXPECT_NE(prompter.shown().back().find("Buy 0.01 of asset #0 at 50000 (Gtc)"), std::string::npos);

  // Switched on right after its approval was posted: no second prompt.
  std::size_t prompts = prompter.shown().size();
  ASSERT_TRUE(service.handle(sr::SetAgentActive{true}).ok);
  EXPECT_EQ(prompter.shown().size(), prompts);
  ASSERT_TRUE(service.handle(sr::EndSession{}).ok);
  SignerReply byAgent = service.handle(sr::SignHyperliquidL1{action, 7, true});
  ASSERT_TRUE(byAgent.ok);
  EXPECT_EQ(signer(byAgent), *enabled.agentAddress);
  EXPECT_EQ(prompter.shown().size(), prompts);

  // A withdrawal never goes through the trading key.
  MsgPack withdraw = HLAction::withdraw3(kAccount, Decimal(1), 1, true);
  EXPECT_FALSE(service.handle(sr::SignHyperliquidL1{withdraw, 8, true}).ok);
  ASSERT_TRUE(service.handle(sr::SetAgentActive{false}).ok);
  EXPECT_EQ(service.handle(sr::Status{}).agentActive, false);
}

TEST_F(ServiceTest, StatusAnswersWhileAPromptIsOpen) {
  importPhrase();
  std::promise<void> release;
  prompter.gate = release.get_future().share();
  prompter.push(Outcome::declined);
  auto pending = std::async(std::launch::async, [&] { return service.handle(sr::SignPersonal{Bytes{'x'}}); });
  prompter.opened.get_future().wait();
  SignerReply status = service.handle(sr::Status{});
  EXPECT_TRUE(status.ok);
  EXPECT_EQ(status.evmAddress, kAccount);
  release.set_value();
  SignerReply denied = pending.get();
  EXPECT_FALSE(denied.ok);
  EXPECT_FALSE(denied.signature);
  EXPECT_EQ(denied.errorText(), "The approval was declined. Nothing was signed.");
}

// NEAR: the signer builds the transaction from the fields itself; a payee
// must be in the book, and every refusal comes before the prompt.
TEST_F(ServiceTest, NearMovesAreBuiltHereAndPayOnlySavedAccounts) {
  importPhrase();
  const std::string me = *service.handle(sr::Status{}).nearAddress;
  const Bytes hash(32, 4);
  const std::size_t prompts = prompter.shown().size();
  SignerReply r = service.handle(sr::SignNearTransfer{"5", "bob.near", {"bob.near"}, 42, hash});
  EXPECT_EQ(r.problems, std::vector<std::string>{"Funds go to someone else's address bob.near"});
  r = service.handle(sr::SignNearDeleteAccount{"bob.near", {"bob.near"}, 42, hash});
  EXPECT_EQ(r.problems, std::vector<std::string>{"Funds go to someone else's address bob.near"});
  EXPECT_EQ(service.handle(sr::SignNearTransfer{"5", "bob.near", {}, 42, Bytes(31)}).errorText(),
            "A NEAR block hash is 32 bytes. Nothing was signed.");
  EXPECT_FALSE(service.handle(sr::SignNearIntentDeposit{"0", std::string(64, 'd'), 42, hash}).ok);
  EXPECT_EQ(prompter.shown().size(), prompts);

  prompter.push(Outcome::approved);
  ASSERT_TRUE(service.handle(sr::SaveAddresses{{{"Bob", "near", "bob.near", ""}}}).ok);
  prompter.push(Outcome::approved);
  r = service.handle(sr::SignNearTransfer{"5", "bob.near", {"bob.near"}, 42, hash});
  ASSERT_TRUE(r.ok) << r.errorText();
  Bytes key = *fromHex(me, false);
  Bytes body = NearTransaction::encode(me, key, 42, "bob.near", hash, {NearAction::transfer(5)});
  ASSERT_TRUE(r.signedWire);
  EXPECT_TRUE(std::equal(body.begin(), body.end(), r.signedWire->begin()));
  EXPECT_TRUE(Ed25519::verify(key, NearTransaction::hash(body), ByteView(*r.signedWire).last(64)));

  prompter.push(Outcome::approved);
  r = service.handle(sr::SignNearIntentDeposit{"7", std::string(64, 'd'), 43, hash});
  ASSERT_TRUE(r.ok) << r.errorText();
  body = NearTransaction::encode(me, key, 43, "wrap.near", hash,
                                 NearTransaction::intentDeposit(me, std::string(64, 'd'), 7));
  EXPECT_EQ(Bytes(r.signedWire->begin(), r.signedWire->end() - 65), body);
}

TEST_F(ServiceTest, TimeOutsDenialsAndCasesThisSignerDoesNotSign) {
  importPhrase();
  prompter.push(Outcome::timedOut);
  EXPECT_EQ(service.handle(sr::SignPersonal{Bytes{'x'}}).errorText(), "The approval timed out.");
  EXPECT_EQ(service.handle(sr::LedgerAgent{kAccount, true}).errorText(),
            "Ledger wallets don't sign through this signer yet. Nothing was signed.");
  SignerReply other = service.handle(SignerRequest::asWallet("nope", sr::SignPersonal{Bytes{'x'}}));
  EXPECT_EQ(other.errorText(), "The signer has no wallet nope. Nothing was signed.");
  EXPECT_FALSE(service.handle(sr::SetSessionLength{60}).ok);
  // A longer session asks for the passphrase even while unlocked.
  prompter.push(Outcome::approved, "correct horse");
  ASSERT_TRUE(service.handle(sr::SetSessionLength{600}).ok);
  EXPECT_EQ(prompter.shown().back().rfind("GETPIN", 0), 0u);
  EXPECT_EQ(service.handle(sr::Status{}).sessionLength, 600);
}

TEST_F(ServiceTest, ImportedKeysSignAsTheActiveWalletAndGoWithApproval) {
  importPhrase();
  // The EIP-55 page's well-known test key and its address.
  const std::string key = "4c0883a69102937d6231471b5dbb6204fe5129617082792ae468d01a3f362318";
  const std::string address = "0x2c7536E3605D9C16a7a3D7b1898e529396a65c23";
  prompter.push(Outcome::approved);
  SignerReply imported = service.handle(sr::ImportPrivateKey{key});
  ASSERT_TRUE(imported.ok) << imported.errorText();
  EXPECT_EQ(imported.evmAddress, kAccount);  // the first wallet stays active
  const SignerWallet& added = imported.wallets->back();
  EXPECT_EQ(added.evm, address);
  EXPECT_EQ(added.kind, "evm-key");
  EXPECT_EQ(added.keyProblem("solana").value_or("").rfind("The wallet «EVM key 1» has no Solana key", 0), 0u);
  EXPECT_EQ(service.handle(sr::ImportPrivateKey{key}).errorText(), "That wallet is already in the signer.");

  ASSERT_TRUE(service.handle(sr::SetActiveWallet{added.id}).ok);
  const Bytes id(32, 7);
  prompter.push(Outcome::approved);
  SignerReply mapped = service.handle(sr::SignRelayNonceMapping{address, kStranger, id, 9});
  ASSERT_TRUE(mapped.ok) << mapped.errorText();
  EXPECT_EQ(EVMSigner::recover(*mapped.signature,
                               EIP712::digest(HLSigner::relayNonceMappingTypedData(address, kStranger, id, 9))),
            address);
  EXPECT_FALSE(service.handle(sr::SignRelayNonceMapping{kAccount, kStranger, id, 9}).ok);  // not this wallet's

  prompter.push(Outcome::approved);
  SignerReply removed = service.handle(sr::RemoveWallet{added.id});
  ASSERT_TRUE(removed.ok);
  EXPECT_EQ(removed.wallets->size(), 1u);
  EXPECT_EQ(removed.evmAddress, kAccount);  // the active wallet falls back to the one left
}

TEST_F(ServiceTest, ForgetNeedsApprovalAndErasesTheKeys) {
  importPhrase();
  prompter.push(Outcome::declined);
  EXPECT_FALSE(service.handle(sr::Forget{}).ok);
  EXPECT_TRUE(fileMode(dir.path() / "signer" / Keystore::kFileName));
  prompter.push(Outcome::approved);
  SignerReply r = service.handle(sr::Forget{});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.hasWallet, false);
  EXPECT_FALSE(fileMode(dir.path() / "signer" / Keystore::kFileName));
}

}  // namespace
}  // namespace orwenna
