// The gas lookup against local fake EVM nodes speaking JSON-RPC: a line per
// network read in parallel, a failing node that spoils only its own line,
// exact dollar costs, prices that are unknown, and network names.
#include "app/gas_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "chains/solana_fake_node.h"  // FixedClock and a plain JSON-RPC node

namespace orwenna {
namespace {

using testing::FixedClock;
using FakeNode = testing::FakeSolanaNode;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    out.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

const std::string kFooter =
    "Relay's own fee for a bridge is apart: it is on the move's card. Tempo has no gas coin: its fees come out of "
    "the USDC.";

TEST(GasLookupTest, DollarCostIsExactAndGweiReadsForTinyPrices) {
  struct Cost {
    const char* wei;
    std::uint64_t gas;
    const char* price;
    const char* usd;
  };
  const std::vector<Cost> costs{
      {"1", 1, "1", "0.000000000000000001"},
      {"20000000000", 65000, "3000", "3.9"},
      {"123456789012", 500000, "3456.78", "213.38147956045068"},
      {"987654321", 65000, "0.2031", "0.0000130385185186815"},
  };
  for (const auto& c : costs) {
    EXPECT_EQ(Agent::gasCostUSD(*parseUInt256(c.wei), c.gas, Decimal::parse(c.price)), Decimal::parse(c.usd))
        << c.wei << " × " << c.gas << " × " << c.price;
  }

  const std::vector<std::pair<const char*, const char*>> gwei{
      {"20000000000", "20"},     {"1500000000", "1.5"},   {"1200000", "0.0012"}, {"1234567", "0.00123"},
      {"999999999", "1"},        {"1", "0.000000001"},    {"0", "0"},
      {"123456789012345", "123,456.79"},
  };
  for (const auto& [wei, text] : gwei) EXPECT_EQ(Agent::gweiText(*parseUInt256(wei)), text) << wei;
}

TEST(GasLookupTest, EveryNetworkOnItsOwnNodeWithOneFailing) {
  FakeNode ethereum, base, polygon, bnb, tempo;
  // The Ethereum node answers only once Base's has been asked too: the reads
  // overlap, or this one gives up and the price below is missing.
  std::mutex mutex;
  std::condition_variable cv;
  bool baseAsked = false;
  std::atomic<bool> overlapped{false};
  ethereum.on("eth_gasPrice", [&](const Json&) {
    std::unique_lock lock(mutex);
    overlapped = cv.wait_for(lock, std::chrono::seconds(10), [&] { return baseAsked; });
    return FakeNode::ok("0x4a817c800");  // 20 gwei
  });
  base.on("eth_gasPrice", [&](const Json&) {
    {
      std::lock_guard lock(mutex);
      baseAsked = true;
    }
    cv.notify_all();
    return FakeNode::ok("0x124f80");  // 0.0012 gwei
  });
  polygon.on("eth_gasPrice", [](const Json&) { return FakeNode::rpcError(-32000, "header not found"); });
  bnb.result("eth_gasPrice", "0x3b9aca00");    // 1 gwei, but no BNB price
  tempo.result("eth_gasPrice", "0x4a817c800");

  const std::map<std::string, std::string> urls{{"ethereum", ethereum.url()}, {"base", base.url()},
                                                {"polygon", polygon.url()},   {"bnb", bnb.url()},
                                                {"tempo", tempo.url()}};
  std::vector<std::string> pricesAsked;
  FixedClock clock;
  Agent::GasLookupInputs inputs{
      CurlHttpClient::shared(), clock,
      [&](const std::string& coin) -> std::optional<Decimal> {
        pricesAsked.push_back(coin);
        if (coin == "ETH") return Decimal(3000);
        if (coin == "POL") return Decimal::parse("0.2");
        return std::nullopt;
      },
      [&](const EVMNetwork& n) {
        auto it = urls.find(n.key);
        return it == urls.end() ? std::vector<std::string>{} : std::vector<std::string>{it->second};
      }};

  const std::string text = Agent::gasLookup("", inputs);
  EXPECT_TRUE(overlapped);
  const auto lines = linesOf(text);
  ASSERT_EQ(lines.size(), EVMNetwork::all().size() + 2) << text;
  EXPECT_EQ(lines.back(), kFooter);
  EXPECT_NE(lines.front().find("a transfer ≈ 65k gas"), std::string::npos) << lines.front();

  std::map<std::string, std::string> expected{
      {"Ethereum",
       "Ethereum: 20 gwei (ETH $3,000.00): a transfer ≈ $3.90 · a Uniswap swap ≈ $12.00 · approve + Aave supply ≈ "
       "$15.00 · approve + Morpho deposit ≈ $30.00 · an exact approve + Relay's deposit ≈ $9.00."},
      {"Base",
       "Base: 0.0012 gwei (ETH $3,000.00): a transfer ≈ $0.00023 · a Uniswap swap ≈ $0.00072 · approve + Aave "
       "supply ≈ $0.0009 · approve + Morpho deposit ≈ $0.0018 · an exact approve + Relay's deposit ≈ $0.00054."},
      {"Polygon", "Polygon: gas couldn't be read."},
      {"BNB Chain", "BNB Chain: 1 gwei; the dollar cost is unknown (no BNB price)."},
      {"Tempo", "Tempo: 20 gwei; no gas coin, the fee comes out of the USDC."},
  };
  for (std::size_t i = 0; i < EVMNetwork::all().size(); ++i) {
    const EVMNetwork& n = EVMNetwork::all()[i];
    auto it = expected.find(n.name);
    EXPECT_EQ(lines[i + 1], it == expected.end() ? n.name + ": gas couldn't be read." : it->second);
  }
  // One price per coin, however many networks burn it.
  std::sort(pricesAsked.begin(), pricesAsked.end());
  EXPECT_EQ(pricesAsked, (std::vector<std::string>{"BNB", "ETH", "HYPE", "POL"}));

  for (const FakeNode* node : {&ethereum, &base, &bnb, &tempo}) {
    auto bodies = node->bodies();
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0].dump(), R"({"jsonrpc":"2.0","id":1,"method":"eth_gasPrice","params":[]})");
  }
}

