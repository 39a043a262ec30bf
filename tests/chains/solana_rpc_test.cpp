// The Solana node client against a local fake node speaking JSON-RPC: request
// bodies, retries and node fallback, sending, confirmation, simulation
// readings, lookup tables and the node check.
#include "chains/solana_rpc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "chains/rpc_retry.h"
#include "chains/solana_fake_node.h"
#include "chains/solana_transaction.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FixedClock;
using testing::FakeResponse;
using testing::FakeSolanaNode;
using testing::kSolanaWallet;

const std::string kMint = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";

struct Signed {
  Bytes transaction;
  std::string signature;
};
// A fake node and a client pinned to it.
class PinnedNode : public ::testing::Test {
 protected:
  FakeSolanaNode node;
  FixedClock clock;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, node.url());
};

Signed signedTransfer() {
  Bytes secret(32, 3);
  std::string wallet = SolanaAccount::address(secret);
  auto built = SolanaTransaction::build({SolanaTransaction::solTransfer(wallet, kSolanaWallet, 10)}, wallet, kMint, 5);
  auto sig = Ed25519::sign(secret, built.message);
  return {SolanaTransaction::attach(built.transaction, sig), Base58::encode(sig)};
}

TEST_F(PinnedNode, SendsEachMethodWithItsExactBody) {
  Signed tx = signedTransfer();
  node.result("getBalance", {{"context", {{"slot", 1}}}, {"value", 1500000000}});
  node.result("getTokenAccountsByOwner", {{"value", Json::array()}});
  node.result("getAccountInfo", {{"value", nullptr}});
  node.result("getLatestBlockhash", {{"value", {{"blockhash", kMint}, {"lastValidBlockHeight", 200}}}});
  node.result("sendTransaction", tx.signature);
  node.result("simulateTransaction", {{"value", {{"err", nullptr}, {"logs", Json::array()}, {"accounts", {nullptr}}}}});
  node.result("getSignatureStatuses", {{"value", {{{"confirmationStatus", "confirmed"}, {"err", nullptr}}}}});

  struct Case {
    std::function<void()> call;
    std::string body;
  };
  const std::string b64 = toBase64(tx.transaction);
  const Case cases[] = {
      {[&] { EXPECT_EQ(rpc.balance(kSolanaWallet), 1500000000u); },
       R"({"jsonrpc":"2.0","id":1,"method":"getBalance","params":[")" + kSolanaWallet + R"(",{"commitment":"confirmed"}]})"},
      {[&] { EXPECT_TRUE(rpc.tokenAccounts(kSolanaWallet, kMint).empty()); },
       R"({"jsonrpc":"2.0","id":1,"method":"getTokenAccountsByOwner","params":[")" + kSolanaWallet + R"(",{"mint":")" + kMint +
           R"("},{"encoding":"jsonParsed","commitment":"confirmed"}]})"},
      {[&] { EXPECT_FALSE(rpc.accountInfo(kSolanaWallet)); },
       R"({"jsonrpc":"2.0","id":1,"method":"getAccountInfo","params":[")" + kSolanaWallet +
           R"(",{"encoding":"base64","commitment":"confirmed"}]})"},
      {[&] {
         auto h = rpc.latestBlockhash();
         EXPECT_EQ(h.blockhash, kMint);
         EXPECT_EQ(h.lastValidBlockHeight, 200u);
       },
       R"({"jsonrpc":"2.0","id":1,"method":"getLatestBlockhash","params":[{"commitment":"confirmed"}]})"},
      {[&] { EXPECT_EQ(rpc.send(tx.transaction), tx.signature); },
       R"({"jsonrpc":"2.0","id":1,"method":"sendTransaction","params":[")" + b64 +
           R"(",{"encoding":"base64","preflightCommitment":"confirmed","maxRetries":5}]})"},
      {[&] { EXPECT_TRUE(rpc.simulate(tx.transaction, false, {kSolanaWallet}).is_object()); },
       R"({"jsonrpc":"2.0","id":1,"method":"simulateTransaction","params":[")" + b64 +
           R"(",{"encoding":"base64","sigVerify":false,"commitment":"confirmed","accounts":{"encoding":"jsonParsed","addresses":[")" +
           kSolanaWallet + R"("]}}]})"},
      {[&] { EXPECT_EQ(rpc.waitForConfirmation(tx.signature, 10, 30).kind, SolanaRPC::Outcome::Kind::confirmed); },
       R"({"jsonrpc":"2.0","id":1,"method":"getSignatureStatuses","params":[[")" + tx.signature +
           R"("],{"searchTransactionHistory":true}]})"},
  };
  for (const auto& c : cases) {
    std::size_t before = node.requests().size();
    c.call();
    auto requests = node.requests();
    ASSERT_EQ(requests.size(), before + 1) << c.body;
    EXPECT_EQ(requests.back().body, c.body);
    EXPECT_EQ(requests.back().header("content-type"), "application/json");
    EXPECT_EQ(requests.back().method, "POST");
  }
}

