// The Solana and EVM send pipelines end to end against stateful fake nodes
// that check signatures, blockhashes, nonces and balances: what lands, what
// is refused before any signature, and what the journal holds.
#include <gtest/gtest.h>

#include "base/http.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/spl.h"
#include "execution/evm_send.h"
#include "execution/execution_error.h"
#include "execution/solana_send.h"
#include "fakes/fake_ledgers.h"
#include "fakes/chain_test_signer.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::ChainTestSigner;
using testing::errorOf;
using testing::FixedClock;
using testing::TempDir;
using Kind = Journal::Entry::Kind;

const std::string kUsdcMint(SolanaPrograms::kUsdcMint);
const std::string kSolFriend = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
const std::string kSolStranger = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";
const std::string kEvmFriend = "0x2222222222222222222222222222222222222222";
const std::string kSpender = "0x3333333333333333333333333333333333333333";

bool endsWith(const std::string& s, std::string_view tail) { return s.size() >= tail.size() && s.ends_with(tail); }

class SendPipelines : public ::testing::Test {
 protected:
  FixedClock clock;
  TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  ChainTestSigner signer;

  Envelope envelope(const std::string& maxInput, std::optional<std::string> destination = std::nullopt) {
    return Envelope{Decimal::parse(maxInput), Decimal(0), std::move(destination), clock.nowMillis() + 60'000};
  }
  std::vector<std::pair<std::string, Kind>> journaled() {
    std::vector<std::pair<std::string, Kind>> out;
    for (const auto& e : journal.entries()) out.emplace_back(e.chain + " " + e.id, e.kind);
    return out;
  }
};

class SolanaSend : public SendPipelines {
 protected:
  testing::FakeSolanaLedger ledger;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, ledger.node.url());
  SolanaSender sender{rpc, signer, journal, clock};

  // 2.5 USDC to `to`, the friend being the one saved address.
  SolanaMove usdcTo(const std::string& to) {
    SolanaMove m;
    m.owner = signer.solana;
    m.instructions = SPL::transferInstructions({signer.solana, to, kUsdcMint, std::string(SolanaPrograms::kToken),
                                                2'500'000, 6, true});
    m.recipients = {kSolFriend};
    const std::string mine = SPL::associatedTokenAddress(signer.solana, kUsdcMint, SolanaPrograms::kToken);
    m.watches = {{"USDC", mine, true, -2'500'000}, {"SOL", signer.solana, false, -3'000'000}};
    m.envelope = envelope("2.5", to);
    m.input = Decimal::parse("2.5");
    m.destination = to;
    m.note = "Send 2.5 USDC to friend";
    return m;
  }
};

TEST_F(SolanaSend, UsdcToASavedAddressLandsAndIsJournaled) {
  ledger.fund(signer.solana, 50'000'000);
  const std::string mine = ledger.fundToken(signer.solana, kUsdcMint, 10'000'000);
  auto outcome = sender.send(usdcTo(kSolFriend));
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(ledger.token(mine)->amount, 7'500'000u);
  auto theirs = ledger.token(SPL::associatedTokenAddress(kSolFriend, kUsdcMint, SolanaPrograms::kToken));
  ASSERT_TRUE(theirs);
  EXPECT_EQ(theirs->amount, 2'500'000u);
  // Fee and the new account's rent, nothing more.
  EXPECT_EQ(ledger.lamports(signer.solana), 50'000'000u - 5000 - 2'039'280);
  EXPECT_EQ(journaled(), (std::vector<std::pair<std::string, Kind>>{{"solana " + outcome.id, Kind::signed_},
                                                                    {"solana " + outcome.id, Kind::confirmed}}));
  EXPECT_TRUE(journal.open().empty());
}

