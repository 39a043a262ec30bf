// A wallet's holdings read through SolanaRPC against the shared fake node:
// SOL, USDC and the other tokens of both token programs, the requests sent,
// the retries and fall-over of SolanaRPC::call, and every refusal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chains/solana_fake_node.h"
#include "chains/solana_rpc.h"
#include "chains/solana_transaction.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FixedClock;
using testing::FakeResponse;
using testing::FakeSolanaNode;
using testing::kSolanaWallet;

const std::string kUsdc(SolanaPrograms::kUsdcMint);
const std::string kToken(SolanaPrograms::kToken);
const std::string kToken2022(SolanaPrograms::kToken2022);

Decimal D(const char* text) { return Decimal::parse(text); }

Json tokenAccount(const std::string& mint, const Json& amount, const Json& decimals, const std::string& program) {
  Json info{{"isNative", false},
            {"mint", mint},
            {"owner", kSolanaWallet},
            {"state", "initialized"},
            {"tokenAmount", {{"amount", amount}, {"decimals", decimals}, {"uiAmount", 1.0}, {"uiAmountString", "1"}}}};
  return Json{{"account",
               {{"data", {{"parsed", {{"info", info}, {"type", "account"}}}, {"program", "spl-token"}, {"space", 165}}},
                {"executable", false},
                {"lamports", 2039280},
                {"owner", program},
                {"rentEpoch", 18446744073709551615ULL},
                {"space", 165}}},
              {"pubkey", "3Lz6rCrXdLybFiuJGJnEjv6Z2XtCh5n4proPGP2aBkA1"}};
}

Json accounts(std::vector<Json> list) {
  return Json{{"context", {{"apiVersion", "2.2.3"}, {"slot", 341197053}}}, {"value", Json(std::move(list))}};
}

// A node answering getBalance and, per token program, getTokenAccountsByOwner.
struct WalletNode {
  FakeSolanaNode node;
  FixedClock clock;

  void balance(std::uint64_t lamports) {
    node.result("getBalance", {{"context", {{"slot", 341197053}}}, {"value", lamports}});
  }
  void tokens(Json byProgram) {
    node.on("getTokenAccountsByOwner", [byProgram](const Json& params) {
      const std::string program = params.at(1).at("programId").get<std::string>();
      return FakeSolanaNode::ok(byProgram.contains(program) ? byProgram.at(program) : accounts({}));
    });
  }
  SolanaRPC rpc() { return SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, node.url()); }
};

TEST(SolanaHoldings, ReadsSolUsdcAndTokensFromBothPrograms) {
  WalletNode w;
  const std::string bonk = "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263";
  const std::string pyusd = "2b1kV6DkPAnxd5ixfnxCpjxmKwqjjaYmCZfHsFu24GXo";
  w.balance(1500000001);
  w.tokens({{kToken, accounts({tokenAccount(kUsdc, "25000000", 6, kToken),
                               tokenAccount(bonk, "123456789012", 5, kToken),
                               tokenAccount("So11111111111111111111111111111111111111112", "0", 9, kToken),
                               tokenAccount(bonk, "100000", 5, kToken)})},
            {kToken2022, accounts({tokenAccount(pyusd, "7500000", 6, kToken2022)})}});

  SolanaRPC::Holdings h = w.rpc().holdings(kSolanaWallet);
  EXPECT_EQ(h.sol, D("1.500000001"));
  EXPECT_EQ(h.usdc, Decimal(25));
  ASSERT_EQ(h.tokens.size(), 2u);  // the empty account is no holding; two bonk accounts are one
  EXPECT_EQ(h.tokens[0], (SolanaRPC::Holding{bonk, kToken, D("1234568.89012"), 5, std::nullopt}));
  EXPECT_EQ(h.tokens[1], (SolanaRPC::Holding{pyusd, kToken2022, D("7.5"), 6, std::nullopt}));

  auto bodies = w.node.bodies();
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(w.node.requests()[0].body,
            R"({"jsonrpc":"2.0","id":1,"method":"getBalance","params":[")" + kSolanaWallet + R"(",{"commitment":"confirmed"}]})");
  for (std::size_t i : {1u, 2u}) {
    EXPECT_EQ(w.node.requests()[i].body, R"({"jsonrpc":"2.0","id":1,"method":"getTokenAccountsByOwner","params":[")" +
                                             kSolanaWallet + R"(",{"programId":")" + (i == 1 ? kToken : kToken2022) +
                                             R"("},{"encoding":"jsonParsed","commitment":"confirmed"}]})");
  }
}

TEST(SolanaHoldings, AnEmptyWalletHoldsNothing) {
  WalletNode w;
  w.balance(0);
  w.tokens(Json::object());
  SolanaRPC::Holdings h = w.rpc().holdings(kSolanaWallet);
  EXPECT_TRUE(h.sol.isZero());
  EXPECT_TRUE(h.usdc.isZero());
  EXPECT_TRUE(h.tokens.empty());
}