TEST_F(PinnedNode, RetriesRateLimitsWithGrowingWaitsThenGivesTheLastError) {
  int calls = 0;
  node.on("getBalance", [&](const Json&) {
    return ++calls == 1 ? FakeResponse::text("slow down", 429) : FakeSolanaNode::ok({{"value", 7}});
  });
  EXPECT_EQ(rpc.balance(kSolanaWallet), 7u);
  EXPECT_EQ(clock.sleeps(), (std::vector<std::int64_t>{1000}));

  node.on("getBalance", [](const Json&) { return FakeResponse::text(std::string(300, 'x'), 503); });
  EXPECT_EQ(errorOf([&] { (void)rpc.balance(kSolanaWallet); }), "Solana RPC getBalance: HTTP 503 " + std::string(120, 'x'));
  EXPECT_EQ(node.requests().size(), 2u + 5u);
  EXPECT_EQ(clock.sleeps(), (std::vector<std::int64_t>{1000, 1000, 2000, 4000, 8000}));
}

TEST(SolanaRPC, ARefusedKeyMovesToTheNextNodeOnlyWhenThereIsOne) {
  FakeSolanaNode own, pub;
  own.on("getBalance", [](const Json&) { return FakeResponse::text("invalid api key", 401); });
  pub.result("getBalance", {{"value", 42}});
  {
    FixedClock clock;
    SolanaRPC rpc(CurlHttpClient::shared(), clock, SolanaNodes{own.url(), pub.url()});
    EXPECT_EQ(rpc.balance(kSolanaWallet), 42u);
    EXPECT_EQ(own.requests().size(), 1u);
    EXPECT_EQ(pub.requests().size(), 1u);
  }
  {
    FixedClock clock;
    SolanaRPC rpc(CurlHttpClient::shared(), clock, SolanaNodes{std::nullopt, own.url()});
    EXPECT_EQ(errorOf([&] { (void)rpc.balance(kSolanaWallet); }), "Solana RPC getBalance: HTTP 401 invalid api key");
    EXPECT_EQ(own.requests().size(), 2u);  // one more, and no retry
    EXPECT_TRUE(clock.sleeps().empty());
  }
}

TEST(SolanaNodes, TheUsersNodeComesFirstAndThePublicOneIsTheDefault) {
  EXPECT_EQ(SolanaNodes{}.list(), std::vector<std::string>{std::string(SolanaNodes::kPublicMainnet)});
  EXPECT_EQ((SolanaNodes{"https://own.example/", "https://public.example"}.list()),
            (std::vector<std::string>{"https://own.example/", "https://public.example"}));  // as written
  EXPECT_EQ((SolanaNodes{std::string(), "https://public.example"}.list()),
            std::vector<std::string>{"https://public.example"});  // an empty setting is no node
  FixedClock clock;
  EXPECT_EQ(SolanaRPC(CurlHttpClient::shared(), clock).nodes(),
            std::vector<std::string>{std::string(SolanaNodes::kPublicMainnet)});
  EXPECT_EQ(SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, "https://one.example").nodes(),
            std::vector<std::string>{"https://one.example"});
}

TEST(SolanaRPC, OneClientServesSeveralThreadsAtOnce) {
  FakeSolanaNode own, pub;
  own.result("getBalance", {{"value", 1}});
  pub.result("getBalance", {{"value", 2}});
  FixedClock clock;
  const SolanaRPC withOwn(CurlHttpClient::shared(), clock, SolanaNodes{own.url(), pub.url()});
  const SolanaRPC publicOnly(CurlHttpClient::shared(), clock, SolanaNodes{std::nullopt, pub.url()});
  std::vector<std::thread> callers;
  std::atomic<int> fromOwn{0}, fromPublic{0}, other{0};
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      const SolanaRPC& rpc = t % 2 ? withOwn : publicOnly;
      for (int i = 0; i < 15; ++i) {
        auto v = rpc.balance(kSolanaWallet);
        (v == 1 ? fromOwn : v == 2 ? fromPublic : other)++;
      }
    });
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(fromOwn, 30);
  EXPECT_EQ(fromPublic, 30);
  EXPECT_EQ(other, 0);
}

