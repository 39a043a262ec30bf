#include "chains/evm_network.h"

#include <vector>

#include "base/text.h"

namespace orwenna {

namespace {

UInt256 wei(const char* text) { return *parseUInt256(text); }

std::vector<EVMNetwork> buildTable() {
  auto net = [](std::string name, std::string key, std::uint64_t chainId, std::string usdc, std::string explorer,
                std::optional<UInt256> gasFloor, const char* topup, std::optional<std::string> gasCoin,
                std::optional<std::string> feeToken, int usdcDecimals, const char* cap,
                std::vector<std::string> nodes) {
    EVMNetwork n;
    n.name = std::move(name);
    n.key = std::move(key);
    n.chainId = chainId;
    n.usdc = std::move(usdc);
    n.relayChain = std::to_string(chainId);
    n.explorer = std::move(explorer);
    n.gasFloor = gasFloor;
    n.topupUSD = Decimal::parse(topup);
    n.gasCoin = std::move(gasCoin);
    n.feeToken = std::move(feeToken);
    n.usdcDecimals = usdcDecimals;
    n.feeCapWei = wei(cap);
    n.defaultNodes = std::move(nodes);
    return n;
  };
  return {
      net("Ethereum", "ethereum", 1, "0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48", "https://etherscan.io",
          wei("800000000000000"), "2.5", "ETH", std::nullopt, 6, "50000000000000000",
          {"https://ethereum-rpc.publicnode.com", "https://eth.drpc.org"}),
      net("Arbitrum", "arbitrum", 42161, "0xaf88d065e77c8cc2239327c5edb3a432268e5831", "https://arbiscan.io",
          std::nullopt, "0.05", "ETH", std::nullopt, 6, "10000000000000000",
          {"https://arb1.arbitrum.io/rpc", "https://arbitrum-one-rpc.publicnode.com"}),
      net("Base", "base", 8453, "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913", "https://basescan.org",
          wei("5000000000000"), "0.03", "ETH", std::nullopt, 6, "10000000000000000",
          {"https://mainnet.base.org", "https://base-rpc.publicnode.com"}),
      net("Robinhood Chain", "robinhood", 4663, "0x5fc5360d0400a0fd4f2af552add042d716f1d168",
          "https://explorer.chain.robinhood.com", std::nullopt, "0.08", "ETH", std::nullopt, 6, "10000000000000000",
          {"https://rpc.chain.robinhood.com"}),
      net("Polygon", "polygon", 137, "0x3c499c542cef5e3811e1192ce70d8cc03d5c3359", "https://polygonscan.com",
          std::nullopt, "0.06", "POL", std::nullopt, 6, "10000000000000000000",
          {"https://polygon-rpc.com", "https://polygon-bor-rpc.publicnode.com"}),
      net("Tempo", "tempo", 4217, "", "https://explore.tempo.xyz", std::nullopt, "0", std::nullopt, "USDC", 6,
          "10000000000000000000", {"https://rpc.tempo.xyz"}),
      net("HyperEVM", "hyperevm", 999, "0xb88339cb7199b77e23db6e890353e22632ba630f", "https://hyperevmscan.io",
          wei("500000000000000"), "0.15", "HYPE", std::nullopt, 6, "20000000000000000",
          {"https://rpc.hyperliquid.xyz/evm"}),
      net("Optimism", "optimism", 10, "0x0b2c639c533813f4aa9d7837caf62653d097ff85", "https://optimistic.etherscan.io",
          wei("5000000000000"), "0.03", "ETH", std::nullopt, 6, "10000000000000000",
          {"https://mainnet.optimism.io", "https://optimism-rpc.publicnode.com"}),
      net("BNB Chain", "bnb", 56, "0x8ac76a51cc950d9822d68b83fe1ad97b32cd580d", "https://bscscan.com", std::nullopt,
          "0.15", "BNB", std::nullopt, 18, "10000000000000000",
          {"https://bsc-dataseed.bnbchain.org", "https://bsc-rpc.publicnode.com"}),
  };
}

const std::vector<EVMNetwork>& table() {
  static const std::vector<EVMNetwork> networks = buildTable();
  return networks;
}

}  // namespace

std::span<const EVMNetwork> EVMNetwork::all() { return table(); }

const EVMNetwork* EVMNetwork::byChainId(std::uint64_t chainId) {
  for (const auto& n : table()) {
    if (n.chainId == chainId) return &n;
  }
  return nullptr;
}

const EVMNetwork* EVMNetwork::byKey(std::string_view keyOrName) {
  const std::string wanted = text::asciiLowercased(text::trimmed(keyOrName));
  for (const auto& n : table()) {
    if (n.key == wanted || text::asciiLowercased(n.name) == wanted) return &n;
  }
  return nullptr;
}

std::string EVMNetwork::gasCoinForGas(std::uint64_t chainId) {
  switch (chainId) {
    case 56: return "BNB";
    case 137: return "POL";
    case 999: return "HYPE";
    case 4217: return "USD";
    default: return "ETH";
  }
}

UInt256 EVMNetwork::feeCap(std::uint64_t chainId) {
  const EVMNetwork* n = byChainId(chainId);
  return n ? n->feeCapWei : UInt256(0);
}

std::optional<std::string> EVMNetwork::feeProblem(const UInt256& feeWei, std::uint64_t chainId) {
  const EVMNetwork* n = byChainId(chainId);
  if (!n) return "orwenna doesn't sign on network " + std::to_string(chainId) + ".";
  if (feeWei <= n->feeCapWei) return std::nullopt;
  const std::string coin = gasCoinForGas(chainId);
  return "A network fee of " + formatUnits(feeWei, 18) + " " + coin + " is more than orwenna signs on " + n->name +
         " (up to " + formatUnits(n->feeCapWei, 18) + " " + coin + ").";
}

std::string formatUnits(const UInt256& amount, int decimals) {
  std::string digits = toDecimalString(amount);
  const auto places = static_cast<std::size_t>(decimals < 0 ? 0 : decimals);
  if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
  std::string whole = digits.substr(0, digits.size() - places);
  std::string fraction = digits.substr(digits.size() - places);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return fraction.empty() ? whole : whole + "." + fraction;
}

}  // namespace orwenna
