// The EVM networks the system works on: chain ids, gas coins, USDC contracts,
// fee caps, and the public nodes and explorers each one uses by default. Which
// nodes a client really asks is the caller's (the wiring root resolves
// ORWENNA_EVM_RPC_<KEY>); nothing here reads the environment. The table is
// immutable; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "base/uint.h"

namespace orwenna {

struct EVMNetwork {
  std::string name;       // display name
  std::string key;        // short lower-case key ("base", "hyperevm")
  std::uint64_t chainId = 0;
  std::string usdc;       // USDC contract (lower case)
  std::string relayChain; // the network's identifier at the bridge service
  std::string explorer;   // block-explorer base URL
  std::optional<UInt256> gasFloor;  // wei of the gas coin; unset where not fixed
  Decimal topupUSD;
  std::optional<std::string> gasCoin;   // none where fees are paid in a token
  std::optional<std::string> feeToken;
  int usdcDecimals = 6;
  UInt256 feeCapWei;      // largest gasLimit × maxFeePerGas signed
  std::vector<std::string> defaultNodes;  // public nodes: first the main one, the rest fallbacks

  static std::span<const EVMNetwork> all();
  [[nodiscard]] static const EVMNetwork* byChainId(std::uint64_t chainId);
  // By key or display name, case-insensitive.
  [[nodiscard]] static const EVMNetwork* byKey(std::string_view keyOrName);

  // The coin named when the wallet cannot pay gas: "BNB" on 56, "POL" on
  // 137, "HYPE" on 999, "USD" on 4217, "ETH" elsewhere.
  static std::string gasCoinForGas(std::uint64_t chainId);

  // Largest fee signed on the chain, in wei; 0 for a chain not in the table.
  static UInt256 feeCap(std::uint64_t chainId);
  // Nothing when `feeWei` is within the cap, else the refusal.
  [[nodiscard]] static std::optional<std::string> feeProblem(const UInt256& feeWei, std::uint64_t chainId);
};

// "1.5" for 1500000000000000000 with 18 decimals: exact, no trailing zeros.
std::string formatUnits(const UInt256& amount, int decimals);

}  // namespace orwenna