TEST(SolanaRPC, NodeErrorsAreRetriedByTheirWordsUnlessTheyRevert) {
  struct Case {
    std::string message;
    bool retried;
  };
  const Case cases[] = {
      {"Too Many Requests for this key", true},
      {"Node is behind by 120 slots", true},
      {"Service Unavailable", true},
      {"execution reverted: rate limit", false},
      {"Invalid param: WrongSize", false},
  };
  for (const auto& c : cases) {
    FakeSolanaNode node;
    FixedClock clock;
    node.on("getBalance", [&](const Json&) { return FakeSolanaNode::rpcError(-32005, c.message); });
    SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, node.url());
    EXPECT_EQ(errorOf([&] { (void)rpc.balance(kSolanaWallet); }), "Solana RPC getBalance: " + c.message);
    EXPECT_EQ(node.requests().size(), c.retried ? 5u : 1u) << c.message;
  }
  EXPECT_TRUE(RPCRetry::isRetryableText("QUOTA exceeded"));
  EXPECT_TRUE(RPCRetry::isRetryableText("request timed out"));
  EXPECT_FALSE(RPCRetry::isRetryableText("Transaction simulation failed"));
}

TEST_F(PinnedNode, AnswersThatAreNotJsonAndUnreachableNodes) {
  node.on("getBalance", [](const Json&) { return FakeResponse::text("<html>gateway</html>"); });
  EXPECT_EQ(errorOf([&] { (void)rpc.balance(kSolanaWallet); }), "Solana RPC getBalance: response isn't JSON: <html>gateway</html>");
  EXPECT_EQ(node.requests().size(), 1u);
  // The node failed, not our key code: a catch of WalletError must let it by.
  try {
    (void)rpc.balance(kSolanaWallet);
    ADD_FAILURE() << "no failure";
  } catch (const WalletError&) {
    ADD_FAILURE() << "a node's failure caught as a WalletError";
  } catch (const ChainError& e) {
    EXPECT_EQ(dynamic_cast<const SolanaRPCError&>(e).kind(), SolanaRPCError::Kind::notJson);
  }

  // A port nobody listens on: a connection failure, retried with the waits.
  FixedClock clock2;
  SolanaRPC nowhere = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock2, "http://127.0.0.1:1");
  EXPECT_THROW((void)nowhere.balance(kSolanaWallet), NetError);
  EXPECT_EQ(clock2.sleeps(), (std::vector<std::int64_t>{1000, 2000, 4000, 8000}));
}

TEST_F(PinnedNode, AlreadyProcessedCountsAsSentWithTheTransactionsOwnSignature) {
  Signed tx = signedTransfer();
  node.on("sendTransaction", [](const Json&) {
    return FakeSolanaNode::rpcError(-32002, "Transaction simulation failed: This transaction has already been processed");
  });
  EXPECT_EQ(rpc.send(tx.transaction), tx.signature);

  node.on("sendTransaction", [](const Json&) {
    return FakeSolanaNode::rpcError(-32002, "Transaction simulation failed: Blockhash not found");
  });
  EXPECT_EQ(errorOf([&] { (void)rpc.send(tx.transaction); }),
            "Solana RPC sendTransaction: Transaction simulation failed: Blockhash not found");
  node.result("sendTransaction", nullptr);
  EXPECT_EQ(errorOf([&] { (void)rpc.send(tx.transaction); }), "sendTransaction returned no signature");
}

