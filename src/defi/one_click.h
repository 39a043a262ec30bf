// The 1-Click client (NEAR Intents) over HTTP: tokens, quotes with a deposit
// address, and the status of a deposit. Its answers come in two shapes — the
// published one nesting {quoteRequest, quote, signature} and the status under
// {quoteResponse, status, swapDetails}, and a flat one with the fields at the
// top — so every field is read nested first, then at the top level. The
// quote's echo of the request and its signature are kept for the binding
// check made before funding.
//
// Thread-safe as far as its HttpClient is. Failures throw OneClickError with
// the finished sentence; nothing here signs or sends.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "base/http.h"
#include "base/json.h"
#include "execution/execution_error.h"

namespace orwenna {

class OneClickError : public ExecutionError {
 public:
  using ExecutionError::ExecutionError;
};

struct OneClick {
  // Asset ids the app moves through 1-Click.
  static constexpr const char* kSolanaUSDC = "nep141:sol-5ce3bf3a31af18be40ba30f721101b4341690186.omft.near";
  static constexpr const char* kSOL = "nep141:sol.omft.near";
  static constexpr const char* kNEAR = "nep141:wrap.near";
  static constexpr const char* kBaseUSDC = "nep141:base-0x833589fcd6edb6e08f4c7c32d4f71b54bda02913.omft.near";
  static constexpr const char* kArbitrumUSDC = "nep141:arb-0xaf88d065e77c8cc2239327c5edb3a432268e5831.omft.near";
  static constexpr const char* kEthereumUSDC = "nep141:eth-0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48.omft.near";
  static constexpr const char* kHyperliquidUSDC = "1cs_v1:hypercore:hip1:0x6d1e7cde53ba9467b783cb7c530ce054";
  static constexpr const char* kPortal = "https://partners.near-intents.org";
  static constexpr std::chrono::milliseconds kTimeLimit{30000};
  static constexpr std::int64_t kQuoteSeconds = 1800;

  struct Token {
    std::string assetId;
    std::string blockchain;
    std::string symbol;
    int decimals = 0;
    std::optional<std::string> contract;
    std::optional<Decimal> price;
  };

  struct QuoteRequest {
    std::string swapType = "EXACT_INPUT";
    int slippageTolerance = 100;  // basis points
    std::string originAsset;
    std::string destinationAsset;
    std::string amount;  // base units of the fixed side
    std::string refundTo;
    std::string refundType = "ORIGIN_CHAIN";
    std::string recipient;
    std::string recipientType = "DESTINATION_CHAIN";
    bool dry = false;
    int quoteWaitingTimeMs = 3000;
  };

  struct Quote {
    std::optional<std::string> depositAddress;
    std::string amountIn;  // base units
    std::string amountInFormatted;
    std::optional<std::string> minAmountIn;
    std::string amountOutFormatted;
    std::optional<std::string> minAmountOut;
    std::optional<std::string> deadline;  // ISO-8601
    std::optional<int> timeEstimate;      // seconds
    std::optional<Decimal> amountInUSD;
    std::optional<Decimal> amountOutUSD;
    Json quoteRequest;  // the service's echo of the request (empty when absent)
    std::string signature;
  };

  struct Status {
    std::string status;
    std::optional<std::string> amountOutFormatted;
    std::optional<std::string> refundedFormatted;
    std::vector<std::string> destinationTxs;
  };

  // `root` without "/v0" or a trailing slash (ORWENNA_ONECLICK_API); `token`
  // is sent as X-API-Key when there is one.
  OneClick(HttpClient& http, std::string root, std::optional<std::string> token);

  std::vector<Token> tokens();
  // The deadline is `nowMillis` + 30 minutes.
  Quote quote(const QuoteRequest& request, std::int64_t nowMillis);
  Status status(const std::string& depositAddress);

  // The answers read on their own, nested or flat. Throw OneClickError.
  [[nodiscard]] static Quote readQuote(const Json& answer);
  [[nodiscard]] static Status readStatus(const Json& answer);
  // SUCCESS, REFUNDED and FAILED end a deposit; every other status is open.
  [[nodiscard]] static bool isFinal(const std::string& status);
  // The request body as sent (and as the echo is compared with).
  [[nodiscard]] static Json requestBody(const QuoteRequest& request, std::int64_t nowMillis);

 private:
  Json call(HttpRequest request);
  HttpClient& http_;
  std::string root_;
  std::optional<std::string> token_;
};

}  // namespace orwenna
