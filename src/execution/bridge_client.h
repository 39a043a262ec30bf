// BridgeClient: what the executor needs from the bridge service that brings
// USDC from Solana to Hyperliquid (Relay): a quote carrying the Solana
// instructions to sign, and the status of a request. The execution library
// only declares it; the client over HTTP lives in the DeFi library, and tests
// put a fake server behind that same client.
//
// Implementations are thread-safe and throw ExecutionError (with the
// service's own words) when a quote cannot be read, NetError when the service
// does not answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "chains/solana_transaction.h"

namespace orwenna {

struct RelayDeposit {
  std::string requestId;
  std::string sender;     // the Solana wallet paying
  std::string recipient;  // the Hyperliquid account credited
  std::optional<std::string> amountIn;  // base units of USDC leaving Solana; absent when the quote lacks it
  Decimal spend;     // USDC leaving Solana
  Decimal arriving;  // USDC expected on Hyperliquid
  std::string feesUSD;
  int seconds = 0;  // the service's time estimate
  std::vector<SolanaInstruction> instructions;
};

class BridgeClient {
 public:
  virtual ~BridgeClient() = default;
  // An exact-input quote of `usdc` from the Solana wallet `sender` to the
  // Hyperliquid perp balance of `recipient`.
  virtual RelayDeposit quoteSolanaToHyperliquid(const std::string& sender, const std::string& recipient,
                                                const Decimal& usdc) = 0;
  // The raw status word of a request ("success", "refund", "failure",
  // "pending", …).
  virtual std::string relayStatus(const std::string& requestId) = 0;
};

}  // namespace orwenna