TEST_F(PinnedNode, ConfirmationEndsConfirmedFailedOrExpiredAndOtherwiseTimesOut) {
  std::uint64_t height = 100;
  node.on("getBlockHeight", [&](const Json&) { return FakeSolanaNode::ok(height += 30); });

  // Never seen while the chain moves past the last valid height: expired.
  node.result("getSignatureStatuses", {{"value", {nullptr}}});
  auto outcome = rpc.waitForConfirmation("sig1", 190, 60);
  EXPECT_EQ(outcome.kind, SolanaRPC::Outcome::Kind::expired);
  // Heights 130, 160 and 190 are not above the limit; 220 is.
  EXPECT_EQ(clock.sleeps(), (std::vector<std::int64_t>{2000, 2000, 2000}));
  auto asked = node.requests();
  ASSERT_EQ(asked.size(), 8u);  // status and height, four times
  EXPECT_EQ(asked[1].body, R"({"jsonrpc":"2.0","id":1,"method":"getBlockHeight","params":[{"commitment":"confirmed"}]})");

  node.result("getSignatureStatuses",
              {{"value", {{{"confirmationStatus", "processed"}, {"err", {{"InstructionError", {0, {{"Custom", 1}}}}}}}}}});
  outcome = rpc.waitForConfirmation("sig2", 10'000, 60);
  EXPECT_EQ(outcome.kind, SolanaRPC::Outcome::Kind::failed);
  EXPECT_EQ(outcome.error, R"({"InstructionError":[0,{"Custom":1}]})");

  node.result("getSignatureStatuses", {{"value", {{{"confirmationStatus", "finalized"}, {"err", nullptr}}}}});
  EXPECT_EQ(rpc.waitForConfirmation("sig3", 0, 60).kind, SolanaRPC::Outcome::Kind::confirmed);

  // Seen but only processed, the blockhash still valid: the time-out.
  node.result("getSignatureStatuses", {{"value", {{{"confirmationStatus", "processed"}, {"err", nullptr}}}}});
  height = 0;
  FixedClock clock2;
  SolanaRPC rpc2 = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock2, node.url());
  EXPECT_EQ(errorOf([&] { (void)rpc2.waitForConfirmation("sig4", 1'000'000, 10); }),
            "Transaction status still unknown after 10 s: sig4");
  EXPECT_LE(clock2.monotonicMillis(), 10'000);
  EXPECT_EQ(clock2.sleeps().size(), 5u);
}

TEST(SolanaSimulation, ReadsBalancesAndTellsWhenTheFeePayerIsShort) {
  Json value = Json::parse(R"({
    "err": {"InsufficientFundsForRent": {"account_index": 0}},
    "logs": ["Program 11111111111111111111111111111111 invoke [1]"],
    "accounts": [
      {"lamports": 2039280, "owner": "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA", "data":
        {"program": "spl-token", "parsed": {"type": "account", "info": {"tokenAmount": {"amount": "18446744073709551615", "decimals": 6}}}}},
      null,
      {"lamports": 5000, "owner": "11111111111111111111111111111111", "data": ["", "base64"]}
    ],
    "unitsConsumed": 1234
  })");
  auto sim = SolanaSimulation::read(value, {"a", "b", "c"});
  ASSERT_EQ(sim.accounts.size(), 3u);
  EXPECT_EQ(sim.accounts[0].tokenAmount, 18446744073709551615ULL);
  EXPECT_EQ(sim.accounts[0].lamports, 2039280u);
  EXPECT_FALSE(sim.accounts[1].exists);
  EXPECT_EQ(sim.accounts[2].lamports, 5000u);
  EXPECT_FALSE(sim.accounts[2].tokenAmount);
  EXPECT_EQ(sim.unitsConsumed, 1234u);
  EXPECT_TRUE(sim.feePayerShortOfSol());

  struct Case {
    std::string simulation;
    bool short_;
  };
  const Case cases[] = {
      {R"({"err": "AccountNotFound", "logs": []})", true},
      {R"({"err": "InsufficientFundsForFee"})", true},
      {R"({"err": {"InsufficientFundsForRent": {"account_index": 2}}})", false},
      {R"({"err": {"InstructionError": [1, {"Custom": 1}]}, "logs": ["Transfer: insufficient lamports 10, need 20"]})", true},
      {R"({"err": {"InstructionError": [1, {"Custom": 6001}]}, "logs": ["Program log: slippage"]})", false},
      {R"({"err": null, "logs": []})", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SolanaSimulation::read(Json::parse(c.simulation), {}).feePayerShortOfSol(), c.short_) << c.simulation;
  }
  EXPECT_EQ(SolanaSimulation::notEnoughSolMessage("W1", lamportsToSol(1500)),
            "Not enough SOL: the wallet W1 has 0.0000015 SOL and can't pay Solana's fee and the rent of the account "
            "this move opens. Send it ≈ 0.01 SOL, then try again.");
  EXPECT_EQ(SolanaSimulation::notEnoughSolMessage("W1", std::nullopt),
            "Not enough SOL: the wallet W1 can't pay Solana's fee and the rent of the account this move opens. "
            "Send it ≈ 0.01 SOL, then try again.");
  EXPECT_THROW((void)SolanaSimulation::read(Json::parse(R"({"accounts": [null]})"), {"a", "b"}), SolanaRPCError);
}

