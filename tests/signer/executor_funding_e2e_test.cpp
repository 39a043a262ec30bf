// The executor's other funding routes end to end, through TradeDesk's wiring:
// the real orwenna-signer approving by a scripted pinentry, the fake exchange,
// the stateful fake Solana and EVM ledgers and the fake Relay and 1Click
// services, which credit the exchange only once the origin ledger holds the
// quoted deposit. A trade funded from Base USDC; the same with the gas bought
// from Solana first, and refused when neither network can pay it; a new
// account opened through 1Click (whose Solana deposit the signer service
// refuses, holding no such address, so a test key signs it there).
#include <gtest/gtest.h>

#include <fstream>

#include "app/app_executor.h"
#include "chains/spl.h"
#include "defi/funding_routes.h"
#include "execution/hl_nonces.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_bridges.h"
#include "fakes/fake_hyperliquid.h"
#include "signer/real_signer_fixture.h"
#include "trading/fmt.h"
#include "trading/risk_calc.h"

namespace orwenna {
namespace executor_funding_e2e {
namespace {

namespace sr = signer_request;
using Kind = Journal::Entry::Kind;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
const std::string kBaseUsdc = "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913";
const std::string kUsdcMint(SolanaPrograms::kUsdcMint);

Decimal dec(const char* text) { return Decimal::parse(text); }

class ExecutorFundingE2E : public testing::RealSignerTest {
 protected:
  void SetUp() override {
    RealSignerTest::SetUp();
    std::string script = "PIN correct horse\n";
    for (int i = 0; i < 40; ++i) script += "OK\n";
    std::ofstream(dir.path() / "script") << script;
    SignerReply imported = send(sr::ImportMnemonic{kPhrase, "", false});
    ASSERT_TRUE(imported.ok) << imported.errorText();
    evm = *imported.evmAddress;
    sol = *imported.solanaAddress;

    exchange.addMarket("BTC", 5, dec("60000"));
    exchange.addMarket("ETH", 4, dec("2000"));
    exchange.addMarket("SOL", 2, dec("150"));
    auto credit = [this](const std::string& account, std::uint64_t units) {
      exchange.addAccount(account, exchange.perpUSDC(account) + Decimal(static_cast<std::int64_t>(units)) / Decimal(1'000'000));
    };
    relay.onHyperliquidCredit(credit);
    oneClick.onHyperliquidCredit(credit);
    solana.fund(sol, 50'000'000);

    services.endpoints.hyperliquid = exchange.endpoints();
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.evmNodes["base"] = {base.node.url()};
    services.endpoints.evmNodes["arbitrum"] = {arbitrum.node.url()};
    services.endpoints.evmNodes["ethereum"] = {ethereum.node.url()};
    services.endpoints.relay = relay.url();
    services.endpoints.oneClick = oneClick.url();
    desk = std::make_unique<TradeDesk>(services, TradeDesk::Options{location, paths.dataDir, {}, false, nullptr, {}});
  }

  Executor::Prepared prepare(const char* coin, const Decimal& mid, int szDecimals, int index) {
    TradeIntent intent;
    intent.asset = coin;
    intent.riskUSD = dec("20");
    intent.stopPct = dec("2");
    intent.takePct = dec("4");
    intent.leverage = dec("10");
    Market m;
    m.name = coin;
    m.markPx = mid;
    m.szDecimals = szDecimals;
    m.maxLeverage = 25;
    m.index = index;
    Evaluation ev = RiskCalc::evaluate(intent, &m);
    EXPECT_TRUE(ev.canPlace());
    return desk->executor().prepare(intent, m, *ev.sizing);
  }
  // The kinds journaled on one chain, in order.
  std::vector<std::string> kinds(const std::string& chain) const {
    std::vector<std::string> out;
    for (const auto& e : Journal::inDataFolder(paths.dataDir).entries())
      if (e.chain == chain) out.emplace_back(Journal::kindName(e.kind));
    return out;
  }
  std::uint64_t solanaUsdc() const {
    auto account = solana.token(SPL::associatedTokenAddress(sol, kUsdcMint, SolanaPrograms::kToken));
    return account ? account->amount : 0;
  }
  static bool hasStepStarting(const Executor::Prepared& p, const std::string& start) {
    return std::any_of(p.steps.begin(), p.steps.end(), [&](const std::string& s) { return s.starts_with(start); });
  }