TEST(SolanaHoldings, GoesThroughTheClientsRetriesAndNodes) {
  // A rate limit is waited out.
  WalletNode w;
  int calls = 0;
  w.node.on("getBalance", [&](const Json&) {
    return ++calls == 1 ? FakeResponse::text("slow down", 429) : FakeSolanaNode::ok({{"value", 1000000000}});
  });
  w.tokens(Json::object());
  EXPECT_EQ(w.rpc().holdings(kSolanaWallet).sol, Decimal(1));
  EXPECT_EQ(w.clock.sleeps(), (std::vector<std::int64_t>{1000}));

  // The user's node turns the key away: the public node answers each call.
  FakeSolanaNode own, pub;
  own.on("getBalance", [](const Json&) { return FakeResponse::text("invalid api key", 401); });
  own.on("getTokenAccountsByOwner", [](const Json&) { return FakeResponse::text("invalid api key", 401); });
  pub.result("getBalance", {{"value", 5}});
  pub.result("getTokenAccountsByOwner", accounts({}));
  FixedClock clock;
  SolanaRPC rpc(CurlHttpClient::shared(), clock, SolanaNodes{own.url(), pub.url()});
  EXPECT_EQ(rpc.holdings(kSolanaWallet).sol, D("0.000000005"));
  EXPECT_EQ(own.requests().size(), 3u);
  EXPECT_EQ(pub.requests().size(), 3u);
}

TEST(SolanaHoldings, AnswersWithoutAUsableResultFailWithASentence) {
  struct Case {
    const char* name;
    FakeResponse balanceAnswer;
    std::string message;
    std::size_t requests = 1;  // five when retried
  };
  const std::string tooMany =
      R"({"jsonrpc":"2.0","error":{"code":429,"message":"Too many requests for a specific RPC call"},"id":1})";
  const std::vector<Case> cases{
      {"node error", FakeSolanaNode::rpcError(-32602, "Invalid param: WrongSize"),
       "Solana RPC getBalance: Invalid param: WrongSize"},
      {"error without message", FakeResponse::json(R"({"jsonrpc":"2.0","error":{"code":-32005},"id":1})"),
       R"(Solana RPC getBalance: {"code":-32005})"},
      {"null result", FakeResponse::json(R"({"jsonrpc":"2.0","result":null,"id":1})"),
       "Solana RPC getBalance: the answer has no value"},
      {"empty object", FakeResponse::json("{}"), "Solana RPC getBalance: the answer has no result"},
      {"not json", FakeResponse::json(""), "Solana RPC getBalance: response isn't JSON: "},
      {"not a number", FakeSolanaNode::ok({{"value", "lots"}}), "Solana RPC getBalance: the balance isn't a whole number"},
      // HTTP errors worth another try are retried, then quote the node's answer.
      {"429", FakeResponse::json(tooMany, 429), "Solana RPC getBalance: HTTP 429 " + tooMany, 5},
      {"502", FakeResponse::text("<html>Bad Gateway</html>", 502),
       "Solana RPC getBalance: HTTP 502 <html>Bad Gateway</html>", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WalletNode w;
    w.node.on("getBalance", [&](const Json&) { return c.balanceAnswer; });
    w.tokens(Json::object());
    SolanaRPC rpc = w.rpc();
    EXPECT_EQ(errorOf([&] { (void)rpc.holdings(kSolanaWallet); }), c.message);
    EXPECT_EQ(w.node.requests().size(), c.requests);
  }
}

TEST(SolanaHoldings, ATokenAccountOfAnUnexpectedShapeFailsTheRead) {
  const std::string bonk = "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263";
  Json unparsed = tokenAccount(bonk, "1", 5, kToken);
  unparsed["account"]["data"] = Json::array({"AAAA", "base64"});
  Json noMint = tokenAccount(bonk, "1", 5, kToken);
  noMint["account"]["data"]["parsed"]["info"].erase("mint");
  struct Case {
    const char* name;
    Json answer;
    std::string message;
  };
  const std::string method = "Solana RPC getTokenAccountsByOwner: ";
  const std::vector<Case> cases{
      {"amount with an exponent", accounts({tokenAccount(kUsdc, "12.5e3", 6, kToken)}),
       method + "a token amount isn't a whole number"},
      {"negative amount", accounts({tokenAccount(bonk, "-1", 5, kToken)}), method + "a token amount isn't a whole number"},
      {"decimals out of range", accounts({tokenAccount(bonk, "1", 31, kToken)}),
       method + "a token's decimals are out of range"},
      {"decimals as text", accounts({tokenAccount(bonk, "1", "five", kToken)}), method + "decimals isn't a whole number"},
      {"not parsed", accounts({unparsed}), method + "a token account isn't parsed"},
      {"no mint", accounts({noMint}), method + "a token account isn't parsed"},
      {"no list", Json{{"value", nullptr}}, method + "the answer has no list of accounts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WalletNode w;
    w.balance(0);
    w.tokens({{kToken, c.answer}});
    SolanaRPC rpc = w.rpc();
    EXPECT_EQ(errorOf([&] { (void)rpc.holdings(kSolanaWallet); }), c.message);
  }
}

}  // namespace
}  // namespace orwenna
