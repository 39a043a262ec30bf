// The wallet commands that send, carried out by SendMoves over the stateful
// fake Solana, EVM and NEAR nodes: saved recipients only, each chain's
// pipeline, and the chat's sentences.
#include <gtest/gtest.h>

#include "app/send_moves.h"
#include "base/http.h"
#include "chains/spl.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_near_node.h"
#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using Outcome = ExecutionResult::Outcome;

const std::string kMomSolana = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
const std::string kMomEvm = "0x2222222222222222222222222222222222222222";
const std::string kUsdc(SolanaPrograms::kUsdcMint);

class Book final : public AddressBook {
 public:
  std::vector<SavedAddress> entries() const override {
    return {{"Mom", kMomSolana, "solana"}, {"Mom", kMomEvm, "base"}, {"Mom", "mom.near", "near"}};
  }
};

class SendMovesTest : public ::testing::Test {
 protected:
  SendMovesTest() {
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.evmNodes["base"] = {evm.node.url()};
    services.endpoints.nearRpc = near.node.url();
  }
  std::optional<ExecutionResult> run(const std::string& line) {
    auto command = WalletCommand::parse(line);
    EXPECT_TRUE(command) << line;
    return moves.run(PendingAction{*command});
  }

  testing::FixedClock clock;
  testing::TempDir dir;
  testing::FakeSolanaLedger solana;
  testing::FakeEVMLedger evm{8453};
  testing::FakeNearNode near;
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  Book book;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  SendMoves moves{services, book, signer, journal,
                  [this] { return WalletAddresses{signer.solana, signer.evm, signer.near}; }};
};

