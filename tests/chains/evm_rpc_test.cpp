// The EVM node client against local fake JSON-RPC nodes: request bodies,
// fallbacks and the shared retry rules, node errors (a wallet short of gas,
// "already known"), fees, gas estimates with a code override, receipts,
// dry-run readings, the node check and ENS resolution.
#include "chains/evm_rpc.h"

#include <gtest/gtest.h>

#include "chains/abi.h"
#include "chains/ens.h"
#include "chains/solana_fake_node.h"
#include "signing/keccak.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FixedClock;
using testing::FakeResponse;
using FakeNode = testing::FakeRpcNode;

const std::string kWallet = "0x1111111111111111111111111111111111111111";
const std::string kOther = "0x2222222222222222222222222222222222222222";

// A fake node and a client of it on Ethereum.
class EVMNode : public ::testing::Test {
 protected:
  FakeNode node;
  FixedClock clock;
  EVMRPC rpc{CurlHttpClient::shared(), clock, node.url(), 1};
};

FakeResponse httpStatus(int status) { return FakeResponse::json(R"({"error":"no"})", status); }

TEST_F(EVMNode, RequestBodyAndQuantities) {
  node.result("eth_getBalance", "0xde0b6b3a7640000");
  EXPECT_EQ(toDecimalString(rpc.balance(kWallet)), "1000000000000000000");
  auto asked = node.requests();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].body,
            R"({"jsonrpc":"2.0","id":1,"method":"eth_getBalance","params":[")" + kWallet + R"(","latest"]})");
  EXPECT_EQ(asked[0].header("Content-Type"), "application/json");

  node.result("eth_gasPrice", "0xzz");
  EXPECT_EQ(errorOf([&] { (void)rpc.gasPrice(); }), "EVM RPC eth_gasPrice: not a number (0xzz)");
  node.on("eth_gasPrice", [](const Json&) { return FakeResponse::text("<html>" + std::string(200, 'x')); });
  EXPECT_EQ(errorOf([&] { (void)rpc.gasPrice(); }),
            "EVM RPC eth_gasPrice, response isn't JSON: <html>" + std::string(114, 'x'));
}