TEST(GasLookupTest, OneNetworkByNameAndUnknownNames) {
  FakeNode node;
  node.result("eth_gasPrice", "0x3b9aca00");
  FixedClock clock;
  std::vector<std::string> nodesAsked;
  Agent::GasLookupInputs inputs{CurlHttpClient::shared(), clock, nullptr, [&](const EVMNetwork& n) {
                                  nodesAsked.push_back(n.key);
                                  return std::vector<std::string>{node.url()};
                                }};
  const std::vector<std::pair<std::string, std::string>> named{
      {"base", "base"}, {" BNB Chain ", "bnb"}, {"bsc", "bnb"}, {"эфир", "ethereum"}, {"HyperEVM", "hyperevm"}};
  for (const auto& [arg, key] : named) {
    nodesAsked.clear();
    const auto lines = linesOf(Agent::gasLookup(arg, inputs));
    EXPECT_EQ(nodesAsked, std::vector<std::string>{key}) << arg;
    ASSERT_EQ(lines.size(), 3u) << arg;
    EXPECT_EQ(lines[1], EVMNetwork::byKey(key)->name + ": 1 gwei; the dollar cost is unknown (no " +
                            *EVMNetwork::byKey(key)->gasCoin + " price).");
    EXPECT_EQ(lines[2], kFooter);
  }

  nodesAsked.clear();
  for (std::string unknown : {"solana", "Hyperliquid", "avalanche"}) {
    const std::string text = Agent::gasLookup("  " + unknown + " ", inputs);
    EXPECT_TRUE(text.starts_with("No EVM network by «" + unknown + "»")) << text;
    EXPECT_NE(text.find("ethereum, arbitrum, base"), std::string::npos) << text;
  }
  EXPECT_TRUE(nodesAsked.empty());
}

}  // namespace
}  // namespace orwenna
