// End to end: confirmed trades through the real orwenna-signer (approving by
// a scripted pinentry) to the fake exchange, the fake Relay and a fake Solana
// node. A trade funded from withdrawable opens with its stop; a price that
// moved 1.2% stops before the signer is asked anything; a trade funded
// through Relay has its Solana deposit signed by the signer service and is
// opened once the credit shows; the journal tells each story.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <thread>

#include "chains/solana_fake_node.h"
#include "defi/relay.h"
#include "execution/executor.h"
#include "execution/hl_nonces.h"
#include "fakes/fake_hyperliquid.h"
#include "fakes/fake_relay.h"
#include "signing/base58.h"
#include "signing/signer_client.h"
#include "signing/trade_signer.h"
#include "support/test_support.h"

namespace orwenna::executor_e2e {
namespace {

using testing::FakeSolanaNode;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
constexpr const char* kAccount = "0x9858EfFD232B4033E47d90003D41EC34EcaEda94";
constexpr const char* kSolana = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";

Decimal dec(const char* text) { return Decimal::parse(text); }

class ExecutorE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ORWENNA_HOME", (dir.path() / "home").c_str(), 1);
    setenv("ORWENNA_TEST", "1", 1);
    setenv("ORWENNA_PINENTRY", ORWENNA_FAKE_PINENTRY, 1);
    setenv("FAKE_PINENTRY_SCRIPT", (dir.path() / "script").c_str(), 1);
    setenv("ORWENNA_SIGNER_SCRYPT_LOG2N", "10", 1);
    paths = AppPaths::fromEnvironment();
    location = SignerLocation{paths.runtimeDir / SignerLocation::kSocketName, ORWENNA_SIGNER_PROGRAM};

    exchange.addMarket("BTC", 5, dec("60000"));
    exchange.addMarket("ETH", 4, dec("2000"));
    exchange.addAccount(kAccount, dec("1000"));
    node.result("getTokenAccountsByOwner",
                Json{{"value", Json::array({Json{{"pubkey", "TokenAcc1111111111111111111111111111111111"},
                                                 {"account",
                                                  {{"data",
                                                    {{"parsed",
                                                      {{"info",
                                                        {{"mint", SolanaPrograms::kUsdcMint},
                                                         {"owner", kSolana},
                                                         {"tokenAmount", {{"amount", "500000000"}, {"decimals", 6}}}}}}}}}}}}})}});
    node.result("getLatestBlockhash", Json{{"value", {{"blockhash", "EkSnNWid2cvwEVnVx9aBqawnmiCNiDgp3gUdkDPTKN1N"},
                                                      {"lastValidBlockHeight", 100}}}});
    node.result("simulateTransaction", Json{{"value", {{"err", nullptr}, {"logs", Json::array()}}}});
    node.result("getSignatureStatuses",
                Json{{"value", Json::array({Json{{"err", nullptr}, {"confirmationStatus", "confirmed"}}})}});
    node.result("getBlockHeight", Json(50));
    node.on("sendTransaction", [this](const Json& params) {
      auto parsed = SolanaTransaction::parse(*fromBase64(params[0].get<std::string>()));
      // Relay fills: 99.5% of what its quote promised shows on Hyperliquid.
      Decimal promised(0);
      for (const auto& r : relayServer.server().requests())
        if (r.path == "/quote/v2")
          promised = Decimal::parse((*parseJson(r.body))["amount"].get<std::string>()) / Decimal(1'000'000) * dec("0.99");
      exchange.addAccount(kAccount, exchange.perpUSDC(kAccount) + (promised * dec("0.995")).rounded(6));
      return FakeSolanaNode::ok(Base58::encode(parsed.signatures[0]));
    });
  }

