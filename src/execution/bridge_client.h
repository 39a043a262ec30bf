// BridgeClient: what the executor needs from the bridge service that brings
// USDC from Solana to Hyperliquid (Relay): a quote carrying the Solana
// instructions to sign, and the status of a request. FundingBridge adds
// Relay's other funding routes (USDC on an EVM network to Hyperliquid, and
// Solana USDC turned into gas on an EVM network); OpeningRoute is NEAR
// Intents' 1Click, which opens a Hyperliquid account without the opening fee.
// The execution library only declares them; the clients over HTTP live in the
// DeFi library, and tests put fake servers behind those same clients.
//
// Implementations are thread-safe and throw ExecutionError (with the
// service's own words) when a quote cannot be read, NetError when the service
// does not answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <cstdint>

#include "base/bytes.h"
#include "base/decimal.h"
#include "base/json.h"
#include "chains/evm_network.h"
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

// A Relay quote from an EVM network: the calls to make there, in order (an
// exact approve, then the deposit).
struct RelayEVMDeposit {
  struct Call {
    std::string id;
    std::string to;
    Bytes data;
    std::string value;  // wei, decimal
    std::uint64_t chainId = 0;
  };
  std::string requestId;
  std::string sender;
  std::string recipient;
  std::optional<std::string> amountIn;  // base units of USDC leaving the network
  Decimal spend;
  Decimal arriving;
  std::string feesUSD;
  int seconds = 0;
  std::vector<Call> calls;
};

class FundingBridge {
 public:
  virtual ~FundingBridge() = default;
  // An exact-input quote of `usdc` from the USDC of `wallet` on `network` to
  // the Hyperliquid perp balance of the same address.
  virtual RelayEVMDeposit quoteEVMToHyperliquid(const EVMNetwork& network, const std::string& wallet,
                                                const Decimal& usdc) = 0;
  // `usdc` of the Solana wallet `sender` turned into the gas coin of
  // `network` for `recipient`. `arriving` is in the gas coin.
  virtual RelayDeposit quoteGasTopup(const std::string& sender, const EVMNetwork& network,
                                     const std::string& recipient, const Decimal& usdc) = 0;
};

// A 1Click quote of Solana USDC to a Hyperliquid account.
struct OpeningQuote {
  std::optional<std::string> depositAddress;
  std::string amountIn;  // base units the deposit must carry, exactly
  Decimal spend;
  Decimal arriving;
  std::optional<std::int64_t> deadline;  // epoch millis; after it the address takes nothing
  int seconds = 0;
  Json bound;  // what the service says the address is bound to (null when it does not say)
  Json asked;  // the request as sent, for comparing with `bound`
};

struct OpeningStatus {
  std::string status;  // "PENDING_DEPOSIT", "PROCESSING", "SUCCESS", "REFUNDED", …
  bool final = false;
  std::optional<std::string> refunded;  // formatted
};

class OpeningRoute {
 public:
  virtual ~OpeningRoute() = default;
  // An exact-input quote of `usdc` from the Solana wallet `sender` to the
  // Hyperliquid account `recipient`, valid 30 minutes from `nowMillis`.
  virtual OpeningQuote quoteOpening(const std::string& sender, const std::string& recipient, const Decimal& usdc,
                                    std::int64_t nowMillis) = 0;
  virtual OpeningStatus openingStatus(const std::string& depositAddress) = 0;
};

}  // namespace orwenna
