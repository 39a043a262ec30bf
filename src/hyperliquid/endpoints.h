// Where Hyperliquid's API is reached: the one home of its public roots. The
// info reads (hyperliquid/info.h) and the exchange endpoint
// (hyperliquid/exchange.h) take a root from this value; which roots the user
// really wants (ORWENNA_HL_API, ORWENNA_HL_TESTNET_API) is resolved once at the
// wiring root and passed down, so nothing here reads the environment.
//
// A plain value; thread-safe.
#pragma once

#include <string>

namespace orwenna {

// Hyperliquid's API roots, without a trailing slash: "/info" and "/exchange"
// are appended to them.
struct HLEndpoints {
  static constexpr const char* kMainnet = "https://api.hyperliquid.xyz";
  static constexpr const char* kTestnet = "https://api.hyperliquid-testnet.xyz";

  std::string mainnet = kMainnet;
  std::string testnet = kTestnet;

  const std::string& root(bool isMainnet) const { return isMainnet ? mainnet : testnet; }
};

}  // namespace orwenna
