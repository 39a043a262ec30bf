// The Relay bridge client over HTTP: quotes for USDC from Solana to the
// Hyperliquid perp balance (POST <root>/quote/v2) and request status
// (GET <root>/intents/status/v3). The answer's Solana instructions come back
// as SolanaInstructions for the executor to compile, check and sign.
//
// Thread-safe as far as its HttpClient is. Quotes that cannot be read throw
// ExecutionError with Relay's own message; transport failures throw NetError.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "base/http.h"
#include "base/json.h"
#include "execution/bridge_client.h"
#include "execution/bridge_recovery.h"

namespace orwenna {

class RelayClient final : public BridgeClient {
 public:
  // Relay's chain ids for Solana and Hyperliquid, and Hyperliquid's perp USDC.
  static constexpr std::uint64_t kSolanaChainId = 792703809;
  static constexpr std::uint64_t kHyperliquidChainId = 1337;
  static constexpr const char* kHyperliquidUSDC = "0x00000000000000000000000000000000";
  static constexpr std::chrono::milliseconds kTimeLimit{30000};

  // `root` without a trailing slash (ORWENNA_RELAY_API).
  RelayClient(HttpClient& http, std::string root);

  RelayDeposit quoteSolanaToHyperliquid(const std::string& sender, const std::string& recipient,
                                        const Decimal& usdc) override;
  std::string relayStatus(const std::string& requestId) override;

  // The quote's answer read on its own. Throws ExecutionError.
  [[nodiscard]] static RelayDeposit readQuote(const Json& answer);

 private:
  HttpClient& http_;
  std::string root_;
  HttpBridgeStatus status_;
};

}  // namespace orwenna