TEST_F(PinnedNode, ReadsLookupTablesFromByte56) {
  Bytes data(56, 0xee);
  for (std::uint8_t i = 1; i <= 3; ++i) data.insert(data.end(), 32, i);
  const std::string table = kMint, shortTable = kSolanaWallet, missing = "11111111111111111111111111111111";
  node.on("getAccountInfo", [&](const Json& params) {
    std::string address = params[0].get<std::string>();
    if (address == missing) return FakeSolanaNode::ok({{"value", nullptr}});
    Bytes body = address == table ? data : Bytes(55, 0);
    return FakeSolanaNode::ok({{"value",
                                {{"data", {toBase64(body), "base64"}},
                                 {"owner", SolanaPrograms::kAddressLookupTable},
                                 {"lamports", 1},
                                 {"executable", false}}}});
  });
  auto tables = rpc.lookupTables({table});
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[table], (std::vector<std::string>{Base58::encode(Bytes(32, 1)), Base58::encode(Bytes(32, 2)),
                                                     Base58::encode(Bytes(32, 3))}));
  EXPECT_EQ(errorOf([&] { (void)rpc.lookupTables({shortTable}); }), "Address lookup table not found: " + shortTable);
  EXPECT_EQ(errorOf([&] { (void)rpc.lookupTables({missing}); }), "Address lookup table not found: " + missing);
}

TEST(SolanaNodeCheck, AcceptsAMainnetNodeAndNamesEachProblem) {
  FakeSolanaNode node;
  FixedClock clock;
  // The check insists on https, so a plain-http fake can only show that refusal.
  EXPECT_EQ(SolanaRPC::checkNode(node.url(), CurlHttpClient::shared(), clock), "A node's address starts with https://.");

  // The rest runs through the pinned client the check uses, against the fake.
  struct Case {
    std::function<void(FakeSolanaNode&)> setup;
    std::optional<std::string> problem;
  };
  auto mainnet = [](FakeSolanaNode& n) {
    n.result("getGenesisHash", std::string(SolanaPrograms::kMainnetGenesisHash));
    n.result("getLatestBlockhash", {{"value", {{"blockhash", kMint}, {"lastValidBlockHeight", 1}}}});
    n.result("getTokenAccountsByOwner", {{"value", Json::array()}});
  };
  const Case cases[] = {
      {mainnet, std::nullopt},
      {[&](FakeSolanaNode& n) {
         mainnet(n);
         n.result("getGenesisHash", "EtWTRABZaYq6iMfeYKouRu166VU2xqa1wcaWoxPkrZBG");
       },
       "That node is on another Solana network (devnet or testnet), not mainnet."},
      {[&](FakeSolanaNode& n) { n.on("getGenesisHash", [](const Json&) { return FakeResponse::text("<html/>"); }); },
       "The node didn't answer like a Solana node."},
      {[&](FakeSolanaNode& n) {
         mainnet(n);
         n.on("getTokenAccountsByOwner", [](const Json&) { return FakeResponse::text("forbidden", 403); });
       },
       "The node turned the key away (HTTP 403): copy the whole address again, api-key included — or this plan "
       "doesn't serve these calls."},
      {[&](FakeSolanaNode& n) {
         mainnet(n);
         n.on("getLatestBlockhash", [](const Json&) { return FakeSolanaNode::rpcError(-32601, "Method not found"); });
       },
       "The node didn't answer: Solana RPC getLatestBlockhash: Method not found"},
  };
  for (const auto& c : cases) {
    FakeSolanaNode n;
    c.setup(n);
    testing::RedirectClient redirect(n.url());
    FixedClock c2;
    EXPECT_EQ(SolanaRPC::checkNode("https://node.example/?api-key=k", redirect, c2), c.problem);
    if (!c.problem) {
      auto asked = n.requests();
      ASSERT_EQ(asked.size(), 3u);
      EXPECT_EQ(asked[0].body, R"({"jsonrpc":"2.0","id":1,"method":"getGenesisHash","params":[]})");
      EXPECT_EQ(asked[1].body, R"({"jsonrpc":"2.0","id":1,"method":"getLatestBlockhash","params":[{"commitment":"confirmed"}]})");
      EXPECT_EQ(asked[2].body,
                R"({"jsonrpc":"2.0","id":1,"method":"getTokenAccountsByOwner","params":["11111111111111111111111111111111",)"
                R"({"programId":"TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA"},{"encoding":"jsonParsed"}]})");
    }
  }
}

}  // namespace
}  // namespace orwenna