  void TearDown() override {
    if (auto pid = readFile(paths.runtimeDir / "signer.lock"); pid && !pid->empty()) {
      ::kill(static_cast<pid_t>(std::stol(*pid)), SIGTERM);
      for (int i = 0; i < 200 && std::filesystem::exists(location.socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    for (const char* name : {"ORWENNA_HOME", "ORWENNA_PINENTRY", "FAKE_PINENTRY_SCRIPT", "ORWENNA_SIGNER_SCRYPT_LOG2N"})
      unsetenv(name);
  }

  std::size_t prompts() const {
    std::string log = readFile(dir.path() / "script.log").value_or("");
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
  }

  Executor::Prepared prepare(Executor& executor, const char* coin, const Decimal& mid, int szDecimals, int index) {
    TradeIntent intent;
    intent.asset = coin;
    intent.riskUSD = dec("20");
    intent.stopPct = dec("2");
    intent.takePct = dec("4");
    intent.leverage = dec("5");
    Market m;
    m.name = coin;
    m.markPx = mid;
    m.szDecimals = szDecimals;
    m.maxLeverage = 25;
    m.index = index;
    Evaluation ev = RiskCalc::evaluate(intent, &m);
    EXPECT_TRUE(ev.canPlace());
    return executor.prepare(intent, m, *ev.sizing);
  }

  testing::TempDir dir;
  AppPaths paths;
  SignerLocation location;
  testing::FixedClock clock;
  testing::FakeHyperliquid exchange{clock};
  testing::FakeRelay relayServer;
  FakeSolanaNode node;
};

TEST_F(ExecutorE2ETest, TradesSignedByTheRealSigner) {
  {
    std::ofstream script(dir.path() / "script");
    script << "PIN correct horse\n";
    for (int i = 0; i < 20; ++i) script << "OK\n";
  }
  SignerReply imported = SignerClient(location).send(signer_request::ImportMnemonic{kPhrase, "", false});
  ASSERT_TRUE(imported.ok) << imported.errorText();
  ASSERT_EQ(imported.evmAddress, kAccount);
  ASSERT_EQ(imported.solanaAddress, kSolana);

  SocketTradeSigner signer(location);
  Journal journal(dir.path() / "journal.jsonl");
  HLNonces nonces(clock);
  HLOrders orders({CurlHttpClient::shared(), clock, signer, journal, nonces, exchange.endpoints(), true, kAccount});
  SolanaRPC solana = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, node.url());
  RelayClient relay(CurlHttpClient::shared(), relayServer.url());
  Executor executor({{kSolana, kAccount}, orders, clock, CurlHttpClient::shared(), &solana, &relay, {}});

  // Funded from withdrawable.
  Executor::Opened eth = executor.perform(prepare(executor, "ETH", dec("2000"), 4, 1));
  EXPECT_TRUE(eth.protectedByStop);
  for (const auto& a : exchange.accepted()) EXPECT_EQ(a.signer, kAccount);
  EXPECT_TRUE(journal.open().empty());

  // The price ran 1.2% after the card: the signer is never asked.
  Executor::Prepared btc = prepare(executor, "BTC", dec("60000"), 5, 0);
  const std::size_t promptsBefore = prompts();
  const std::size_t actionsBefore = exchange.actions().size();
  exchange.setMid("BTC", dec("60720"));
  try {
    executor.perform(btc);
    ADD_FAILURE() << "performed";
  } catch (const ExecutionError& e) {
    EXPECT_STREQ(e.what(), "BTC moved more than 1% since you confirmed. Nothing was signed.");
  }
  EXPECT_EQ(prompts(), promptsBefore);
  EXPECT_EQ(exchange.actions().size(), actionsBefore);

  // Funded through Relay: the Solana deposit goes through the signer's own guard and prompt.
  exchange.setMid("BTC", dec("60000"));
  exchange.addAccount(kAccount, dec("30"));
  Executor::Prepared bridged = prepare(executor, "BTC", dec("60000"), 5, 0);
  ASSERT_TRUE(bridged.bridge);
  Executor::Opened opened = executor.perform(bridged);
  EXPECT_TRUE(opened.protectedByStop);
  EXPECT_NE(readFile(dir.path() / "script.log").value_or("").find("Solana"), std::string::npos);
  std::vector<std::string> relayKinds;
  for (const auto& e : journal.entries())
    if (e.chain == "relay") relayKinds.emplace_back(Journal::kindName(e.kind));
  EXPECT_EQ(relayKinds, (std::vector<std::string>{"signed", "settled"}));
  EXPECT_TRUE(journal.open().empty());
  EXPECT_EQ(exchange.positions(kAccount).size(), 2u);
}

}  // namespace
}  // namespace orwenna::executor_e2e
