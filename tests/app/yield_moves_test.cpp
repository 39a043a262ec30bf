// YieldMoves over fake nodes and a fake lending API: a lending line carried
// out behind Confirm, a refusal that reaches the chat before any signature,
// and a spread shown as command lines and run step by step until one fails.
#include <gtest/gtest.h>

#include "app/call_moves.h"
#include "app/yield_moves.h"
#include "chains/abi.h"
#include "base/http.h"
#include "defi/aave.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_yield.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using Outcome = ExecutionResult::Outcome;

const std::string kAToken = "0xaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kDebt = "0xdddddddddddddddddddddddddddddddddddddddd";

class NoBook final : public AddressBook {
 public:
  std::vector<SavedAddress> entries() const override { return {}; }
};

class YieldMovesTest : public ::testing::Test {
 protected:
  YieldMovesTest() {
    services.endpoints.evmNodes["base"] = {evm.node.url()};
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.jupiterLend = lend.url();
    services.endpoints.kamino = "http://127.0.0.1:9";  // nothing answers: Kamino has no rate
    evm.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
    evm.fundToken(base.usdc, signer.evm, 20'000'000);
    testing::FakeAavePool pool;
    pool.pool = AaveMarket::on("base")->pool;
    pool.asset = base.usdc;
    pool.aToken = kAToken;
    pool.debtToken = kDebt;
    pool.liquidityRateRay = *parseUInt256("50000000000000000000000000");
    pool.collateralBase = UInt256(100) * 100'000'000;
    pool.availableBase = UInt256(80) * 100'000'000;
    pool.install(evm);
    lend.tokens = Json::parse(R"([{"address":"9BEcn9aPEmhSPbPQeFGjidRiEKki46fVQDyPpSQXPA2D",
        "assetAddress":"EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v","totalRate":"612"}])");
    lend.payTo = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";
    solana.fund(signer.solana, 1'000'000'000);
    solana.fundToken(signer.solana, std::string(SolanaPrograms::kUsdcMint), 500'000'000);
    yields.setSpots([this] { return readYieldSpots(services, addresses(), {"base"}); });
  }
  std::optional<ExecutionResult> run(const std::string& line) {
    auto command = WalletCommand::parse(line);
    EXPECT_TRUE(command) << line;
    return yields.run(PendingAction{*command});
  }

  testing::FixedClock clock;
  testing::TempDir dir;
  const EVMNetwork& base = *EVMNetwork::byKey("base");
  testing::FakeEVMLedger evm{base.chainId};
  testing::FakeSolanaLedger solana;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, solana.node.url());
  testing::FakeJupiterLend lend{rpc};
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  NoBook book;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  std::function<WalletAddresses()> addresses = [this] { return WalletAddresses{signer.solana, signer.evm, signer.near}; };
  SendMoves sends{services, book, signer, journal, addresses};
  YieldMoves yields{services, signer, journal, addresses, &sends};
};

TEST_F(YieldMovesTest, ALendingLineLandsAndARefusalSignsNothing) {
  auto card = yields.card(*WalletCommand::parse("lend 12 USDC on Aave on base"));
  ASSERT_TRUE(card);
  EXPECT_EQ(card->text, "Lend 12 USDC on Aave on Base.");
  auto r = run("lend 12 USDC on Aave on base");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_TRUE(r->reply.starts_with("Done: Lend 12 USDC on Aave on Base. Transactions: 0x")) << r->reply;
  EXPECT_EQ(evm.token(kAToken, signer.evm), UInt256(12'000'000));
  EXPECT_EQ(evm.allowance(base.usdc, signer.evm, AaveMarket::on("base")->pool), UInt256(0));

  // $100 of collateral at 80%: borrowing 75 would leave a health factor of 1.0666.
  r = run("borrow 75 USDC on Aave on base");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_TRUE(r->reply.starts_with("Borrowing 75 USDC would take the health factor on Aave to 1.0666")) << r->reply;
  EXPECT_EQ(evm.acceptedTransactions().size(), 2u);

  // Not a lending move: the sends answer it.
  r = run("send 1 USDC to Nobody");
  ASSERT_TRUE(r);
  EXPECT_NE(r->reply.find("isn't a saved address"), std::string::npos) << r->reply;
}

