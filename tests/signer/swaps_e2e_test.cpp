// Swaps end to end: the real orwenna-signer approving through a scripted
// pinentry, the app's SwapMoves, fake Jupiter and the stateful fake Solana
// ledger. A buy lands; a Confirm whose new quote promises less than the card
// signs nothing and the signer is never asked.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "app/swap_moves.h"
#include "base/files.h"
#include "base/http.h"
#include "chains/spl.h"
#include "fakes/fake_jupiter.h"
#include "fakes/fake_ledgers.h"
#include "signing/signer_client.h"
#include "signing/trade_signer.h"
#include "signer/real_signer_fixture.h"
#include "support/test_support.h"

namespace orwenna {
namespace swaps_e2e {
namespace {

namespace sr = signer_request;
using Outcome = ExecutionResult::Outcome;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
const std::string kUsdc(Jupiter::kUSDC);
const std::string kJup = "JUPyiwrYJFskUPiHa7hkeR8VUtAeFoSYbKedZNsDvCN";
const std::string kPool = "7xKXtg2CW87d97TXJSDpbD5jBkheTqA83TZRuJosgAsU";  // not the test phrase's wallet

class SwapsE2E : public testing::RealSignerTest {
 protected:
  void SetUp() override {
    RealSignerTest::SetUp();
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.jupiter = jupiter.url();
  }

  testing::FixedClock clock;
  testing::FakeSolanaLedger solana;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, solana.node.url());
  testing::FakeJupiter jupiter{rpc};
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
};

TEST_F(SwapsE2E, ASwapThroughTheRealSignerAndAMovedPriceSignsNothing) {
  std::ofstream(dir.path() / "script") << "PIN correct horse\nOK\nOK\n";  // import, then one signature
  ASSERT_TRUE(send(sr::ImportMnemonic{kPhrase, "", false}).ok);
  SignerReply status = send(sr::Status{});
  ASSERT_TRUE(status.solanaAddress);
  const std::string me = *status.solanaAddress;
  solana.fund(me, 50'000'000);
  solana.fundToken(me, kUsdc, 10'000'000);
  solana.addMint(kJup, 6);
  solana.fundToken(me, kJup, 0);
  solana.fundToken(kPool, kUsdc, 0);
  solana.fundToken(kPool, kJup, 100'000'000);

  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  const WalletAddresses addresses{me, status.evmAddress, status.nearAddress};
  SwapMoves swaps(services, signer, journal, [addresses] { return addresses; }, nullptr);
  const WalletCommand buy = *WalletCommand::parse("buy JUP for 2 USDC");

  jupiter.addPool({"Whirlpool", kPool, 4'000'000, 3'980'000, 3'990'000});
  auto card = swaps.card(buy);
  ASSERT_TRUE(card && !card->refusal);
  auto r = swaps.swap(buy, card);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(solana.token(SPL::associatedTokenAddress(me, kJup, SolanaPrograms::kToken))->amount, 3'990'000u);

  // The card promised at least 3.98 JUP; at Confirm the route gives less.
  const std::size_t asked = prompts();
  SwapMoves::Card stale = *card;
  testing::FakeJupiter moved{rpc};
  moved.addPool({"Meteora", kPool, 3'900'000, 3'880'000, 3'890'000});
  services.endpoints.jupiter = moved.url();
  r = swaps.swap(buy, stale);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_EQ(r->reply,
            "The price moved past what was approved: at least 3.88 JUP would arrive, 3.98 was approved. "
            "Nothing was signed.");
  EXPECT_EQ(prompts(), asked);
  EXPECT_EQ(solana.token(SPL::associatedTokenAddress(me, kJup, SolanaPrograms::kToken))->amount, 3'990'000u);
  EXPECT_EQ(journal.entries().size(), 2u);
}

}  // namespace
}  // namespace swaps_e2e
}  // namespace orwenna
