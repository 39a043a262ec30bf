// The Relay bridge client over HTTP: quotes (POST <root>/quote/v2) and
// request status (GET <root>/intents/status/v3). The executor's quote is USDC
// from Solana to the Hyperliquid perp balance; a wallet move's quote is any
// pair of Solana, EVM networks and Hyperliquid. The answer's Solana
// instructions come back as SolanaInstructions and its EVM steps as calls,
// for the caller to check, sign and send through its chain's pipeline.
//
// Thread-safe as far as its HttpClient is. Quotes that cannot be read throw
// ExecutionError with Relay's own message; transport failures throw NetError.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/http.h"
#include "base/json.h"
#include "execution/bridge_client.h"
#include "execution/bridge_recovery.h"

namespace orwenna {

// Where a wallet move's money leaves from or lands: Relay's chain id and the
// USDC there.
struct RelayEnd {
  std::uint64_t chainId = 0;
  std::string currency;
};

struct RelayQuoteRequest {
  std::string user;       // the paying wallet on the origin chain
  std::string recipient;  // the wallet credited at the destination
  RelayEnd origin;
  RelayEnd destination;
  std::string amount;  // base units of the origin currency
};

// A quote of any pair, as read from the answer.
struct RelayQuote {
  using EVMStep = RelayEVMDeposit::Call;
  std::string requestId;
  std::string sender;
  std::string recipient;
  std::optional<std::string> amountIn;   // base units
  std::optional<std::string> amountOut;  // base units
  Decimal amountInFormatted;
  Decimal amountOutFormatted;
  std::string feesUSD;
  int seconds = 0;
  std::vector<SolanaInstruction> solanaInstructions;
  std::vector<EVMStep> evm;
  // A move out of Hyperliquid: the nonce mapping to sign and post to
  // /authorize, then a sendAsset to Relay's depository with the same nonce.
  struct HyperliquidSteps {
    Bytes mappingId;  // 32 bytes
    std::uint64_t mappingNonce = 0;
    std::string wallet;
    std::string depositor;
    std::string signName;     // the typed data's domain, as Relay asks it
    std::string signVersion;
    std::string authorizeEndpoint;
    Json authorizeBody;
    std::string destination;  // Relay's depository
    std::string token;
    std::string amount;       // as Relay writes it
    std::uint64_t nonce = 0;
    std::string sourceDex;
    std::string destinationDex;
    std::string fromSubAccount;
  };
  std::optional<HyperliquidSteps> hyperliquid;
};

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

  // An exact-input quote of any pair. Throws ExecutionError ending "Nothing
  // was signed." when Relay gives no quote or nothing to sign.
  RelayQuote quote(const RelayQuoteRequest& request);

  // Posts the signed nonce mapping to Relay's /authorize. Throws
  // ExecutionError with Relay's message when it is refused.
  void authorize(const RelayQuote::HyperliquidSteps& steps, const Bytes& signature);

  // The answers read on their own. Throw ExecutionError.
  [[nodiscard]] static RelayDeposit readQuote(const Json& answer);
  [[nodiscard]] static RelayQuote readAnyQuote(const Json& answer);

 private:
  Json post(const Json& body);
  HttpClient& http_;
  std::string root_;
  HttpBridgeStatus status_;
};

}  // namespace orwenna
