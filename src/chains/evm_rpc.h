// The EVM JSON-RPC client: a node with fallbacks, the retry rules shared with
// the Solana client (RPCRetry, chains/rpc_retry.h), the reading of node errors (a wallet short of
// gas, a refused key, a missing method), fees, gas estimates, sending,
// receipts and dry runs through eth_simulateV1; and the check of a node the
// user pastes.
//
// Calls block the calling thread; an EVMRPC holds no mutable state, so one
// may be used from several threads at once. Waits go through the injected
// Clock.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/http.h"
#include "base/json.h"
#include "base/uint.h"
#include "chains/chain_error.h"
#include "chains/evm_network.h"
#include "signing/wallet_error.h"

namespace orwenna {

class EVMRPCError : public ChainError {
 public:
  enum class Kind { http, notJson, rpc, badAnswer, insufficientFunds };
  EVMRPCError(Kind kind, int httpStatus, const std::string& message, std::string nodeText = {})
      : ChainError(message), kind_(kind), httpStatus_(httpStatus), nodeText_(std::move(nodeText)) {}
  Kind kind() const { return kind_; }
  int httpStatus() const { return httpStatus_; }
  const std::string& nodeText() const { return nodeText_; }  // the node's own error message, for rpc

 private:
  Kind kind_;
  int httpStatus_;
  std::string nodeText_;
};

// How a node's error text reads.
struct EVMNodeText {
  [[nodiscard]] static bool lacksMethod(std::string_view text);
  [[nodiscard]] static bool refusesKey(std::string_view text);
  [[nodiscard]] static bool isInsufficientFunds(std::string_view text);
  // The sentence for a wallet short of gas; `wallet` may be empty, then the
  // address is read from the text when it names one.
  static std::string insufficientFundsMessage(std::string_view text, std::string_view wallet, std::uint64_t chainId);
};

struct EVMSimulation {
  struct Grant {
    std::string kind;   // "approval", "nftApproval" or "approvalForAll"
    std::string asset;  // the token or collection
    std::string to;     // spender or operator
    bool unlimited = false;
    bool operator==(const Grant&) const = default;
  };
  // The pseudo-asset under which traced native-coin moves are counted.
  static constexpr std::string_view kNative = "0xeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee";

  std::optional<std::string> revert;
  std::map<std::string, BigInt> changes;  // asset (lower case) → signed change of the wallet's balance
  std::set<std::string> nfts;
  std::vector<Grant> grants;

  // Reads eth_simulateV1's result for `wallet`; throws EVMRPCError
  // "eth_simulateV1: unexpected reply" when it has no recognisable shape.
  static EVMSimulation read(const Json& result, std::string_view wallet, std::string_view wrappedCoin = {});
};

class EVMRPC {
 public:
  struct Fees {
    UInt256 maxPriorityFeePerGas;
    UInt256 maxFeePerGas;
  };
  struct CallRequest {
    std::string from;
    std::string to;
    UInt256 value;
    Bytes data;
    Json toJson() const;
  };
  struct Receipt {
    bool success = false;
    Json raw;
  };

  EVMRPC(HttpClient& http, Clock& clock, std::string url, std::uint64_t chainId, std::vector<std::string> fallbacks = {},
         std::optional<std::string> sendURL = std::nullopt, bool followsSettings = false);
  // A client of `network` that follows the settings: `nodes` in order (the
  // first the main node, the rest fallbacks), as the caller resolved them;
  // empty means the network's default nodes.
  static EVMRPC forNetwork(HttpClient& http, Clock& clock, const EVMNetwork& network,
                           std::vector<std::string> nodes = {});

  const std::string& url() const { return url_; }
  std::uint64_t chainId() const { return chainId_; }
  const std::vector<std::string>& fallbacks() const { return fallbacks_; }
  const std::optional<std::string>& sendURL() const { return sendURL_; }
  bool followsSettings() const { return followsSettings_; }

  // The "result" of one call through the retry loop. `wallet` names the
  // account in an insufficient-funds sentence. Throws EVMRPCError, or
  // NetError after the last retry.
  Json call(const std::string& method, const Json& params, std::string_view wallet = {}) const;

  UInt256 balance(const std::string& address) const;
  Bytes ethCall(const std::string& to, ByteView data) const;
  UInt256 gasPrice() const;
  UInt256 maxPriorityFee() const;
  Fees fees() const;
  Json latestBlock() const;
  // With `code`, the sender's code is overridden for the estimate (a
  // delegation being set up in the same transaction).
  UInt256 estimateGas(const CallRequest& call, std::optional<Bytes> code = std::nullopt) const;
  UInt256 nonce(const std::string& address) const;
  // The transaction hash; "already known" counts as sent.
  std::string sendRaw(ByteView signedTransaction, std::string_view wallet = {}) const;
  std::optional<Receipt> receipt(const std::string& hash) const;
  // Polls every `intervalMillis` until a receipt with a status arrives;
  // throws ChainError "No receipt after N seconds …" past `timeoutSeconds`.
  Receipt waitForReceipt(const std::string& hash, int timeoutSeconds, std::int64_t intervalMillis = 2000) const;
  // `code` overrides accounts' code for the dry run (by address), as a
  // delegation set up in the same transaction would.
  EVMSimulation simulate(const std::vector<CallRequest>& calls, std::string_view wrappedCoin = {},
                         const std::map<std::string, Bytes>& code = {}) const;

 private:
  HttpClient& http_;
  Clock& clock_;
  std::string url_;
  std::uint64_t chainId_;
  std::vector<std::string> fallbacks_;
  std::optional<std::string> sendURL_;
  bool followsSettings_;

  Json callOn(const std::vector<std::string>& nodes, const std::string& method, const Json& params,
              std::string_view wallet) const;
  UInt256 quantity(const std::string& method, const Json& params) const;
};

struct EVMNodes {
  // A node the user pastes for chain `chainId`: nothing when usable, else
  // the sentence saying what is wrong.
  [[nodiscard]] static std::optional<std::string> check(const std::string& url, std::uint64_t chainId, HttpClient& http,
                                                        Clock& clock);
};

}  // namespace orwenna