TEST_F(SendMovesTest, UsdcToASavedNameOnSolanaAndOnBase) {
  solana.fund(signer.solana, 50'000'000);
  solana.fundToken(signer.solana, kUsdc, 10'000'000);
  auto r = run("send 2.5 USDC to Mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(r->reply.rfind("Sent 2.5 USDC to Mom on Solana. Transaction: ", 0), 0u) << r->reply;
  EXPECT_EQ(solana.token(SPL::associatedTokenAddress(kMomSolana, kUsdc, SolanaPrograms::kToken))->amount, 2'500'000u);

  const auto& base = *EVMNetwork::byKey("base");
  evm.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
  evm.fundToken(base.usdc, signer.evm, 5'000'000);
  r = run("send 1.25 USDC to Mom on base");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(evm.token(base.usdc, kMomEvm), UInt256(1'250'000));
  EXPECT_EQ(journal.entries().size(), 4u);
  EXPECT_TRUE(journal.open().empty());

  // "all" is the balance read just before: 7.5 USDC left on Solana, 3.75 on Base.
  r = run("send all USDC to Mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(r->reply.rfind("Sent 7.5 USDC to Mom on Solana.", 0), 0u) << r->reply;
  EXPECT_EQ(solana.token(SPL::associatedTokenAddress(kMomSolana, kUsdc, SolanaPrograms::kToken))->amount, 10'000'000u);
  r = run("send all USDC on base to Mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(evm.token(base.usdc, kMomEvm), UInt256(5'000'000));
  const int signatures = signer.signatures;
  r = run("send all USDC on base to Mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_EQ(r->reply, "The wallet holds no USDC to send on Base. Nothing was signed.");
  EXPECT_EQ(signer.signatures, signatures);
}

TEST_F(SendMovesTest, AnUnsavedRecipientIsRefusedBeforeAnythingIsBuilt) {
  solana.fund(signer.solana, 50'000'000);
  auto r = run("send 1 SOL to " + std::string("HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::failed);
  EXPECT_EQ(r->reply, "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk isn't a saved address on Solana: save it in the "
                      "address book first, then send. Nothing was signed.");
  EXPECT_EQ(signer.signatures, 0);
  EXPECT_TRUE(solana.node.requests().empty());
}

TEST_F(SendMovesTest, SolAndNearToSavedNamesAndOtherCommandsPass) {
  solana.fund(signer.solana, 2'000'000'000);
  auto r = run("send 0.5 SOL to mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(solana.lamports(kMomSolana), 500'000'000u);

  near.open(signer.near, NearTransaction::kOneNear * 3);
  near.open("mom.near", 0);
  r = run("send 1 NEAR to Mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(near.account("mom.near")->amount, NearTransaction::kOneNear);

  EXPECT_FALSE(moves.run(PendingAction{*WalletCommand::parse("buy 10 USDC of SOL")}));
}


// A token named by ticker on an EVM network: a curated contract, or the one
// DexScreener's pools on that network know by it; namesakes are listed, and
// the card shows the decimals and symbol the contract itself answers.
TEST_F(SendMovesTest, AnEvmTokenByTickerIsResolvedOrItsNamesakesListed) {
  const std::string aero = "0x940181a94a35a4569e4529a3cdfb74e38fd98631";
  const std::string weth = "0x4200000000000000000000000000000000000006";
  testing::FakeServer dex;
  auto pair = [](const std::string& chain, const std::string& address, const std::string& symbol, int usd) {
    return Json{{"chainId", chain}, {"pairAddress", "0xpool"}, {"liquidity", {{"usd", usd}}},
                {"baseToken", {{"address", address}, {"name", symbol + " token"}, {"symbol", symbol}}}};
  };
  dex.on("GET", "/latest/dex/search", [&](const testing::RecordedRequest& r) {
    Json pairs = Json::array();
    if (r.query == "q=AERO") {
      pairs = {pair("base", aero, "AERO", 5000000), pair("ethereum", "0x" + std::string(40, 'e'), "AERO", 100)};
    } else if (r.query == "q=PEPE") {
      pairs = {pair("base", "0x" + std::string(40, 'a'), "PEPE", 300000), pair("base", "0x" + std::string(40, 'b'), "pepe", 20)};
    }
    return testing::FakeResponse::json(Json{{"pairs", pairs}}.dump());
  });
  services.endpoints.dexScreener = dex.url();
  evm.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
  evm.describe(aero, 18, "AERO");
  evm.describe(weth, 18, "WETH");
  const UInt256 one = UInt256(1'000'000'000'000'000'000ULL);
  evm.fundToken(aero, signer.evm, one * 5);
  evm.fundToken(weth, signer.evm, one);

  auto card = moves.cardOnChain(*WalletCommand::parse("send 2 AERO on base to Mom"));
  ASSERT_TRUE(card && !card->refusal) << (card && card->refusal ? *card->refusal : "");
  EXPECT_EQ(card->lines, (std::vector<std::string>{"Token: AERO " + aero + ", 18 decimals, as its contract says "
                                                   "(the only one of that ticker in DexScreener's pools)"}));
  auto r = run("send 2 AERO on base to Mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(evm.token(aero, kMomEvm), one * 2);
  r = run("send 0.5 WETH on base to Mom");  // curated: DexScreener isn't asked
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_EQ(evm.token(weth, kMomEvm), one / 2);

  const int signatures = signer.signatures;
  r = run("send 1 PEPE on base to Mom");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reply, "2 tokens on Base are called «PEPE»; name the one to send by its 0x contract address:\n"
                      "- PEPE (PEPE token) 0x" + std::string(40, 'a') + ", liquidity $300,000.00\n"
                      "- pepe (pepe token) 0x" + std::string(40, 'b') + ", liquidity $20.00. Nothing was signed.");
  EXPECT_EQ(run("send 1 DOGE on base to Mom")->reply,
            "orwenna finds no token «DOGE» on Base: name it by its 0x contract address. Nothing was signed.");
  EXPECT_EQ(signer.signatures, signatures);
  EXPECT_EQ(dex.requestCount(), 4u);  // AERO twice (card, Confirm), PEPE, DOGE
}

}  // namespace
}  // namespace orwenna