TEST_F(SolanaSend, StopsBeforeTheSignature) {
  ledger.fund(signer.solana, 50'000'000);
  ledger.fundToken(signer.solana, kUsdcMint, 10'000'000);
  // A recipient nobody saved.
  std::string error = errorOf([&] { sender.send(usdcTo(kSolStranger)); });
  EXPECT_NE(error.find("Tokens go to someone else's account"), std::string::npos) << error;
  EXPECT_TRUE(endsWith(error, "Nothing was signed.")) << error;
  // More than the confirmation allowed.
  auto move = usdcTo(kSolFriend);
  move.envelope.maxInput = Decimal::parse("2");
  EXPECT_EQ(errorOf([&] { sender.send(move); }),
            "Needs to send 2.5, but at most 2 was approved. Nothing was signed.");
  // More tokens than the wallet holds: the simulation fails.
  move = usdcTo(kSolFriend);
  move.instructions = SPL::transferInstructions({signer.solana, kSolFriend, kUsdcMint,
                                                 std::string(SolanaPrograms::kToken), 20'000'000, 6, true});
  error = errorOf([&] { sender.send(move); });
  EXPECT_EQ(error.rfind("The simulation failed: ", 0), 0u) << error;
  EXPECT_TRUE(endsWith(error, "Nothing was signed.")) << error;
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(journal.entries().empty());
}

TEST_F(SolanaSend, AnUnfundedWalletIsToldToSendSol) {
  ledger.fundToken(signer.solana, kUsdcMint, 10'000'000);
  EXPECT_EQ(errorOf([&] { sender.send(usdcTo(kSolFriend)); }),
            "Not enough SOL: the wallet " + signer.solana + " has 0 SOL and can't pay Solana's fee and the rent of "
            "the account this move opens. Send it ≈ 0.01 SOL, then try again. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
}

TEST_F(SolanaSend, ASignatureOverOtherBytesIsNeverSent) {
  ledger.fund(signer.solana, 50'000'000);
  ledger.fundToken(signer.solana, kUsdcMint, 10'000'000);
  signer.tamper = true;
  EXPECT_EQ(errorOf([&] { sender.send(usdcTo(kSolFriend)); }),
            "What was signed isn't what was checked, so it was not sent. The money is still in your wallet.");
  EXPECT_TRUE(ledger.sent.empty());
  EXPECT_TRUE(journal.entries().empty());
}

TEST_F(SolanaSend, WithoutAStatusTheEntryStaysOpen) {
  ledger.fund(signer.solana, 50'000'000);
  ledger.fundToken(signer.solana, kUsdcMint, 10'000'000);
  ledger.node.on("getSignatureStatuses", [](const Json&) {
    return testing::FakeSolanaNode::ok({{"context", {{"slot", 1}}}, {"value", Json::array({nullptr})}});
  });
  auto outcome = sender.send(usdcTo(kSolFriend));
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::unknown);
  ASSERT_EQ(journal.open().size(), 1u);
  EXPECT_EQ(journal.open()[0].id, outcome.id);
}

TEST_F(SolanaSend, AnExpiredTransactionOfOursIsRebuiltOnce) {
  ledger.fund(signer.solana, 50'000'000);
  ledger.fundToken(signer.solana, kUsdcMint, 10'000'000);
  ledger.dropNext();
  auto outcome = sender.send(usdcTo(kSolFriend));
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::confirmed);
  auto entries = journal.entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[1].kind, Kind::expired);
  EXPECT_EQ(entries[1].id, entries[0].id);
  EXPECT_NE(entries[2].id, entries[0].id);
  EXPECT_EQ(entries[3].id, outcome.id);
  EXPECT_EQ(ledger.token(SPL::associatedTokenAddress(kSolFriend, kUsdcMint, SolanaPrograms::kToken))->amount,
            2'500'000u);
}

