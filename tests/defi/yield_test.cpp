// The lending places end to end against fake EVM nodes that execute the
// pool's and the vault's calldata and answer eth_call from the same state,
// and a fake Jupiter Lend API: what lands, and what is refused before the
// signer is asked.
#include <gtest/gtest.h>

#include "base/http.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "defi/aave.h"
#include "defi/morpho.h"
#include "defi/solana_lend.h"
#include "execution/execution_error.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_yield.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::ChainTestSigner;
using testing::errorOf;
using testing::FixedClock;
using testing::TempDir;

const std::string kAToken = "0xaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kDebtToken = "0xdddddddddddddddddddddddddddddddddddddddd";
const std::string kVault = "0xbeef010f9cb27031ad51e3333f9af9c6b1228183";
const std::string kSolStranger = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";
const UInt256 kGas = UInt256(10'000'000'000'000'000ULL);

class YieldPlaces : public ::testing::Test {
 protected:
  FixedClock clock;
  TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  ChainTestSigner signer;
  const EVMNetwork& base = *EVMNetwork::byKey("base");
  testing::FakeEVMLedger ledger{base.chainId};
  EVMRPC rpc{CurlHttpClient::shared(), clock, ledger.node.url(), base.chainId};
  EVMNonces nonces;
  EVMSender sender{base, rpc, signer, journal, clock, nonces};
  const std::string pool = AaveMarket::on("base")->pool;

  testing::FakeAavePool aave() const {
    testing::FakeAavePool p;
    p.pool = pool;
    p.asset = base.usdc;
    p.aToken = kAToken;
    p.debtToken = kDebtToken;
    p.liquidityRateRay = *parseUInt256("50000000000000000000000000");  // 5% a year
    return p;
  }
  // Each step as the app carries it out: its Envelope from the card, then
  // the approval when the allowance is short, then the call.
  std::vector<EVMCallOutcome> carry(YieldMove move, const std::string& maxInput) {
    std::vector<EVMCallOutcome> out;
    for (auto& step : move.evm) {
      step.call.envelope = Envelope{Decimal::parse(maxInput), Decimal(0), std::nullopt, clock.nowMillis() + 60'000};
      out.push_back(sendAfterApproval(sender, rpc, step.call, step.approval));
    }
    return out;
  }
};

TEST_F(YieldPlaces, AaveSupplyApprovesExactlyThenCreditsTheWallet) {
  ledger.fund(signer.evm, kGas);
  ledger.fundToken(base.usdc, signer.evm, 30'000'000);
  aave().install(ledger);
  Aave place(rpc, base);
  EXPECT_EQ(*place.rate(), Decimal::parse("5.13"));

  auto outcomes = carry(place.deposit(signer.evm, Decimal::parse("12.5")), "12.5");
  ASSERT_EQ(outcomes.size(), 1u);
  ASSERT_TRUE(outcomes[0].approval && outcomes[0].call);
  EXPECT_EQ(outcomes[0].call->kind, ChainSendOutcome::Kind::confirmed);
  // Nonces n, n + 1: approve(Pool, exactly 12.5 USDC), then supply to the wallet itself.
  auto txs = ledger.acceptedTransactions();
  ASSERT_EQ(txs.size(), 2u);
  EXPECT_EQ(txs[0].nonce, UInt256(0));
  EXPECT_EQ(txs[1].nonce, UInt256(1));
  EXPECT_TRUE(EVMCall::sameAddress(txs[0].to, base.usdc));
  EXPECT_EQ(txs[0].data, ABI::call("approve(address,uint256)", {ABI::Value::address(pool), ABI::Value::uint(12'500'000)}));
  EXPECT_TRUE(EVMCall::sameAddress(txs[1].to, pool));
  EXPECT_EQ(txs[1].data, ABI::call("supply(address,uint256,address,uint16)",
                                   {ABI::Value::address(base.usdc), ABI::Value::uint(12'500'000),
                                    ABI::Value::address(signer.evm), ABI::Value::uint(0)}));
  EXPECT_EQ(ledger.token(kAToken, signer.evm), UInt256(12'500'000));
  EXPECT_EQ(place.position(signer.evm), Decimal::parse("12.5"));

  // The allowance is spent: the next supply approves again; withdrawing all asks for 2^256 − 1.
  carry(place.withdraw(signer.evm, std::nullopt), "0");
  EXPECT_EQ(ledger.token(base.usdc, signer.evm), UInt256(30'000'000));
  EXPECT_EQ(ledger.token(kAToken, signer.evm), UInt256(0));
}

TEST_F(YieldPlaces, AnAllowanceThatCoversTheCallIsNotApprovedAgain) {
  ledger.fund(signer.evm, kGas);
  ledger.fundToken(base.usdc, signer.evm, 30'000'000);
  aave().install(ledger);
  Aave place(rpc, base);
  auto first = carry(place.deposit(signer.evm, Decimal(5)), "5");
  EXPECT_FALSE(first[0].approvalSkipped);
  // An allowance left above the next amount (set directly, as another app might have).
  EVMMove approve;
  approve.wallet = signer.evm;
  approve.to = base.usdc;
  approve.data = ABI::call("approve(address,uint256)", {ABI::Value::address(pool), ABI::Value::uint(9'000'000)});
  approve.envelope = Envelope{Decimal(0), Decimal(0), std::nullopt, clock.nowMillis() + 60'000};
  ASSERT_EQ(sender.send(approve).kind, ChainSendOutcome::Kind::confirmed);
  auto second = carry(place.deposit(signer.evm, Decimal(8)), "8");
  EXPECT_TRUE(second[0].approvalSkipped);
  EXPECT_FALSE(second[0].approval);
  EXPECT_EQ(ledger.acceptedTransactions().size(), 4u);
  EXPECT_EQ(ledger.token(kAToken, signer.evm), UInt256(13'000'000));
}

TEST_F(YieldPlaces, ABorrowBelowTheHealthFloorIsRefusedBeforeTheSigner) {
  ledger.fund(signer.evm, kGas);
  ledger.fundToken(base.usdc, pool, 1'000'000'000);
  auto p = aave();
  // $1000 of collateral at an 80% threshold, $500 owed: 200 more takes the factor to 800/700 = 1.1428.
  p.collateralBase = UInt256(1000) * 100'000'000;
  p.debtBase = UInt256(500) * 100'000'000;
  p.availableBase = UInt256(250) * 100'000'000;
  p.install(ledger);
  Aave place(rpc, base);
  EXPECT_EQ(errorOf([&] { (void)place.borrow(signer.evm, Decimal(200)); }),
            "Borrowing 200 USDC would take the health factor on Aave to 1.1428, below orwenna's floor of 1.2: a "
            "small price move could liquidate the collateral. Nothing was signed.");
  EXPECT_EQ(errorOf([&] { (void)place.borrow(signer.evm, Decimal(300)); }),
            "Aave lends this wallet at most 250 USD on Base, less than 300 USDC. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);

  // 100 keeps it at 800/600 = 1.3333 and lands: the debt is the wallet's own.
  carry(place.borrow(signer.evm, Decimal(100)), "0");
  EXPECT_EQ(ledger.token(base.usdc, signer.evm), UInt256(100'000'000));
  EXPECT_EQ(place.debt(signer.evm), Decimal(100));
  // Repaying all approves the debt with 0.1% to spare and burns every unit of it.
  auto repaid = carry(place.repay(signer.evm, std::nullopt), "100.100001");
  ASSERT_TRUE(repaid[0].approval);
  EXPECT_EQ(ledger.acceptedTransactions()[1].data,
            ABI::call("approve(address,uint256)", {ABI::Value::address(pool), ABI::Value::uint(100'100'001)}));
  EXPECT_EQ(ledger.token(kDebtToken, signer.evm), UInt256(0));
}

TEST_F(YieldPlaces, MorphoWithdrawAllRedeemsEveryShare) {
  ledger.fund(signer.evm, kGas);
  ledger.fundToken(base.usdc, signer.evm, 51'000'000);
  ledger.fundToken(base.usdc, kVault, 1'000'000'000);
  testing::FakeVault{kVault, base.usdc, 102, 100, ~UInt256(0)}.install(ledger);
  Morpho vault(rpc, base);
  EXPECT_EQ(vault.vault(), kVault);
  auto deposit = vault.deposit(signer.evm, Decimal(51));
  EXPECT_EQ(deposit.evm.at(0).approval->note, "Approve exactly 51 USDC to Morpho on Base");
  carry(std::move(deposit), "51");
  EXPECT_EQ(ledger.token(kVault, signer.evm), UInt256(50'000'000));  // shares at 1.02
  EXPECT_EQ(vault.position(signer.evm), Decimal(51));

  carry(vault.withdraw(signer.evm, std::nullopt), "0");
  EXPECT_EQ(ledger.acceptedTransactions().back().data,
            ABI::call("redeem(uint256,address,address)", {ABI::Value::uint(50'000'000), ABI::Value::address(signer.evm),
                                                           ABI::Value::address(signer.evm)}));
  EXPECT_EQ(ledger.token(kVault, signer.evm), UInt256(0));
  EXPECT_EQ(ledger.token(base.usdc, signer.evm), UInt256(51'000'000));
}

TEST_F(YieldPlaces, AVaultOfAnotherAssetOrShortOfLiquidityIsRefused) {
  ledger.fund(signer.evm, kGas);
  const std::string weth = "0x4200000000000000000000000000000000000006";
  testing::FakeVault{kVault, weth, 102, 100, ~UInt256(0)}.install(ledger);
  Morpho vault(rpc, base);
  EXPECT_EQ(errorOf([&] { (void)vault.deposit(signer.evm, Decimal(10)); }),
            "The Morpho vault " + kVault + " on Base holds " + weth + ", not USDC. Nothing was signed.");

  ledger.fundToken(kVault, signer.evm, 50'000'000);
  testing::FakeVault{kVault, base.usdc, 102, 100, 20'000'000}.install(ledger);
  EXPECT_EQ(errorOf([&] { (void)vault.withdraw(signer.evm, Decimal(30)); }),
            "Morpho on Base can pay out 20 USDC of this wallet's now, less than 30. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_EQ(errorOf([&] { (void)Morpho(rpc, *EVMNetwork::byKey("polygon")); }),
            "orwenna has no curated Morpho vault on Polygon. Nothing was signed.");
}

TEST_F(YieldPlaces, ALendTransactionPayingAStrangerIsRefusedByTheGuard) {
  testing::FakeSolanaLedger solana;
  SolanaRPC srpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, solana.node.url());
  solana.fund(signer.solana, 1'000'000'000);
  solana.fundToken(signer.solana, std::string(SolanaPrograms::kUsdcMint), 5'000'000);
  testing::FakeJupiterLend api(srpc);
  api.tokens = Json::parse(R"([{"address":"9BEcn9aPEmhSPbPQeFGjidRiEKki46fVQDyPpSQXPA2D",
      "assetAddress":"EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v","totalRate":"612"}])");
  api.payTo = kSolStranger;
  JupiterLend lend(CurlHttpClient::shared(), api.url(), "usdc");
  EXPECT_EQ(*lend.rate(), Decimal::parse("6.12"));

  YieldMove move = lend.deposit(signer.solana, Decimal(2));
  Json asked;
  for (const auto& r : api.requests())
    if (r.method == "POST") asked = Json::parse(r.body);
  EXPECT_EQ(asked, Json::parse(R"({"asset":"EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v","signer":")" +
                               signer.solana + R"(","amount":"2000000"})"));
  move.solana->envelope = Envelope{Decimal(2), Decimal(0), std::nullopt, clock.nowMillis() + 60'000};
  SolanaSender solanaSender(srpc, signer, journal, clock);
  std::string error = errorOf([&] { solanaSender.send(*move.solana); });
  EXPECT_EQ(error.rfind("Tokens go to someone else's account ", 0), 0u) << error;
  EXPECT_TRUE(error.ends_with("Nothing was signed.")) << error;
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(journal.entries().empty());
}

TEST(AaveMath, RatesAndHealth) {
  // 0 and 3.5% a year in ray; daily compounding.
  EXPECT_EQ(Aave::apyPercent(0), Decimal(0));
  EXPECT_EQ(Aave::apyPercent(*parseUInt256("35000000000000000000000000")), Decimal::parse("3.56"));
  Aave::Account a{UInt256(2000), UInt256(0), UInt256(0), UInt256(8250), UInt256(0)};
  EXPECT_FALSE(Aave::healthAfter(a, 0));
  EXPECT_EQ(*Aave::healthAfter(a, 1000), Decimal::parse("1.65"));
  EXPECT_EQ(AaveMarket::on("bnb"), nullptr);
  EXPECT_FALSE(AaveMarket::on("polygon")->weth);
}

}  // namespace
}  // namespace orwenna