TEST_F(YieldMovesTest, ASpreadIsShownAsLinesAndStopsAtTheFirstStepThatFails) {
  auto card = yields.card(*WalletCommand::parse("spread 200 USDC across the best rates max 50% per protocol"));
  ASSERT_TRUE(card && !card->refusal) << (card ? card->text : "");
  EXPECT_EQ(card->lines, (std::vector<std::string>{"lend 100 USDC",
                                                    "move 100 USDC from Solana to base then lend 100 USDC on Aave on base"}));
  EXPECT_NE(card->text.find("Skipped Kamino: no rate to compare."), std::string::npos) << card->text;

  // The lend API pays a stranger: the first step is refused by the guard and nothing after it runs.
  auto r = run("spread 200 USDC across the best rates max 50% per protocol");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_NE(r->reply.find("Tokens go to someone else's account"), std::string::npos) << r->reply;
  EXPECT_TRUE(r->reply.ends_with("The spread stopped at “lend 100 USDC”; the steps before it are done.")) << r->reply;
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(evm.acceptedTransactions().empty());
}

TEST_F(YieldMovesTest, TheBoardRanksThePlaces) {
  EXPECT_EQ(yieldBoard(readYieldSpots(services, addresses(), {"base"})),
            "USDC lending rates after fees:\nJupiter Lend: 6.12% a year\nAave on Base: 5.13% a year\n"
            "Kamino: no rate read\nMorpho on Base: no rate read");
}

}  // namespace
}  // namespace orwenna

namespace orwenna {
namespace {

std::string errorOfCalldata(const std::string& function, const std::vector<std::string>& args) {
  return testing::errorOf([&] { (void)CallMoves::calldata(function, args, testing::kEvmWallet); });
}

class CallMovesTest : public YieldMovesTest {
 protected:
  CallMovesTest() {
    evm.fundToken(base.usdc, kVault, 100'000'000);
    testing::FakeVault{kVault, base.usdc, 102, 100, ~UInt256(0)}.install(evm);
  }
  std::optional<ExecutionResult> call(const std::string& line) {
    auto command = WalletCommand::parse(line);
    EXPECT_TRUE(command) << line;
    return calls.run(PendingAction{*command});
  }
  static constexpr const char* kVault = "0xbeef010f9cb27031ad51e3333f9af9c6b1228183";
  CallMoves calls{services, signer, journal, addresses, &sends};
};

TEST_F(CallMovesTest, ACallApprovesExactlyFirstAndTheRulesStillHold) {
  auto r = call(std::string("call base ") + kVault + " deposit(uint256,address) 5100000 me approving 5.1 USDC");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(evm.token(kVault, signer.evm), UInt256(5'000'000));
  // Base batches: the exact approval and the call are one type-4 transaction.
  ASSERT_EQ(evm.acceptedTransactions().size(), 1u);
  EXPECT_EQ(evm.acceptedTransactions()[0].typeByte(), 0x04);
  EXPECT_EQ(evm.acceptedTransactions()[0].data,
            Batch7702::executeData(
                {{base.usdc, ABI::call("approve(address,uint256)", {ABI::Value::address(kVault), ABI::Value::uint(5'100'000)})},
                 {kVault, CallMoves::calldata("deposit(uint256,address)", {"5100000", "me"}, signer.evm)}}));

  // Shares credited to someone else: the vault rule refuses before the approval and the signer.
  const int signed_ = signer.signatures;
  r = call(std::string("call base ") + kVault + " deposit(uint256,address) 1000000 " +
           "0x2222222222222222222222222222222222222222 approving 1 USDC");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_NE(r->reply.find("The vault would credit 0x2222222222222222222222222222222222222222, not this wallet."),
            std::string::npos) << r->reply;
  EXPECT_EQ(signer.signatures, signed_);

  r = call(std::string("revoke approval of ") + base.usdc + " to " + kVault + " on base");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(evm.allowance(base.usdc, signer.evm, kVault), UInt256(0));

  EXPECT_EQ(errorOfCalldata("f(string)", {"x"}),
            "orwenna encodes static arguments only (address, bool, uint, bytes1–32), not string. Nothing was signed.");
}

}  // namespace
}  // namespace orwenna
