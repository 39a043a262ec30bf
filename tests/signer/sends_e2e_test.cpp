// Sends end to end: the real orwenna-signer approving through a scripted
// pinentry, the app's SendMoves and pipelines, and stateful fake Solana, Base
// and NEAR nodes that check every signature, nonce and balance. A USDC send
// to a saved name lands; an unsaved address is refused before the signer is
// asked; ERC-20 sends on Base get consecutive nonces and an exact approval
// lands while an unlimited one and a reverting dry run sign nothing; an
// approval and a deposit go out as one batched type-4 transaction; a NEAR
// transfer and a wrap-and-deposit land; the journal holds each move.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <limits>
#include <thread>

#include "app/send_moves.h"
#include "base/files.h"
#include "base/http.h"
#include "chains/abi.h"
#include "chains/spl.h"
#include "execution/near_send.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_near_node.h"
#include "signing/signer_client.h"
#include "signing/trade_signer.h"
#include "signer/real_signer_fixture.h"
#include "support/test_support.h"

namespace orwenna {
namespace sends_e2e {
namespace {

namespace sr = signer_request;
using Outcome = ExecutionResult::Outcome;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
const std::string kMomSolana = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
const std::string kMomEvm = "0x2222222222222222222222222222222222222222";
const std::string kSpender = "0x3333333333333333333333333333333333333333";
const std::string kUsdc(SolanaPrograms::kUsdcMint);

class Book final : public AddressBook {
 public:
  std::vector<SavedAddress> entries() const override { return saved; }
  std::vector<SavedAddress> saved;
};

class SendsE2E : public testing::RealSignerTest {
 protected:
  void SetUp() override {
    RealSignerTest::SetUp();
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.evmNodes["base"] = {evm.node.url()};
    services.endpoints.nearRpc = near.node.url();
  }
  ExecutionResult run(SendMoves& moves, const std::string& line) {
    auto r = moves.run(PendingAction{*WalletCommand::parse(line)});
    EXPECT_TRUE(r) << line;
    return r.value_or(ExecutionResult{});
  }

