// Bridges end to end: the real orwenna-signer approving through a scripted
// pinentry, the app's BridgeMoves, the fake Relay and 1-Click services and
// the stateful fake Solana, Base and NEAR ledgers and the fake Hyperliquid
// exchange. The services deliver only once the origin holds exactly the
// quoted amount at the deposit.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "app/bridge_moves.h"
#include "base/files.h"
#include "base/http.h"
#include "chains/spl.h"
#include "execution/bridge_recovery.h"
#include "fakes/fake_bridges.h"
#include "signing/hl_action.h"
#include "signing/signer_client.h"
#include "signing/trade_signer.h"
#include "signer/real_signer_fixture.h"
#include "support/test_support.h"

namespace orwenna {
namespace bridges_e2e {
namespace {

namespace sr = signer_request;
using Outcome = ExecutionResult::Outcome;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
const std::string kUsdc(SolanaPrograms::kUsdcMint);
const std::string kBaseUsdc = "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913";

class BridgesE2E : public testing::RealSignerTest {
 protected:
  void SetUp() override {
    RealSignerTest::SetUp();
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.evmNodes["base"] = {base.node.url()};
    services.endpoints.nearRpc = near.node.url();
    services.endpoints.relay = relay.url();
    services.endpoints.oneClick = oneClick.url();
    services.endpoints.hyperliquid = hl.endpoints();
    // The signer asks the bridges themselves before it pays their deposit addresses.
    setenv("ORWENNA_RELAY_API", relay.url().c_str(), 1);
    setenv("ORWENNA_ONECLICK_API", oneClick.url().c_str(), 1);
    std::string script = "PIN correct horse\n";  // the import, then a confirmation per signature
    for (int i = 0; i < 12; ++i) script += "OK\n";
    std::ofstream(dir.path() / "script") << script;
    EXPECT_TRUE(send(sr::ImportMnemonic{kPhrase, "", false}).ok);
    SignerReply status = send(sr::Status{});
    me = WalletAddresses{status.solanaAddress, status.evmAddress, status.nearAddress};
  }
  void TearDown() override {
    RealSignerTest::TearDown();
    unsetenv("ORWENNA_RELAY_API");
    unsetenv("ORWENNA_ONECLICK_API");
  }
  std::uint64_t solanaUsdc(const std::string& owner) {
    auto account = solana.token(SPL::associatedTokenAddress(owner, kUsdc, SolanaPrograms::kToken));
    return account ? account->amount : 0;
  }
  // The kinds journaled for one bridge, in order.
  std::vector<std::string> kinds(const std::string& chain) {
    std::vector<std::string> out;
    for (const auto& e : Journal::inDataFolder(paths.dataDir).entries()) {
      if (e.chain == chain) out.emplace_back(Journal::kindName(e.kind));
    }
    return out;
  }
  std::optional<ExecutionResult> move(BridgeMoves& moves, const std::string& line,
                                      std::optional<BridgeMoves::Card>* shown = nullptr) {
    auto command = WalletCommand::parse(line);
    EXPECT_TRUE(command) << line;
    if (!command) return std::nullopt;
    auto card = moves.card(*command);
    EXPECT_TRUE(card && !card->refusal) << (card ? card->text : line);
    if (shown) *shown = card;
    return moves.bridge(*command, card);
  }