TEST(EVMRPCTest, FallbacksAndRetries) {
  struct Case {
    std::string name;
    int firstStatus;
    bool twoNodes;
    std::string error;  // empty: the answer arrives
    std::vector<std::int64_t> sleeps;
    std::size_t firstNodeCalls;
  };
  const std::vector<Case> cases{
      {"429 falls through to the fallback", 429, true, "", {1000}, 1},
      {"503 falls through to the fallback", 503, true, "", {1000}, 1},
      {"401 with two nodes tries the next", 401, true, "", {1000}, 1},
      {"401 with one node is final", 401, false, "EVM RPC eth_gasPrice: HTTP 401", {}, 1},
      {"400 is final even with two nodes", 400, true, "EVM RPC eth_gasPrice: HTTP 400", {}, 1},
      {"429 on the only node is retried to the end", 429, false, "EVM RPC eth_gasPrice: HTTP 429",
       {1000, 2000, 4000, 8000}, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNode first, second;
    first.on("eth_gasPrice", [&](const Json&) { return httpStatus(c.firstStatus); });
    second.result("eth_gasPrice", "0x3b9aca00");
    FixedClock clock;
    std::vector<std::string> fallbacks;
    if (c.twoNodes) fallbacks.push_back(second.url());
    EVMRPC rpc(CurlHttpClient::shared(), clock, first.url(), 1, fallbacks);
    if (c.error.empty()) {
      EXPECT_EQ(rpc.gasPrice(), 1'000'000'000u);
    } else {
      EXPECT_EQ(errorOf([&] { (void)rpc.gasPrice(); }), c.error);
    }
    EXPECT_EQ(clock.sleeps(), c.sleeps);
    EXPECT_EQ(first.requests().size(), c.firstNodeCalls);
  }
}

TEST(EVMRPCTest, NodeErrorTexts) {
  struct Case {
    std::string text;
    bool twoNodes;
    bool retried;
  };
  for (const Case& c : {Case{"rate limit exceeded", false, true}, Case{"execution reverted: rate limit", false, false},
                        Case{"invalid api key", false, false}, Case{"invalid api key", true, true},
                        Case{"method eth_gasPrice not whitelisted", true, true},
                        Case{"invalid argument 0", true, false}}) {
    SCOPED_TRACE(c.text);
    FakeNode first, second;
    first.on("eth_gasPrice", [&](const Json&) { return FakeNode::rpcError(-32000, c.text); });
    second.on("eth_gasPrice", [&](const Json&) { return FakeNode::rpcError(-32000, c.text); });
    FixedClock clock;
    EVMRPC rpc(CurlHttpClient::shared(), clock, first.url(), 1,
               c.twoNodes ? std::vector<std::string>{second.url()} : std::vector<std::string>{});
    EXPECT_EQ(errorOf([&] { (void)rpc.gasPrice(); }), "EVM RPC eth_gasPrice: " + c.text);
    EXPECT_EQ(first.requests().size() + second.requests().size(), c.retried ? 5u : 1u);
    // The node failed, not our key code: a catch of WalletError must let it by.
    try {
      (void)rpc.gasPrice();
      ADD_FAILURE() << "no failure";
    } catch (const WalletError&) {
      ADD_FAILURE() << "a node's failure caught as a WalletError";
    } catch (const ChainError& e) {
      EXPECT_EQ(dynamic_cast<const EVMRPCError&>(e).kind(), EVMRPCError::Kind::rpc);
    }
  }
  EXPECT_TRUE(EVMNodeText::lacksMethod("the method eth_simulateV1 does not exist/is not available: Method not found"));
  EXPECT_FALSE(EVMNodeText::lacksMethod("execution reverted"));
}

TEST(EVMRPCTest, InsufficientFundsReadings) {
  struct Case {
    std::uint64_t chain;
    std::string text;
    std::string from;
    std::string message;
  };
  const std::vector<Case> cases{
      {56, "insufficient funds for gas * price + value: have 100 want 250", kWallet,
       "Not enough BNB for gas: the wallet " + kWallet +
           " has 100 and needs 250 with the fee. Send it a little BNB, then try again."},
      {137, "Insufficient funds for gas * price + value", kWallet,
       "Not enough POL for gas: the wallet " + kWallet + " can't pay this network's fee. Send it a little POL, then try again."},
      {999, "insufficient funds for gas * price + value: address " + kOther + " have 1 want 2", "",
       "Not enough HYPE for gas: the wallet " + kOther + " has 1 and needs 2 with the fee. Send it a little HYPE, then try again."},
      {4217, "OutOfFunds", kWallet,
       "Not enough USD for gas: the wallet " + kWallet + " can't pay this network's fee. Send it a little USD, then try again."},
      {8453, "insufficient funds", "", "Not enough ETH for gas: the wallet can't pay this network's fee. Send it a little ETH, then try again."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FakeNode first, second;
    first.on("eth_estimateGas", [&](const Json&) { return FakeNode::rpcError(-32000, c.text); });
    second.result("eth_estimateGas", "0x5208");
    FixedClock clock;
    EVMRPC rpc(CurlHttpClient::shared(), clock, first.url(), c.chain, {second.url()});
    EVMRPC::CallRequest call{c.from, kOther, 5, {}};
    try {
      (void)rpc.estimateGas(call);
      ADD_FAILURE() << "no error";
    } catch (const EVMRPCError& e) {
      EXPECT_EQ(e.kind(), EVMRPCError::Kind::insufficientFunds);
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_TRUE(second.requests().empty());  // final: no fallback asked
  }
  // A revert that mentions funds is a revert, not a wallet short of gas.
  EXPECT_FALSE(EVMNodeText::isInsufficientFunds("execution reverted: insufficient funds in pool"));
}

TEST_F(EVMNode, SendingUsesTheSendNodeAndReadsAlreadyKnown) {
  const Bytes raw{0x02, 0xc0, 0x01, 0x02};
  const std::string ours = toHex0x(Keccak::hash256(raw));
  for (std::string text : {"already known", "ALREADY_KNOWN: transaction already known", "known transaction: 0xabc"}) {
    FakeNode main, sender;
    sender.on("eth_sendRawTransaction", [&](const Json& params) {
      EXPECT_EQ(params, Json::array({toHex0x(raw)}));
      return FakeNode::rpcError(-32000, text);
    });
    FixedClock clock;
    EVMRPC rpc(CurlHttpClient::shared(), clock, main.url(), 1, {}, sender.url());
    EXPECT_EQ(rpc.sendRaw(raw), ours) << text;
    EXPECT_TRUE(main.requests().empty());
  }
  node.result("eth_sendRawTransaction", "0xfeed");
  EXPECT_EQ(rpc.sendRaw(raw), "0xfeed");
  node.result("eth_sendRawTransaction", nullptr);
  EXPECT_EQ(errorOf([&] { (void)rpc.sendRaw(raw); }), "No transaction hash");
  node.on("eth_sendRawTransaction", [](const Json&) { return FakeNode::rpcError(-32000, "nonce too low"); });
  EXPECT_EQ(errorOf([&] { (void)rpc.sendRaw(raw); }), "EVM RPC eth_sendRawTransaction: nonce too low");
}

TEST_F(EVMNode, FeesAndEstimates) {
  node.result("eth_gasPrice", "0x64");
  node.result("eth_maxPriorityFeePerGas", "0x2");
  auto fees = rpc.fees();
  EXPECT_EQ(fees.maxPriorityFeePerGas, 2);
  EXPECT_EQ(fees.maxFeePerGas, 202);
  node.on("eth_maxPriorityFeePerGas", [](const Json&) { return FakeNode::rpcError(-32601, "Method not found"); });
  fees = rpc.fees();
  EXPECT_EQ(fees.maxPriorityFeePerGas, 0);
  EXPECT_EQ(fees.maxFeePerGas, 200);

  Json seen;
  node.on("eth_estimateGas", [&](const Json& params) {
    seen = params;
    return FakeNode::ok("0x1d4c0");
  });
  EVMRPC::CallRequest call{kWallet, kWallet, 0, {0xab, 0xcd}};
  EXPECT_EQ(rpc.estimateGas(call, Bytes{0xef, 0x01, 0x00}), 120000);
  EXPECT_EQ(seen, Json::parse(R"([{"from":")" + kWallet + R"(","to":")" + kWallet +
                              R"(","value":"0x0","data":"0xabcd"},"latest",{")" + kWallet +
                              R"(":{"code":"0xef0100"}}])"));
  (void)rpc.estimateGas(call);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(EVMNode, ReceiptsArePolledUntilTheyCarryAStatus) {
  int asked = 0;
  node.on("eth_getTransactionReceipt", [&](const Json&) {
    ++asked;
    if (asked == 1) return FakeNode::ok(nullptr);
    if (asked == 2) return FakeNode::ok(Json{{"blockNumber", "0x1"}});  // no status yet
    return FakeNode::ok(Json{{"status", asked == 3 ? "0x1" : "0x0"}});
  });
  EXPECT_TRUE(rpc.waitForReceipt("0xabc", 60, 2000).success);
  EXPECT_EQ(clock.sleeps(), (std::vector<std::int64_t>{2000, 2000}));
  EXPECT_FALSE(rpc.waitForReceipt("0xabc", 60, 2000).success);

  node.result("eth_getTransactionReceipt", nullptr);
  FixedClock later;
  EVMRPC slow(CurlHttpClient::shared(), later, node.url(), 1);
  EXPECT_EQ(errorOf([&] { (void)slow.waitForReceipt("0xabc", 10, 3000); }), "No receipt after 10 seconds for 0xabc.");
}

std::string topicOf(std::string_view signature) { return toHex0x(Keccak::hash256(signature)); }
std::string padded(const std::string& address) { return "0x" + std::string(24, '0') + address.substr(2); }
std::string word(const UInt256& v) { return toHex0x(toBigEndian32(v)); }

TEST_F(EVMNode, SimulationReadings) {
  const std::string token = "0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48";
  const std::string weth = "0x4200000000000000000000000000000000000006";
  const std::string nft = "0x3333333333333333333333333333333333333333";
  const std::string native(EVMSimulation::kNative);
  const std::string transfer = topicOf("Transfer(address,address,uint256)");
  auto log = [](const std::string& address, std::vector<std::string> topics, const std::string& data) {
    return Json{{"address", address}, {"topics", topics}, {"data", data}};
  };
  Json logs = Json::array({
      log(token, {transfer, padded(kWallet), padded(kOther)}, word(1'000'000)),
      log(token, {transfer, padded(kOther), padded(kWallet)}, word(250'000)),
      log(native, {transfer, padded(kWallet), padded(weth)}, word(5)),
      log(weth, {topicOf("Deposit(address,uint256)"), padded(kWallet)}, word(5)),
      log(token, {topicOf("Approval(address,address,uint256)"), padded(kWallet), padded(kOther)}, word(UInt256(1) << 96)),
      log(token, {topicOf("Approval(address,address,uint256)"), padded(kWallet), padded(kOther)}, word(7)),
      log(token, {topicOf("Approval(address,address,uint256)"), padded(kOther), padded(kWallet)}, word(9)),
      log(nft, {topicOf("ApprovalForAll(address,address,bool)"), padded(kWallet), padded(kOther)}, word(1)),
      log(nft, {transfer, padded(kWallet), padded(kOther), word(42)}, "0x"),
  });
  Json reply = Json::array({Json{{"calls", Json::array({Json{{"status", "0x1"}, {"logs", logs}}})}}});
  Json seen;
  node.on("eth_simulateV1", [&](const Json& params) {
    seen = params;
    return FakeNode::ok(reply);
  });
  EVMSimulation sim = rpc.simulate({{kWallet, weth, 5, {0xd0, 0xe3, 0x0d, 0xb0}}}, weth);
  EXPECT_EQ(seen[0]["traceTransfers"], true);
  EXPECT_EQ(seen[0]["blockStateCalls"][0]["calls"][0]["to"], weth);
  EXPECT_EQ(seen[1], "latest");
  EXPECT_FALSE(sim.revert.has_value());
  EXPECT_EQ(sim.changes.at(token), BigInt(-750'000));
  EXPECT_EQ(sim.changes.at(native), BigInt(-5));  // counted once: the trace, not the wrapper's event too
  EXPECT_EQ(sim.changes.at(weth), BigInt(5));
  EXPECT_EQ(sim.nfts, std::set<std::string>{nft});
  ASSERT_EQ(sim.grants.size(), 3u);
  EXPECT_EQ(sim.grants[0], (EVMSimulation::Grant{"approval", token, kOther, true}));
  EXPECT_EQ(sim.grants[1], (EVMSimulation::Grant{"approval", token, kOther, false}));
  EXPECT_EQ(sim.grants[2], (EVMSimulation::Grant{"approvalForAll", nft, kOther, true}));

  // Without traced transfers the wrapper's withdrawal moves both balances.
  Json untraced = Json::array({Json{{"calls", Json::array({Json{
      {"status", "0x1"},
      {"logs", Json::array({log(weth, {topicOf("Withdrawal(address,uint256)"), padded(kWallet)}, word(8)),
                            log(kOther, {topicOf("Deposit(address,uint256)"), padded(kWallet)}, word(99))})}}})}}});
  EVMSimulation w = EVMSimulation::read(untraced, kWallet, weth);
  EXPECT_EQ(w.changes.at(weth), BigInt(-8));
  EXPECT_EQ(w.changes.at(native), BigInt(8));
  EXPECT_EQ(w.changes.count(kOther), 0u);  // not the wrapped coin: its Deposit event proves nothing

  Json reverted = Json::array({Json{{"calls", Json::array({Json{{"status", "0x0"}, {"error", {{"message", "execution reverted: STF"}}}}})}}});
  EXPECT_EQ(EVMSimulation::read(reverted, kWallet).revert, "execution reverted: STF");
  Json bare = Json::array({Json{{"calls", Json::array({Json{{"status", "0x0"}}})}}});
  EXPECT_EQ(EVMSimulation::read(bare, kWallet).revert, "reverted");
  for (const Json& bad : {Json::object(), Json::array(), Json::array({Json{{"calls", 1}}}),
                          Json::array({Json{{"calls", Json::array({Json{{"logs", Json::array()}}})}}}),
                          Json::array({Json{{"calls", Json::array({Json{{"status", "0x1"},
                                                                        {"logs", Json::array({Json{{"address", 5}, {"topics", Json::array()}}})}}})}}}),
                          Json::array({Json{{"calls", Json::array({Json{{"status", "0x1"},
                                                                        {"logs", Json::array({Json{{"address", kWallet}, {"topics", Json::array({"0x01"})}, {"data", 7}}})}}})}}})}) {
    EXPECT_EQ(errorOf([&] { (void)EVMSimulation::read(bad, kWallet); }), "eth_simulateV1: unexpected reply") << bad;
  }
}

TEST(EVMNodesTest, Check) {
  auto healthy = [](FakeNode& n) {
    n.result("eth_chainId", "0x2105");
    n.result("eth_getBlockByNumber", Json{{"number", "0x10"}, {"transactions", Json::array({"0xaaaa"})}});
    n.result("eth_getTransactionReceipt", Json{{"status", "0x1"}});
    n.result("eth_getTransactionCount", "0x0");
    n.on("eth_estimateGas", [](const Json& params) {
      // Honours the override only when one is sent.
      return FakeNode::ok(params.size() == 3 ? "0xa8c8" : "0x5208");
    });
  };
  struct Case {
    std::string name;
    std::function<void(FakeNode&)> setup;
    std::optional<std::string> problem;
  };
  const std::string key =
      "The node turned the key away: copy the whole address again, key included — or this plan doesn't serve these calls.";
  const std::vector<Case> cases{
      {"a usable node", healthy, std::nullopt},
      {"another network", [&](FakeNode& n) { healthy(n); n.result("eth_chainId", "0x1"); },
       "That node is on network 1, not Base."},
      {"no latest block", [&](FakeNode& n) { healthy(n); n.result("eth_getBlockByNumber", nullptr); },
       "The node didn't give its latest block."},
      {"no receipts",
       [&](FakeNode& n) {
         healthy(n);
         n.on("eth_getTransactionReceipt", [](const Json&) { return FakeNode::rpcError(-32601, "Method not found"); });
       },
       "The node doesn't give transaction receipts."},
      {"overrides ignored", [&](FakeNode& n) { healthy(n); n.result("eth_estimateGas", "0x5208"); },
       "The node ignores state overrides in a dry run (21000 gas): batched moves would go out short of gas."},
      {"key refused by status", [&](FakeNode& n) { n.on("eth_chainId", [](const Json&) { return httpStatus(401); }); },
       key},
      {"key refused by text",
       [&](FakeNode& n) { n.on("eth_chainId", [](const Json&) { return FakeNode::rpcError(-32000, "Invalid API key"); }); },
       key},
      {"anything else",
       [&](FakeNode& n) {
         healthy(n);
         n.on("eth_getTransactionCount", [](const Json&) { return FakeNode::rpcError(-32602, "invalid params"); });
       },
       "The node didn't answer: EVM RPC eth_getTransactionCount: invalid params"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNode n;
    c.setup(n);
    testing::RedirectClient redirect(n.url());
    FixedClock clock;
    EXPECT_EQ(EVMNodes::check("https://base.example/v2/key", 8453, redirect, clock), c.problem);
  }
  FixedClock clock;
  EXPECT_EQ(EVMNodes::check("http://127.0.0.1:1/", 8453, CurlHttpClient::shared(), clock),
            "A node's address starts with https://.");
}

TEST(ENSTest, Resolve) {
  const std::string registry(ENS::kRegistry);
  const std::string resolver = "0x4976fb03c32e5b8cfe2b6ccb31c09ba78ebaba41";
  const std::string target = "0xd8da6bf26964af9d7eed9e10c46ae63b39c5ef4a";
  struct Case {
    std::string name;
    std::string resolverWord;  // the registry's answer
    std::optional<std::string> addressWord;  // nothing: the resolver reverts
    std::string result;
  };
  const std::vector<Case> cases{
      {"vitalik.eth", padded(resolver), padded(target), "0xd8dA6Bf26964AF9D7eeD9E10C46ae63B39c5ef4a"},
      {"Vitalik.ETH", padded(resolver), padded(target), "0xd8dA6Bf26964AF9D7eeD9E10C46ae63B39c5ef4a"},
      {"nobody-here.eth", padded("0x0000000000000000000000000000000000000000"), std::nullopt,
       "nobody-here.eth has no resolver on Ethereum: it isn't registered, or it lives elsewhere."},
      {"offchain.eth", padded(resolver), std::nullopt,
       "offchain.eth's resolver doesn't answer on Ethereum (an off-chain name?). Paste the address itself."},
      {"empty.eth", padded(resolver), "0x",
       "empty.eth's resolver doesn't answer on Ethereum (an off-chain name?). Paste the address itself."},
      {"zero.eth", padded(resolver), padded("0x0000000000000000000000000000000000000000"), "zero.eth points at no address."},
      {"-bad.eth", "", std::nullopt, "-bad.eth isn't an ENS name orwenna reads: plain letters, digits and hyphens, ending in .eth."},
      {"name.com", "", std::nullopt, "name.com isn't an ENS name orwenna reads: plain letters, digits and hyphens, ending in .eth."},
      {"a..eth", "", std::nullopt, "a..eth isn't an ENS name orwenna reads: plain letters, digits and hyphens, ending in .eth."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNode node;
    std::vector<std::string> calls;
    node.on("eth_call", [&](const Json& params) {
      const std::string to = params[0]["to"];
      calls.push_back(to + " " + params[0]["data"].get<std::string>());
      if (to == registry) return FakeNode::ok(c.resolverWord);
      if (!c.addressWord) return FakeNode::rpcError(3, "execution reverted");
      return FakeNode::ok(*c.addressWord);
    });
    FixedClock clock;
    EVMRPC rpc(CurlHttpClient::shared(), clock, node.url(), 1);
    EXPECT_EQ(errorOf([&] { std::string a = ENS::resolve(c.name, rpc); throw std::runtime_error(a); }), c.result);
    if (c.name == "vitalik.eth") {
      const std::string node = toHex(ENS::namehash("vitalik.eth"));
      EXPECT_EQ(node, "ee6c4522aab0003e8d14cd40a6af439055fd2577951148c14b6cea9a53475835");  // EIP-137 example
      ASSERT_EQ(calls.size(), 2u);
      EXPECT_EQ(calls[0], registry + " 0x0178b8bf" + node);
      EXPECT_EQ(calls[1], resolver + " 0x3b3b57de" + node);
    }
  }
  EXPECT_EQ(toHex(ENS::namehash("")), std::string(64, '0'));
  EXPECT_EQ(toHex(ENS::namehash("eth")), "93cdeb708b7545dc668eb9280176169d1c33cfd8ed6f04690a0bcc88a93fc4ae");
}

TEST(EVMRPCTest, ANetworksClientAsksTheNodesTheCallerGivesElseItsDefaults) {
  const EVMNetwork& base = *EVMNetwork::byKey("base");
  FixedClock clock;
  EVMRPC defaults = EVMRPC::forNetwork(CurlHttpClient::shared(), clock, base);
  EXPECT_EQ(defaults.url(), base.defaultNodes.front());
  EXPECT_EQ(defaults.fallbacks(), std::vector<std::string>(base.defaultNodes.begin() + 1, base.defaultNodes.end()));
  EXPECT_EQ(defaults.chainId(), 8453u);
  EXPECT_TRUE(defaults.followsSettings());

  FakeNode main, fallback;
  main.on("eth_chainId", [](const Json&) { return FakeResponse::text("busy", 503); });
  fallback.result("eth_chainId", "0x2105");
  EVMRPC given = EVMRPC::forNetwork(CurlHttpClient::shared(), clock, base, {main.url() + "/", fallback.url()});
  EXPECT_EQ(given.url(), main.url() + "/");  // as written
  EXPECT_EQ(given.fallbacks(), std::vector<std::string>{fallback.url()});
  EXPECT_EQ(given.call("eth_chainId", Json::array()), "0x2105");
  EXPECT_EQ(main.requests().size(), 1u);
}

}  // namespace
}  // namespace orwenna
