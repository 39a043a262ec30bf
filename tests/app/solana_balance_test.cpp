#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "app/solana_balance.h"
#include "base/http.h"
#include "base/json.h"
#include "fakes/fake_server.h"
#include "support/core_fixtures.h"

namespace orwenna {
namespace {

using testing::D;
using testing::failureOf;
using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

const char* const kOwner = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";

// A service answering each POST by a key read from its body, in the
// service's own JSON; a key with no answer gets `missing`.
class KeyedFake {
 public:
  KeyedFake(const std::string& path, std::function<std::string(const Json&)> keyOf, FakeResponse missing) {
    server_.on("POST", path, [this, keyOf, missing](const RecordedRequest& r) {
      std::string key = keyOf(Json::parse(r.body));
      std::lock_guard lock(mutex_);
      auto it = answers_.find(key);
      return it == answers_.end() ? missing : it->second;
    });
  }
  void answer(const std::string& key, std::string body, int status = 200) {
    std::lock_guard lock(mutex_);
    answers_[key] = FakeResponse::json(std::move(body), status);
  }
  FakeServer& server() { return server_; }

 private:
  std::mutex mutex_;
  std::map<std::string, FakeResponse> answers_;
  FakeServer server_;
};

// A Solana node answering getBalance, and getTokenAccountsByOwner per program.
struct FakeSolanaNode : KeyedFake {
  FakeSolanaNode()
      : KeyedFake(
            "/",
            [](const Json& body) {
              std::string key = body.at("method").get<std::string>();
              if (key == "getTokenAccountsByOwner") key += "/" + body["params"][1]["programId"].get<std::string>();
              return key;
            },
            FakeResponse::json(R"({"jsonrpc":"2.0","result":null,"id":1})")) {}
  Solana::RpcNode node() { return {CurlHttpClient::shared(), server().url() + "/"}; }
};

std::string tokenAccount(const std::string& mint, const std::string& amount, int decimals, const std::string& program) {
  Json info{{"isNative", false},
            {"mint", mint},
            {"owner", kOwner},
            {"state", "initialized"},
            {"tokenAmount", {{"amount", amount}, {"decimals", decimals}, {"uiAmount", 1.0}, {"uiAmountString", "1"}}}};
  Json account{{"account",
                {{"data", {{"parsed", {{"info", info}, {"type", "account"}}}, {"program", "spl-token"}, {"space", 165}}},
                 {"executable", false},
                 {"lamports", 2039280},
                 {"owner", program},
                 {"rentEpoch", 18446744073709551615ULL},
                 {"space", 165}}},
               {"pubkey", "3Lz6rCrXdLybFiuJGJnEjv6Z2XtCh5n4proPGP2aBkA1"}};
  return account.dump();
}

std::string tokenAnswer(const std::vector<std::string>& accounts) {
  std::string list;
  for (const auto& a : accounts) list += (list.empty() ? "" : ",") + a;
  return R"({"jsonrpc":"2.0","result":{"context":{"apiVersion":"2.2.3","slot":341197053},"value":[)" + list +
         R"(]},"id":1})";
}

TEST(SolanaBalance, ReadsSolUsdcAndTokensFromBothPrograms) {
  FakeSolanaNode node;
  const std::string bonk = "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263";
  const std::string pyusd = "2b1kV6DkPAnxd5ixfnxCpjxmKwqjjaYmCZfHsFu24GXo";
  node.answer("getBalance", R"({"jsonrpc":"2.0","result":{"context":{"slot":341197053},"value":1500000001},"id":1})");
  node.answer(std::string("getTokenAccountsByOwner/") + Solana::kTokenProgram,
              tokenAnswer({tokenAccount(Solana::kUsdcMint, "25000000", 6, Solana::kTokenProgram),
                           tokenAccount(bonk, "123456789012", 5, Solana::kTokenProgram),
                           tokenAccount("So11111111111111111111111111111111111111112", "0", 9, Solana::kTokenProgram),
                           tokenAccount(bonk, "100000", 5, Solana::kTokenProgram)}));
  node.answer(std::string("getTokenAccountsByOwner/") + Solana::kToken2022Program,
              tokenAnswer({tokenAccount(pyusd, "7500000", 6, Solana::kToken2022Program)}));

  auto b = Solana::balance(node.node(), kOwner);
  EXPECT_EQ(b.sol, D("1.500000001"));
  EXPECT_EQ(b.usdc, Decimal(25));
  ASSERT_EQ(b.tokens.size(), 2u);  // the empty account is no holding; two bonk accounts are one
  EXPECT_EQ(b.tokens[0].mint, bonk);
  EXPECT_EQ(b.tokens[0].amount, D("1234568.89012"));
  EXPECT_EQ(b.tokens[1].mint, pyusd);
  EXPECT_EQ(b.tokens[1].program, Solana::kToken2022Program);
  EXPECT_EQ(b.tokens[1].amount, D("7.5"));

  auto requests = node.server().requests();
  ASSERT_EQ(requests.size(), 3u);
  Json tokenCall = Json::parse(requests[1].body);
  EXPECT_EQ(tokenCall["jsonrpc"], "2.0");
  EXPECT_EQ(tokenCall["params"][0], kOwner);
  EXPECT_EQ(tokenCall["params"][2]["encoding"], "jsonParsed");
  EXPECT_TRUE(tokenCall["params"][2].contains("commitment"));
}

TEST(SolanaBalance, AnswersWithoutAResultFail) {
  struct Case {
    const char* name;
    std::string balanceAnswer;
    std::string message;
    int status = 200;
  };
  std::vector<Case> cases{
      {"node error", R"({"jsonrpc":"2.0","error":{"code":-32602,"message":"Invalid param: WrongSize"},"id":1})",
       "Solana RPC: Invalid param: WrongSize"},
      {"error without message", R"({"jsonrpc":"2.0","error":{"code":-32005},"id":1})", "Solana RPC: empty response"},
      {"null result", R"({"jsonrpc":"2.0","result":null,"id":1})", "Solana RPC: empty response"},
      {"empty object", "{}", "Solana RPC: empty response"},
      {"not json", "", "Solana RPC: empty response"},
      // HTTP errors keep the node's own message when it sends one.
      {"429", R"({"jsonrpc":"2.0","error":{"code":429,"message":"Too many requests for a specific RPC call"},"id":1})",
       "Solana RPC: Too many requests for a specific RPC call", 429},
      {"502", "<html>Bad Gateway</html>", "Solana RPC: HTTP 502", 502},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSolanaNode node;
    node.answer("getBalance", c.balanceAnswer, c.status);
    EXPECT_EQ(failureOf<MarketDataError>([&] { (void)Solana::balance(node.node(), kOwner); }), c.message);
  }
}

TEST(SolanaBalance, BadTokenAmountFailsTheRead) {
  FakeSolanaNode node;
  node.answer("getBalance", R"({"jsonrpc":"2.0","result":{"context":{"slot":1},"value":0},"id":1})");
  node.answer(std::string("getTokenAccountsByOwner/") + Solana::kTokenProgram,
              tokenAnswer({tokenAccount(Solana::kUsdcMint, "12.5e3", 6, Solana::kTokenProgram)}));
  EXPECT_EQ(failureOf<NumberFormatError>([&] { (void)Solana::balance(node.node(), kOwner); }),
            "Unexpected number format: 12.5e3");
}

}  // namespace
}  // namespace orwenna