  testing::FixedClock clock;
  testing::FakeSolanaLedger solana;
  testing::FakeEVMLedger evm{8453};
  testing::FakeNearNode near;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
};

TEST_F(SendsE2E, EveryChainThroughTheRealSigner) {
  std::string script = "PIN correct horse\nOK\n";  // import, then saving the addresses
  for (int i = 0; i < 12; ++i) script += "OK\n";    // each signature
  std::ofstream(dir.path() / "script") << script;
  ASSERT_TRUE(send(sr::ImportMnemonic{kPhrase, "", false}).ok);
  SignerReply saved = send(sr::SaveAddresses{{{"Mom", "solana", kMomSolana, ""},
                                              {"Mom", "base", kMomEvm, ""},
                                              {"Mom", "near", "mom.near", ""}}});
  ASSERT_TRUE(saved.ok) << saved.errorText();
  SignerReply status = send(sr::Status{});
  ASSERT_TRUE(status.solanaAddress && status.evmAddress && status.nearAddress);
  Book book;
  SignerReply saves = send(sr::AddressBook{});
  for (const auto& a : saves.addresses.value()) book.saved.push_back({a.name, a.address, a.network});

  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  const WalletAddresses me{status.solanaAddress, status.evmAddress, status.nearAddress};
  SendMoves moves(services, book, signer, journal, [me] { return me; });

  // Solana: USDC to a saved name lands.
  solana.fund(*me.solana, 50'000'000);
  solana.fundToken(*me.solana, kUsdc, 10'000'000);
  ExecutionResult r = run(moves, "send 2.5 USDC to Mom");
  ASSERT_EQ(r.outcome, Outcome::done) << r.reply;
  EXPECT_EQ(solana.token(SPL::associatedTokenAddress(kMomSolana, kUsdc, SolanaPrograms::kToken))->amount, 2'500'000u);
  // An address nobody saved: refused before the signer sees anything.
  const std::size_t before = prompts();
  r = run(moves, "send 1 SOL to HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk");
  EXPECT_EQ(r.outcome, Outcome::failed);
  EXPECT_TRUE(r.reply.ends_with("Nothing was signed.")) << r.reply;
  EXPECT_EQ(prompts(), before);

  // Base: two USDC sends in a row while the node's pending count lags.
  const EVMNetwork& base = *EVMNetwork::byKey("base");
  evm.fund(*me.evm, UInt256(10'000'000'000'000'000ULL));
  evm.fundToken(base.usdc, *me.evm, 5'000'000);
  evm.lagNonces(0);
  ASSERT_EQ(run(moves, "send 1 USDC to Mom on base").outcome, Outcome::done);
  ASSERT_EQ(run(moves, "send 1.5 USDC to Mom on base").outcome, Outcome::done);
  EXPECT_EQ(evm.acceptedNonces(), (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ(evm.token(base.usdc, kMomEvm), UInt256(2'500'000));

  // An exact approval signs; an unlimited one and a reverting dry run do not.
  // This sender keeps nonces of its own, so the node answers truly again.
  evm.lagNonces(std::numeric_limits<std::uint64_t>::max());
  EVMNonces nonces;
  EVMRPC rpc = services.evm(base);
  EVMSender evmSender(base, rpc, signer, journal, clock, nonces);
  EVMMove approve;
  approve.wallet = *me.evm;
  approve.to = base.usdc;
  approve.data = ABI::call("approve(address,uint256)", {ABI::Value::address(kSpender), ABI::Value::uint(1'000'000)});
  approve.envelope = {Decimal(1), Decimal(0), std::nullopt, clock.nowMillis() + 60'000};
  EXPECT_EQ(evmSender.send(approve).kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(evm.allowance(base.usdc, *me.evm, kSpender), UInt256(1'000'000));
  const std::size_t signedSoFar = prompts();
  approve.data = ABI::call("approve(address,uint256)", {ABI::Value::address(kSpender), ABI::Value::uint(~UInt256(0))});
  EXPECT_TRUE(testing::errorOf([&] { evmSender.send(approve); }).ends_with("Nothing was signed."));
  EXPECT_EQ(prompts(), signedSoFar);
  // An allowance short of a deposit: the approval and the deposit go out as
  // one type-4 transaction, the signer delegating the wallet to the batch
  // contract; the fake node runs it only when that authorisation recovers.
  evm.addEscrow(kSpender);
  EVMMove escrowed;
  escrowed.wallet = *me.evm;
  escrowed.to = kSpender;
  escrowed.data = ABI::call("depositErc20(address,uint256,bytes32)", {ABI::Value::address(base.usdc),
                                                                     ABI::Value::uint(2'000'000),
                                                                     ABI::Value::fixedBytes(Bytes(32, 1))});
  escrowed.envelope = {Decimal(2), Decimal(0), std::nullopt, clock.nowMillis() + 60'000};
  escrowed.input = Decimal(2);
  EVMCallOutcome batched = sendAfterApproval(evmSender, rpc, escrowed, EVMApproval{base.usdc, kSpender, 2'000'000, "Approve"},
                                             EVMApprovalMode::batchedWhereAllowed);
  ASSERT_TRUE(batched.batched && batched.call);
  EXPECT_EQ(batched.call->kind, ChainSendOutcome::Kind::confirmed) << batched.call->detail;
  EXPECT_EQ(evm.acceptedTransactions().back().typeByte(), 0x04);
  EXPECT_EQ(evm.token(base.usdc, kSpender), UInt256(2'000'000));
  EXPECT_EQ(evm.allowance(base.usdc, *me.evm, kSpender), UInt256(0));
  const std::size_t afterBatch = prompts();
  evm.revertCalls(base.usdc);
  r = run(moves, "send 1 USDC to Mom on base");
  EXPECT_EQ(r.reply, "The simulation failed: execution reverted: the pool refuses. Nothing was signed.");
  EXPECT_EQ(prompts(), afterBatch);

  // NEAR: a transfer to a saved name, then a wrap-and-deposit.
  near.open(*me.near, NearTransaction::kOneNear * 5);
  near.open("mom.near", 0);
  ASSERT_EQ(run(moves, "send 1 NEAR to Mom").outcome, Outcome::done);
  EXPECT_EQ(near.account("mom.near")->amount, NearTransaction::kOneNear);
  NearRPC nearRpc(CurlHttpClient::shared(), near.node.url());
  NearSender nearSender(nearRpc, signer, journal, clock);
  NearMove deposit;
  deposit.kind = NearMove::Kind::intentDeposit;
  deposit.account = *me.near;
  deposit.amount = NearTransaction::kOneNear;
  deposit.to = std::string(64, 'd');
  deposit.envelope = {Decimal(1), Decimal(0), std::nullopt, clock.nowMillis() + 60'000};
  EXPECT_EQ(nearSender.send(deposit).kind, ChainSendOutcome::Kind::confirmed);
  EXPECT_EQ(near.wrapped(std::string(64, 'd')), NearTransaction::kOneNear);

  // Seven moves, each written signed and then confirmed; none left open.
  auto entries = journal.entries();
  EXPECT_EQ(entries.size(), 14u);
  EXPECT_TRUE(journal.open().empty());
  std::set<std::string> chains;
  for (const auto& e : entries) chains.insert(e.chain);
  EXPECT_EQ(chains, (std::set<std::string>{"solana", "Base", "near"}));
}

}  // namespace
}  // namespace sends_e2e
}  // namespace orwenna
