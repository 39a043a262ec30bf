// The NEAR pipeline against a fake node that keeps balances, nonces,
// storage and wrap.near's books: transfers, "all" keeping the storage and fee
// reserve, wrap-and-deposit, closing the account and its refusals.
#include <gtest/gtest.h>

#include "base/http.h"
#include "fakes/chain_test_signer.h"
#include "execution/near_send.h"
#include "fakes/fake_near_node.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using Kind = Journal::Entry::Kind;

const UInt128 kNear = NearTransaction::kOneNear;
const std::string kFriend = "friend.near";
const std::string kDeposit = std::string(64, 'd');

class NearSend : public ::testing::Test {
 protected:
  testing::FixedClock clock;
  testing::TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  testing::FakeNearNode chain;
  NearRPC rpc{CurlHttpClient::shared(), chain.node.url()};
  NearSender sender{rpc, signer, journal, clock};

  NearMove move(NearMove::Kind kind, std::optional<UInt128> amount, std::string to) {
    NearMove m;
    m.kind = kind;
    m.account = signer.near;
    m.amount = amount;
    m.to = std::move(to);
    m.recipients = {kFriend};
    m.envelope = {Decimal(100), Decimal(0), std::nullopt, clock.nowMillis() + 60'000};
    m.note = "NEAR move";
    return m;
  }
};

TEST_F(NearSend, ATransferLandsWithTheNextNonceAndIsJournaled) {
  chain.open(signer.near, 5 * kNear, 41);
  chain.open(kFriend, kNear);
  auto outcome = sender.send(move(NearMove::Kind::transfer, 2 * kNear, kFriend));
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(chain.account(kFriend)->amount, 3 * kNear);
  EXPECT_EQ(chain.account(signer.near)->keyNonce, 42u);
  EXPECT_EQ(chain.account(signer.near)->amount, 3 * kNear - testing::FakeNearNode::kFee);
  auto entries = journal.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, Kind::signed_);
  EXPECT_EQ(entries[1].kind, Kind::confirmed);
  EXPECT_EQ(entries[0].id, outcome.id);
  EXPECT_EQ(entries[0].id, NearTransaction::idOfSigned(chain.sent.at(0)));
}

TEST_F(NearSend, AllKeepsTheStorageAndTheFee) {
  chain.open(signer.near, 2 * kNear);
  auto outcome = sender.send(move(NearMove::Kind::transfer, std::nullopt, kFriend));
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::confirmed);
  const auto left = chain.account(signer.near)->amount;
  // The storage (182 bytes) stays, plus what the reserve kept beyond the fee.
  EXPECT_GE(left, UInt128(182) * NearSender::kStoragePricePerByte);
  EXPECT_LT(left, UInt128(182) * NearSender::kStoragePricePerByte + kNear / 100);
  // More than may go is refused before the signer is asked.
  std::string error = errorOf([&] { sender.send(move(NearMove::Kind::transfer, 2 * kNear, kFriend)); });
  EXPECT_EQ(error.rfind("No NEAR can go: the account keeps ", 0), 0u) << error;
  EXPECT_TRUE(error.ends_with("for its storage and the transaction. Nothing was signed.")) << error;
  EXPECT_EQ(signer.signatures, 1);
}

TEST_F(NearSend, WrapAndDepositReachesTheDepositAddress) {
  chain.open(signer.near, 3 * kNear);
  auto outcome = sender.send(move(NearMove::Kind::intentDeposit, kNear, kDeposit));
  EXPECT_EQ(outcome.kind, ChainSendOutcome::Kind::confirmed) << outcome.detail;
  EXPECT_EQ(chain.wrapped(kDeposit), kNear);
  EXPECT_EQ(chain.wrapped(signer.near), 0u);
}

TEST_F(NearSend, ClosingTheAccount) {
  chain.open(signer.near, 3 * kNear);
  chain.wrap(signer.near, kNear / 2);
  std::string error = errorOf([&] { sender.send(move(NearMove::Kind::deleteAccount, std::nullopt, kFriend)); });
  EXPECT_EQ(error, "The account still holds 0.5 wrapped NEAR; closing it would leave them behind. Unwrap or send "
                   "them first. Nothing was signed.");
  chain.wrap(signer.near, 0);
  // The named beneficiary does not exist yet: its balance would be lost.
  EXPECT_EQ(errorOf([&] { sender.send(move(NearMove::Kind::deleteAccount, std::nullopt, kFriend)); }),
            "The account friend.near doesn't exist on NEAR; closing into it would lose the balance. Nothing was "
            "signed.");
  EXPECT_EQ(signer.signatures, 0);
  chain.open(kFriend, kNear);
  EXPECT_EQ(sender.send(move(NearMove::Kind::deleteAccount, std::nullopt, kFriend)).kind,
            ChainSendOutcome::Kind::confirmed);
  EXPECT_FALSE(chain.account(signer.near));
  EXPECT_EQ(chain.account(kFriend)->amount, 4 * kNear - testing::FakeNearNode::kFee);
}

TEST_F(NearSend, RefusalsReadFromTheWholeErrorObject) {
  // An account never opened: the node says so only in "data".
  EXPECT_EQ(errorOf([&] { sender.send(move(NearMove::Kind::transfer, kNear, kFriend)); }),
            "This NEAR account doesn't exist yet: NEAR opens it with the first NEAR it receives. Send it ≈ 0.1 NEAR, "
            "then try again. Nothing was signed.");
  chain.open(signer.near, 3 * kNear);
  EXPECT_EQ(errorOf([&] { sender.send(move(NearMove::Kind::transfer, kNear, "stranger.near")); }),
            "Funds go to someone else's address stranger.near. Nothing was signed.");
  signer.tamper = true;
  EXPECT_EQ(errorOf([&] { sender.send(move(NearMove::Kind::transfer, kNear, kFriend)); }),
            "What was signed isn't what was checked, so it was not sent. The money is still in your wallet.");
  EXPECT_TRUE(chain.sent.empty());
  EXPECT_TRUE(journal.entries().empty());
}

}  // namespace
}  // namespace orwenna