TEST_F(SolanaSend, AReceivedTransactionMustBeOursAlone) {
  ledger.fund(signer.solana, 50'000'000);
  ledger.fundToken(signer.solana, kUsdcMint, 10'000'000);
  auto built = SolanaTransaction::build({SolanaTransaction::solTransfer(kSolStranger, signer.solana, 1000)},
                                        kSolStranger, "GHtXQBsoZHVnNFa9YevAzFr17DJjgHXk3ycTKD5xD3Zi", 0);
  auto move = usdcTo(kSolFriend);
  move.instructions.clear();
  move.received = built.transaction;
  EXPECT_EQ(errorOf([&] { sender.send(move); }), "The fee payer isn't our wallet. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
}

class EVMSend : public SendPipelines {
 protected:
  const EVMNetwork& base = *EVMNetwork::byKey("base");
  testing::FakeEVMLedger ledger{base.chainId};
  EVMRPC rpc{CurlHttpClient::shared(), clock, ledger.node.url(), base.chainId};
  EVMNonces nonces;
  EVMSender sender{base, rpc, signer, journal, clock, nonces};

  EVMMove usdcTo(const std::string& to, const UInt256& amount) {
    EVMMove m;
    m.wallet = signer.evm;
    m.to = base.usdc;
    m.data = ABI::call("transfer(address,uint256)", {ABI::Value::address(to), ABI::Value::uint(amount)});
    m.recipients = {kEvmFriend};
    m.envelope = envelope("1000");
    m.note = "Send USDC on Base";
    return m;
  }
};

TEST_F(EVMSend, TwoErc20SendsLandWithConsecutiveNonces) {
  ledger.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
  ledger.fundToken(base.usdc, signer.evm, 5'000'000);
  // The node keeps answering 0 for the pending count, as one that lags.
  ledger.lagNonces(0);
  auto first = sender.send(usdcTo(kEvmFriend, 1'000'000));
  auto second = sender.send(usdcTo(kEvmFriend, 1'500'000));
  EXPECT_EQ(first.kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(second.kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(ledger.acceptedNonces(), (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ(ledger.token(base.usdc, kEvmFriend), UInt256(2'500'000));
  EXPECT_EQ(journaled(), (std::vector<std::pair<std::string, Kind>>{{"Base " + first.id, Kind::signed_},
                                                                    {"Base " + first.id, Kind::confirmed},
                                                                    {"Base " + second.id, Kind::signed_},
                                                                    {"Base " + second.id, Kind::confirmed}}));
}

TEST_F(EVMSend, AValueAbove64BitsGoesOutWhole) {
  // 20 ETH is more than 2^64 wei.
  const UInt256 twenty = UInt256(20) * UInt256(1'000'000'000'000'000'000ULL);
  ledger.fund(signer.evm, twenty * 2);
  EVMMove m;
  m.wallet = signer.evm;
  m.to = kEvmFriend;
  m.value = twenty;
  m.recipients = {kEvmFriend};
  m.envelope = envelope("20");
  m.input = Decimal(20);
  EXPECT_EQ(sender.send(m).kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(ledger.native(kEvmFriend), twenty);
}

TEST_F(EVMSend, StopsBeforeTheSignature) {
  ledger.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
  ledger.fundToken(base.usdc, signer.evm, 5'000'000);
  // An unlimited approval.
  EVMMove approve = usdcTo(kEvmFriend, 1);
  approve.data = ABI::call("approve(address,uint256)",
                           {ABI::Value::address(kSpender), ABI::Value::uint(~UInt256(0))});
  EXPECT_EQ(errorOf([&] { sender.send(approve); }),
            "Unlimited token spending approval — the drainers' main trick. orwenna only approves exact amounts. "
            "Nothing was signed.");
  // Tokens to an address nobody saved.
  std::string error = errorOf([&] { sender.send(usdcTo(kSpender, 1)); });
  EXPECT_EQ(error.rfind("Tokens go to someone else's address 0x3333", 0), 0u) << error;
  // A dry run that reverts.
  // The dry run moves more than the card approved, whatever the move claims.
  EVMMove more = usdcTo(kEvmFriend, 1'500'000);
  more.spendAsset = base.usdc;
  more.spendDecimals = 6;
  more.input = Decimal(1);
  more.envelope = envelope("1");
  EXPECT_EQ(errorOf([&] { sender.send(more); }),
            "Needs to send 1.5, but at most 1 was approved. Nothing was signed.");
  ledger.revertCalls(base.usdc);
  EXPECT_EQ(errorOf([&] { sender.send(usdcTo(kEvmFriend, 1)); }),
            "The simulation failed: execution reverted: the pool refuses. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(journal.entries().empty());
}

TEST_F(EVMSend, AnExactApprovalLandsAndASignatureOverOtherFieldsIsNeverSent) {
  ledger.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
  ledger.fundToken(base.usdc, signer.evm, 5'000'000);
  EVMMove approve = usdcTo(kEvmFriend, 1);
  approve.data = ABI::call("approve(address,uint256)", {ABI::Value::address(kSpender), ABI::Value::uint(2'000'000)});
  EXPECT_EQ(sender.send(approve).kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(ledger.allowance(base.usdc, signer.evm, kSpender), UInt256(2'000'000));

  signer.tamper = true;
  std::string error = errorOf([&] { sender.send(usdcTo(kEvmFriend, 1)); });
  EXPECT_EQ(error.rfind("What was signed isn't what was checked", 0), 0u) << error;
  EXPECT_EQ(ledger.acceptedNonces().size(), 1u);
  EXPECT_EQ(journal.entries().size(), 2u);
}


// An approval and the call that spends it, on a network that batches: one
// type-4 transaction that the fake node runs only once its authorisation
// recovers to the wallet with the wallet's next nonce.
TEST_F(EVMSend, AnApprovalAndItsCallGoOutAsOneBatchOrNotAtAll) {
  ledger.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
  ledger.fundToken(base.usdc, signer.evm, 5'000'000);
  const std::string kRefusing = "0x4444444444444444444444444444444444444444";
  ledger.addEscrow(kSpender);
  ledger.revertCalls(kRefusing);
  auto deposit = [&](const std::string& escrow) {
    EVMMove m;
    m.wallet = signer.evm;
    m.to = escrow;
    m.data = ABI::call("depositErc20(address,uint256,bytes32)", {ABI::Value::address(base.usdc),
                                                                 ABI::Value::uint(2'000'000),
                                                                 ABI::Value::fixedBytes(Bytes(32, 7))});
    m.spendAsset = base.usdc;
    m.spendDecimals = 6;
    m.input = Decimal(2);
    m.envelope = envelope("2");
    m.note = "Deposit";
    return m;
  };
  auto send = [&](const std::string& escrow) {
    return sendAfterApproval(sender, rpc, deposit(escrow), EVMApproval{base.usdc, escrow, 2'000'000, "Approve"},
                             EVMApprovalMode::batchedWhereAllowed);
  };

  // The deposit reverts: the dry run of the whole batch stops it.
  EXPECT_EQ(errorOf([&] { send(kRefusing); }),
            "The simulation failed: execution reverted: the pool refuses. Nothing was signed.");
  // A signer that delegates the wallet to other code is caught before sending.
  signer.tamper = true;
  std::string error = errorOf([&] { send(kSpender); });
  EXPECT_EQ(error.rfind("What was signed isn't what was checked (an authorisation isn't the wallet's", 0), 0u) << error;
  signer.tamper = false;
  // A batch may not call into the wallet itself.
  EVMMove self = deposit(kSpender);
  self.batch = {{kSpender, self.data}, {signer.evm, self.data}};
  EXPECT_EQ(errorOf([&] { sender.send(self); }),
            "A call into this wallet's own address: it would run calls nobody checked. Refused. Nothing was signed.");
  EXPECT_TRUE(ledger.acceptedNonces().empty());
  EXPECT_TRUE(journal.entries().empty());

  EVMCallOutcome o = send(kSpender);
  ASSERT_TRUE(o.batched && o.call && !o.approval);
  EXPECT_EQ(o.call->kind, ChainSendOutcome::Kind::confirmed) << o.call->detail;
  ASSERT_EQ(ledger.acceptedTransactions().size(), 1u);
  const EVMTransaction tx = ledger.acceptedTransactions()[0];
  EXPECT_EQ(tx.typeByte(), 0x04);
  EXPECT_TRUE(EVMCall::sameAddress(tx.to, signer.evm));
  EXPECT_EQ(ledger.token(base.usdc, kSpender), UInt256(2'000'000));
  EXPECT_EQ(ledger.allowance(base.usdc, signer.evm, kSpender), UInt256(0));
  EXPECT_EQ(journaled(), (std::vector<std::pair<std::string, Kind>>{{"Base " + o.call->id, Kind::signed_},
                                                                    {"Base " + o.call->id, Kind::confirmed}}));
}

}  // namespace
}  // namespace orwenna