  testing::FixedClock clock;
  testing::FakeHyperliquid exchange{clock};
  testing::FakeSolanaLedger solana;
  testing::FakeEVMLedger base{8453};
  testing::FakeEVMLedger arbitrum{42161};
  testing::FakeEVMLedger ethereum{1};
  testing::FakeNearNode near;
  testing::FakeRelayBridge relay{{&solana, {{8453, &base}}}};
  testing::FakeOneClick oneClick{solana, near};
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  std::unique_ptr<TradeDesk> desk;
  std::string evm, sol;
};

TEST_F(ExecutorFundingE2E, BaseUsdcFundsTradesWithGasBoughtFromSolanaWhenBaseHasNone) {
  exchange.addAccount(evm, dec("5"));
  base.fundToken(kBaseUsdc, evm, UInt256(300'000'000));
  base.fund(evm, UInt256(10'000'000'000'000'000ULL));  // 0.01 ETH
  solana.fundToken(sol, kUsdcMint, 900'000);          // 0.9 USDC: too little to fund, enough for one top-up

  // Relay's quote at Confirm pays someone else: refused before the signer is asked.
  Executor::Prepared first = prepare("ETH", dec("2000"), 4, 1);
  ASSERT_TRUE(first.fundFrom);
  const std::size_t before = prompts();
  relay.redirectTo("0x3333333333333333333333333333333333333333");
  try {
    (void)desk->executor().perform(first);
    ADD_FAILURE() << "a redirected deposit was performed";
  } catch (const ExecutionError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("The price moved past what was approved: ")) << e.what();
    EXPECT_TRUE(std::string(e.what()).ends_with("Nothing was signed.")) << e.what();
  }
  relay.redirectTo(evm);
  EXPECT_EQ(prompts(), before);
  EXPECT_TRUE(Journal::inDataFolder(paths.dataDir).entries().empty());

  // Base holds the USDC and its gas: an exact approval and Relay's deposit, then the trade.
  Executor::Prepared eth = prepare("ETH", dec("2000"), 4, 1);
  ASSERT_TRUE(eth.fundFrom);
  EXPECT_EQ(eth.fundFrom->net->key, "base");
  EXPECT_TRUE(eth.fundFrom->gasTopup.isZero());
  EXPECT_FALSE(eth.bridge || eth.openVia1Click);
  EXPECT_TRUE(hasStepStarting(eth, "Bring " + Fmt::num(eth.fundFrom->usdc, 2) + " USDC from Base over Relay: "));
  Executor::Opened opened = desk->executor().perform(eth);
  EXPECT_TRUE(opened.protectedByStop);
  const UInt256 sent = UInt256(Decimal(eth.fundFrom->usdc * Decimal(1'000'000)).toInt64().value_or(0));
  EXPECT_EQ(base.token(kBaseUsdc, evm), UInt256(300'000'000) - sent);
  EXPECT_EQ(kinds("Base"), (std::vector<std::string>{"signed", "confirmed", "signed", "confirmed"}));
  EXPECT_EQ(kinds("relay"), (std::vector<std::string>{"signed", "settled"}));
  EXPECT_TRUE(Journal::inDataFolder(paths.dataDir).open().empty());

  // No ETH on Base: 0.5 USDC from Solana buys it over Relay first.
  exchange.addAccount(evm, dec("5"));
  base.fund(evm, UInt256(0));
  Executor::Prepared btc = prepare("BTC", dec("60000"), 5, 0);
  ASSERT_TRUE(btc.fundFrom);
  EXPECT_EQ(btc.fundFrom->gasTopup, dec("0.5"));
  EXPECT_TRUE(hasStepStarting(btc, "ETH on Base first: 0.5 USDC from Solana over Relay, the "));
  opened = desk->executor().perform(btc);
  EXPECT_TRUE(opened.protectedByStop);
  EXPECT_GT(base.native(evm), UInt256(0));
  EXPECT_EQ(solanaUsdc(), 400'000u);
  EXPECT_EQ(kinds("solana"), (std::vector<std::string>{"signed", "confirmed"}));
  EXPECT_EQ(kinds("relay"), (std::vector<std::string>{"signed", "settled", "signed", "settled", "signed", "settled"}));
  EXPECT_EQ(exchange.positions(evm).size(), 2u);
  EXPECT_TRUE(Journal::inDataFolder(paths.dataDir).open().empty());

  // Neither Base's gas nor Solana's 0.40 USDC can pay: refused at prepare, the signer never asked.
  exchange.addAccount(evm, dec("5"));
  base.fund(evm, UInt256(0));
  const std::size_t asked = prompts();
  try {
    (void)prepare("SOL", dec("150"), 2, 2);
    ADD_FAILURE() << "a plan without gas was prepared";
  } catch (const ExecutionError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("Base holds the ")) << e.what();
    EXPECT_TRUE(std::string(e.what()).ends_with(
        " for gas, and Solana has too little USDC to bring it. Send a little ETH or USDC to Solana."))
        << e.what();
  }
  EXPECT_EQ(prompts(), asked);
}

// Solana deposits signed in process with a test key, the rest by the real signer.
class SolanaByTestKey final : public TradeSigner {
 public:
  explicit SolanaByTestKey(TradeSigner& rest) : rest_(rest) {}
  testing::ChainTestSigner chain;
  Bytes signSolana(const sr::SignSolana& r) override { return chain.signSolana(r); }
  EVMSignature signHyperliquidL1(const MsgPack& a, std::uint64_t n, bool m) override {
    return rest_.signHyperliquidL1(a, n, m);
  }
  EVMSignature signHyperliquidUser(const MsgPack& a, bool m, const std::vector<std::string>& r) override {
    return rest_.signHyperliquidUser(a, m, r);
  }
  EVMSignature signRelayNonceMapping(const sr::SignRelayNonceMapping& r) override { return rest_.signRelayNonceMapping(r); }
  Bytes signEVMTransaction(const sr::SignEVMTransaction& r) override { return rest_.signEVMTransaction(r); }
  std::string approvalName() const override { return rest_.approvalName(); }
  Bytes signEVMBatch(const sr::SignEVMBatch& r) override { return rest_.signEVMBatch(r); }
  Bytes signNearIntentDeposit(const sr::SignNearIntentDeposit& r) override { return rest_.signNearIntentDeposit(r); }
  Bytes signNearTransfer(const sr::SignNearTransfer& r) override { return rest_.signNearTransfer(r); }
  Bytes signNearDeleteAccount(const sr::SignNearDeleteAccount& r) override { return rest_.signNearDeleteAccount(r); }

 private:
  TradeSigner& rest_;
};

TEST_F(ExecutorFundingE2E, ANewAccountOpensThroughOneClickAndTheSignerServiceRefusesItsDepositAddress) {
  exchange.addAccount(evm, dec("0"));
  solana.fundToken(sol, kUsdcMint, 300'000'000);
  SocketTradeSigner real(location);
  SolanaByTestKey mixed(real);
  solana.fund(mixed.chain.solana, 50'000'000);
  solana.fundToken(mixed.chain.solana, kUsdcMint, 300'000'000);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  HLNonces nonces(clock);
  RelayClient relayClient(CurlHttpClient::shared(), relay.url());
  RelayFunding funding(relayClient);
  OneClick oneClickClient(CurlHttpClient::shared(), oneClick.url(), std::nullopt);
  OneClickOpening opening(oneClickClient);
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, solana.node.url());
  auto executorFor = [&](TradeSigner& signer, const std::string& solanaWallet) {
    auto orders = std::make_unique<HLOrders>(
        HLOrders::Setup{CurlHttpClient::shared(), clock, signer, journal, nonces, exchange.endpoints(), true, evm});
    auto executor = std::make_unique<Executor>(Executor::Setup{{solanaWallet, evm}, *orders, clock, CurlHttpClient::shared(),
                                                               &rpc, &relayClient, {}, &funding, &opening, {}});
    return std::make_pair(std::move(orders), std::move(executor));
  };
  auto [realOrders, realExecutor] = executorFor(real, sol);
  auto prepareOn = [&](Executor& executor) {
    TradeIntent intent;
    intent.asset = "ETH";
    intent.riskUSD = dec("20");
    intent.stopPct = dec("2");
    intent.leverage = dec("10");
    Market m{};
    m.name = "ETH";
    m.markPx = dec("2000");
    m.szDecimals = 4;
    m.maxLeverage = 25;
    m.index = 1;
    return executor.prepare(intent, m, *RiskCalc::evaluate(intent, &m).sizing);
  };

  Executor::Prepared p = prepareOn(*realExecutor);
  ASSERT_TRUE(p.openVia1Click);
  EXPECT_FALSE(p.bridge || p.fundFrom);
  ASSERT_FALSE(p.steps.empty());
  EXPECT_TRUE(p.steps[0].starts_with("NEAR Intents opens your Hyperliquid account: ")) << p.steps[0];
  EXPECT_TRUE(p.steps[0].ends_with(", no opening fee. Usually 2–4 min; the trade waits for it and re-checks the price."))
      << p.steps[0];

  // At Confirm no solver answers: nothing is signed, nothing journaled.
  const std::size_t asked = prompts();
  oneClick.refuseQuotes(true);
  try {
    (void)realExecutor->perform(p);
    ADD_FAILURE() << "performed without a quote";
  } catch (const ExecutionError& e) {
    EXPECT_STREQ(e.what(),
                 "NEAR Intents didn't quote Solana → Hyperliquid just now. Nothing was signed; Relay can open it instead.");
  }
  oneClick.refuseQuotes(false);

  // The signer service pays no Solana address it does not hold: its guard refuses before any prompt.
  try {
    (void)realExecutor->perform(prepareOn(*realExecutor));
    ADD_FAILURE() << "the signer paid a deposit address it does not hold";
  } catch (const ExecutionError& e) {
    EXPECT_TRUE(std::string(e.what()).ends_with("Nothing was signed.")) << e.what();
  }
  EXPECT_EQ(prompts(), asked);
  EXPECT_TRUE(journal.entries().empty());
  EXPECT_EQ(solanaUsdc(), 300'000'000u);

  // A signer that pays it: the deposit goes out, 1Click credits the account, the trade opens.
  auto [mixedOrders, mixedExecutor] = executorFor(mixed, mixed.chain.solana);
  p = prepareOn(*mixedExecutor);
  ASSERT_TRUE(p.openVia1Click);
  Executor::Opened opened = mixedExecutor->perform(p);
  EXPECT_TRUE(opened.protectedByStop);
  const auto spent = static_cast<std::uint64_t>((p.openVia1Click->units * Decimal(1'000'000)).toInt64().value_or(0));
  auto left = solana.token(SPL::associatedTokenAddress(mixed.chain.solana, kUsdcMint, SolanaPrograms::kToken));
  ASSERT_TRUE(left);
  EXPECT_EQ(left->amount, 300'000'000u - spent);
  EXPECT_EQ(relay.quotes(), 0);  // no opening fee paid to Relay
  EXPECT_EQ(kinds("1click"), (std::vector<std::string>{"signed", "settled"}));
  EXPECT_EQ(kinds("solana"), (std::vector<std::string>{"signed", "confirmed"}));
  EXPECT_TRUE(journal.open().empty());
  EXPECT_EQ(exchange.positions(evm).size(), 1u);
}

}  // namespace
}  // namespace executor_funding_e2e
}  // namespace orwenna