  testing::FixedClock clock;
  testing::FakeSolanaLedger solana;
  testing::FakeEVMLedger base{8453};
  testing::FakeNearNode near;
  testing::FakeHyperliquid hl{clock};
  testing::FakeRelayBridge relay{{&solana, {{8453, &base}}, &hl, &clock}};
  testing::FakeOneClick oneClick{solana, near};
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  WalletAddresses me;
};

TEST_F(BridgesE2E, RelayFromSolanaToBaseAndFromBaseToHyperliquidAndAMovedDestinationSignsNothing) {
  ASSERT_TRUE(me.solana && me.evm);
  solana.fund(*me.solana, 50'000'000);
  solana.fundToken(*me.solana, kUsdc, 20'000'000);
  base.fund(*me.evm, UInt256(10'000'000'000'000'000ULL));  // 0.01 ETH for gas

  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  std::vector<std::string> progress;
  BridgeMoves moves(services, signer, journal, [this] { return me; }, nullptr,
                    [&](const std::string& line) { progress.push_back(line); });

  auto r = move(moves, "move 10 USDC from Solana to Base");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(solanaUsdc(*me.solana), 10'000'000u);
  EXPECT_EQ(base.token(kBaseUsdc, *me.evm), UInt256(9'900'000));
  EXPECT_EQ(kinds("relay"), (std::vector<std::string>{"signed", "settled"}));
  EXPECT_EQ(kinds("solana"), (std::vector<std::string>{"signed", "confirmed"}));
  EXPECT_FALSE(progress.empty());

  // Base → Hyperliquid: an exact approve, then the deposit, each a signed transaction.
  r = move(moves, "move 5 USDC from Base to Hyperliquid");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(base.token(kBaseUsdc, *me.evm), UInt256(4'900'000));
  EXPECT_EQ(relay.hyperliquidCredit(*me.evm), 4'950'000u);
  EXPECT_EQ(kinds("relay"), (std::vector<std::string>{"signed", "settled", "signed", "settled"}));
  EXPECT_EQ(kinds("Base"), (std::vector<std::string>{"signed", "confirmed", "signed", "confirmed"}));

  // The card showed our own recipient; the quote at Confirm pays another.
  const std::size_t asked = prompts();
  const std::size_t lines = journal.entries().size();
  auto command = *WalletCommand::parse("move 5 USDC from Solana to Base");
  auto card = moves.card(command);
  ASSERT_TRUE(card && !card->refusal);
  relay.redirectTo("0x3333333333333333333333333333333333333333");
  r = moves.bridge(command, card);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_TRUE(r->reply.starts_with("The Relay quote doesn't match the card: ")) << r->reply;
  EXPECT_NE(r->reply.find("0x3333333333333333333333333333333333333333"), std::string::npos) << r->reply;
  EXPECT_TRUE(r->reply.ends_with("Nothing was signed.")) << r->reply;
  EXPECT_EQ(prompts(), asked);
  EXPECT_EQ(journal.entries().size(), lines);
  EXPECT_EQ(solanaUsdc(*me.solana), 10'000'000u);
}

TEST_F(BridgesE2E, OutOfHyperliquidOverRelayPaysOnlyTheDepositoryRelayNamesForTheCardsRecipient) {
  ASSERT_TRUE(me.evm);
  hl.addAccount(*me.evm, Decimal(20));
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  BridgeMoves moves(services, signer, journal, [this] { return me; }, nullptr);

  // The nonce mapping goes to Relay, then a sendAsset with its nonce to the depository.
  auto r = move(moves, "move 10 USDC from Hyperliquid to Base");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(hl.perpUSDC(*me.evm), Decimal(10));
  EXPECT_EQ(hl.perpUSDC(testing::FakeRelayBridge::kHyperliquidDepository), Decimal(10));
  EXPECT_EQ(base.token(kBaseUsdc, *me.evm), UInt256(9'900'000));
  EXPECT_EQ(kinds("relay"), (std::vector<std::string>{"signed", "settled"}));
  ASSERT_EQ(hl.accepted().size(), 1u);
  EXPECT_EQ(hl.accepted()[0].type, "sendAsset");

  // Asked directly, the signer pays no destination Relay itself doesn't name.
  std::size_t asked = prompts();
  SignerReply refused = send(sr::SignRelayHyperliquidDeposit{
      HLAction::sendAsset("0x4444444444444444444444444444444444444444", "", "", "USDC:0x6d1e7cde53ba9467b783cb7c530ce054",
                          Decimal(5), "", static_cast<std::uint64_t>(clock.nowMillis()), true),
      true, *me.evm, 8453, kBaseUsdc});
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.errorText().find("0x4444444444444444444444444444444444444444"), std::string::npos)
      << refused.errorText();
  EXPECT_EQ(prompts(), asked);

  // The card showed our own recipient; the quote at Confirm pays another.
  const std::size_t lines = journal.entries().size();
  auto command = *WalletCommand::parse("move 5 USDC from Hyperliquid to Base");
  auto card = moves.card(command);
  ASSERT_TRUE(card && !card->refusal);
  relay.redirectTo("0x3333333333333333333333333333333333333333");
  r = moves.bridge(command, card);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_TRUE(r->reply.starts_with("The Relay quote doesn't match the card: ")) << r->reply;
  EXPECT_TRUE(r->reply.ends_with("Nothing was signed.")) << r->reply;
  EXPECT_EQ(prompts(), asked);
  EXPECT_EQ(journal.entries().size(), lines);
  EXPECT_EQ(hl.perpUSDC(*me.evm), Decimal(10));
  EXPECT_EQ(hl.accepted().size(), 1u);
}

TEST_F(BridgesE2E, TheSignerPaysAOneClickDepositAddressOnlyWhen1ClickShowsItsQuoteForUs) {
  ASSERT_TRUE(me.solana && me.near);
  solana.fund(*me.solana, 50'000'000);
  solana.fundToken(*me.solana, kUsdc, 20'000'000);
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  BridgeMoves moves(services, signer, journal, [this] { return me; }, nullptr);

  auto r = move(moves, "move 8 USDC from Solana to NEAR");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(solanaUsdc(*me.solana), 12'000'000u);
  EXPECT_EQ(oneClick.delivered(*me.near), "2");
  EXPECT_EQ(kinds("1click"), (std::vector<std::string>{"signed", "settled"}));

  // A deposit address 1Click doesn't know: the signer refuses it before any prompt.
  const std::size_t asked = prompts();
  oneClick.forgetDeposits(true);
  r = move(moves, "move 4 USDC from Solana to NEAR");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed) << r->reply;
  EXPECT_NE(r->reply.find("1Click knows no quote with the deposit address"), std::string::npos) << r->reply;
  EXPECT_TRUE(r->reply.ends_with("Nothing was signed.")) << r->reply;
  EXPECT_EQ(prompts(), asked);
  EXPECT_EQ(solanaUsdc(*me.solana), 12'000'000u);
  EXPECT_EQ(kinds("1click"), (std::vector<std::string>{"signed", "settled"}));
}

TEST_F(BridgesE2E, AOneClickQuoteThatRunsOutIsExpiredAndAnOpenOneIsSettledAfterARestart) {
  ASSERT_TRUE(me.near && me.solana);
  near.open(*me.near, NearTransaction::kOneNear * 10);
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  BridgeMoves moves(services, signer, journal, [this] { return me; }, nullptr);

  // The deposit goes out, but 1Click never sees it before its quote runs out.
  oneClick.ignoreDeposits(true);
  oneClick.quotesRunOutAt(clock.nowMillis() + 300'000);
  auto r = move(moves, "sell 2 NEAR");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed) << r->reply;
  EXPECT_TRUE(r->reply.starts_with("1Click's quote ran out before it saw the deposit")) << r->reply;
  EXPECT_EQ(kinds("1click"), (std::vector<std::string>{"signed", "expired"}));
  EXPECT_EQ(kinds("near"), (std::vector<std::string>{"signed", "confirmed"}));

  // The next one arrives but is still being processed when the app stops following it.
  oneClick.ignoreDeposits(false);
  oneClick.holdDeposits(true);
  oneClick.quotesRunOutAt(clock.nowMillis() + 1'800'000);
  r = move(moves, "sell 2 NEAR");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::unknown) << r->reply;
  ASSERT_EQ(journal.pendingBridges(clock.nowMillis(), BridgeRecovery::kWindowSeconds).size(), 1u);
  EXPECT_EQ(solanaUsdc(*me.solana), 0u);

  // After a restart the journal alone leads to it, and 1Click has delivered by then.
  oneClick.holdDeposits(false);
  Journal reopened = Journal::inDataFolder(paths.dataDir);
  HttpBridgeStatus status(CurlHttpClient::shared(), relay.url(), oneClick.url());
  auto recovered = BridgeRecovery::run(reopened, status, clock.nowMillis() + 200'000);
  ASSERT_EQ(recovered.appended.size(), 1u);
  EXPECT_EQ(recovered.appended[0].kind, Journal::Entry::Kind::settled);
  EXPECT_EQ(recovered.appended[0].note, "1Click delivered (seen later)");
  EXPECT_EQ(kinds("1click"), (std::vector<std::string>{"signed", "expired", "signed", "settled"}));
  EXPECT_EQ(solanaUsdc(*me.solana), 8'000'000u);
  EXPECT_TRUE(reopened.pendingBridges(clock.nowMillis() + 200'000, BridgeRecovery::kWindowSeconds).empty());
}

}  // namespace
}  // namespace bridges_e2e
}  // namespace orwenna
