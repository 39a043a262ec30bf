// Buys and sales carried out by SwapMoves over fake Jupiter and the stateful
// fake Solana ledger, and the hand-over of every other step to the sends.
#include <gtest/gtest.h>

#include "app/swap_moves.h"
#include "base/http.h"
#include "chains/spl.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_jupiter.h"
#include "fakes/fake_ledgers.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using SwapOutcome = ExecutionResult::Outcome;

const std::string kSwapUsdc(Jupiter::kUSDC);
const std::string kJup = "JUPyiwrYJFskUPiHa7hkeR8VUtAeFoSYbKedZNsDvCN";
const std::string kSwapPool = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";
const std::string kFriend = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";

class FriendBook final : public AddressBook {
 public:
  std::vector<SavedAddress> entries() const override { return {{"Friend", kFriend, "solana"}}; }
};

class SwapMovesTest : public ::testing::Test {
 protected:
  SwapMovesTest() {
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.jupiter = jupiter.url();
    solana.fund(signer.solana, 50'000'000);
    solana.fundToken(signer.solana, kSwapUsdc, 10'000'000);
    solana.addMint(kJup, 6);
    solana.fundToken(signer.solana, kJup, 0);
    solana.fundToken(kSwapPool, kSwapUsdc, 0);
    solana.fundToken(kSwapPool, kJup, 100'000'000);
  }
  std::optional<ExecutionResult> run(const std::string& line) {
    auto command = WalletCommand::parse(line);
    EXPECT_TRUE(command) << line;
    return swaps.run(PendingAction{*command});
  }
  std::uint64_t tokens(const std::string& owner, const std::string& mint) {
    return solana.token(SPL::associatedTokenAddress(owner, mint, SolanaPrograms::kToken))->amount;
  }

  testing::FixedClock clock;
  testing::TempDir dir;
  testing::FakeSolanaLedger solana;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, solana.node.url());
  testing::FakeJupiter jupiter{rpc};
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  FriendBook book;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  std::function<WalletAddresses()> addresses = [this] { return WalletAddresses{signer.solana, signer.evm, signer.near}; };
  SendMoves sends{services, book, signer, journal, addresses};
  SwapMoves swaps{services, signer, journal, addresses, &sends};
};

TEST_F(SwapMovesTest, ABuyIsSwappedOnJupiterAndASendStillGoesToTheSends) {
  jupiter.addPool({"Whirlpool", kSwapPool, 4'000'000, 3'980'000, 3'990'000});
  auto r = run("buy JUP for 2 USDC");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, SwapOutcome::done) << r->reply;
  EXPECT_TRUE(r->reply.starts_with("Swapped 2 USDC for JUP on Jupiter. Transaction: ")) << r->reply;
  EXPECT_EQ(tokens(signer.solana, kJup), 3'990'000u);
  EXPECT_EQ(tokens(signer.solana, kSwapUsdc), 8'000'000u);

  r = run("send 1 USDC to Friend");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, SwapOutcome::done) << r->reply;
  EXPECT_EQ(tokens(kFriend, kSwapUsdc), 1'000'000u);
}

TEST_F(SwapMovesTest, ACardIsQuotedAndNothingToSellSignsNothing) {
  jupiter.addPool({"Whirlpool", kSwapPool, 4'000'000, 3'980'000, 3'990'000});
  auto card = swaps.card(*WalletCommand::parse("buy JUP for 2 USDC"));
  ASSERT_TRUE(card);
  EXPECT_EQ(card->text, "Swap 2 USDC for about 4 JUP (at least 3.98) through Whirlpool on Jupiter.");
  EXPECT_EQ(card->minOut, Decimal::parse("3.98"));

  auto r = run("sell all JUP");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, SwapOutcome::failed);
  EXPECT_EQ(r->reply, "There is no JUP to swap. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
}

}  // namespace
}  // namespace orwenna
