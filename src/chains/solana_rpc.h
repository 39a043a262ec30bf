// The Solana JSON-RPC client: which nodes to ask (`SolanaNodes`), how a failed
// call is retried (`RPCRetry`), the calls the system makes (`SolanaRPC`), the
// reading of a simulation, and the check of a node the user pastes.
//
// Calls block the calling thread (run them off the UI thread); they share
// nothing but the node list, which is copied under its lock at the start of
// each call, so one SolanaRPC may be used from several threads at once.
// Waits go through the injected Clock, so tests never really sleep.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/decimal.h"
#include "base/http.h"
#include "base/json.h"
#include "chains/chain_error.h"
#include "signing/wallet_error.h"

namespace orwenna {

// A failed RPC call, with what kind of failure it was, so callers can tell a
// refused key from a node that does not speak Solana.
class SolanaRPCError : public ChainError {
 public:
  enum class Kind { http, notJson, rpc, badAnswer };
  SolanaRPCError(Kind kind, int httpStatus, const std::string& message)
      : ChainError(message), kind_(kind), httpStatus_(httpStatus) {}
  Kind kind() const { return kind_; }
  int httpStatus() const { return httpStatus_; }  // 0 unless kind is http

 private:
  Kind kind_;
  int httpStatus_;
};

struct SolanaNodes {
  static constexpr std::string_view kPublicMainnet = "https://api.mainnet-beta.solana.com";
  // The user's own node (from settings); read and written under one lock.
  static std::optional<std::string> custom();
  static void setCustom(std::optional<std::string> url);
  // ORWENNA_SOLANA_RPC when set, else the public mainnet endpoint.
  static std::string publicEndpoint();
  // The user's node when set, then the public endpoint.
  static std::vector<std::string> list();
};

struct RPCRetry {
  // Thrown by an attempt to steer the loop: retry (`again`) or give up, with
  // the underlying error that is rethrown when the loop ends.
  class Again : public std::runtime_error {
   public:
    Again(bool again, std::exception_ptr error, const std::string& message)
        : std::runtime_error(message), again(again), error(std::move(error)) {}
    bool again;
    std::exception_ptr error;
  };

  static constexpr std::array<std::int64_t, 4> kWaitsMillis{1000, 2000, 4000, 8000};

  // Runs `attempt` against the nodes in list order, wrapping, at most five
  // times with the waits above between tries. Retried: a NetError of kind
  // connection or timeout, or Again with `again` true. Anything else, and the
  // last failure, is thrown. REQUIRES: nodes is not empty.
  static Json run(const std::vector<std::string>& nodes, Clock& clock,
                  const std::function<Json(const std::string& url)>& attempt);

  // A node's error text worth retrying: lower-cased, no "revert", and one of
  // the phrases of overload, rate limits and passing faults.
  [[nodiscard]] static bool isRetryableText(std::string_view text);

  // An HTTP status worth another try: rate limits and server faults, and a
  // refused key only when another node can be asked.
  [[nodiscard]] static bool isRetryableStatus(int status, bool severalNodes);

  // The text of a JSON-RPC "error" member: its "message", or the whole member.
  static std::string errorMessage(const Json& error);
};

// A simulation's value read for the guards: the error text, the logs, and
// the balances of the accounts asked for, as they would be after the move.
struct SolanaSimulation {
  struct Account {
    std::string address;
    bool exists = false;
    std::uint64_t lamports = 0;
    std::optional<std::uint64_t> tokenAmount;  // base units, for token accounts
  };
  std::optional<std::string> error;  // "err" as text: a string, or compact JSON
  std::vector<std::string> logs;
  std::vector<Account> accounts;  // in the order the addresses were given
  std::optional<std::uint64_t> unitsConsumed;

  // Throws SolanaRPCError (badAnswer) when the value has no recognisable shape.
  [[nodiscard]] static SolanaSimulation read(const Json& value, const std::vector<std::string>& addresses);
  // The fee payer cannot pay the fee or the rent of an account the move opens.
  [[nodiscard]] bool feePayerShortOfSol() const;
  // The sentence the user sees then; the balance clause only when known.
  static std::string notEnoughSolMessage(std::string_view address, std::optional<Decimal> balanceSol);
};

Decimal lamportsToSol(std::uint64_t lamports);

class SolanaRPC {
 public:
  struct Outcome {
    enum class Kind { failed, confirmed, expired };
    Kind kind = Kind::confirmed;
    std::string error;  // the chain's error text when failed
  };
  struct LatestBlockhash {
    std::string blockhash;
    std::uint64_t lastValidBlockHeight = 0;
  };
  struct TokenAccount {
    std::string address;
    std::string mint;
    std::string owner;
    std::uint64_t amount = 0;  // base units
    int decimals = 0;
  };
  struct AccountInfo {
    std::string owner;  // the owning program
    std::uint64_t lamports = 0;
    Bytes data;
  };

  // Unpinned (the node list of SolanaNodes), or pinned to `url` alone.
  SolanaRPC(HttpClient& http, Clock& clock, std::string url = {}, bool pinned = false);
  static SolanaRPC pinnedTo(HttpClient& http, Clock& clock, std::string url) {
    return SolanaRPC(http, clock, std::move(url), true);
  }

  const std::string& url() const { return url_; }
  bool pinned() const { return pinned_; }

  // The "result" of one JSON-RPC call, with retries. Throws SolanaRPCError,
  // or NetError after the last retry.
  Json call(const std::string& method, const Json& params) const;

  std::uint64_t balance(const std::string& address) const;
  std::vector<TokenAccount> tokenAccounts(const std::string& owner, const std::string& mint) const;
  std::optional<AccountInfo> accountInfo(const std::string& address) const;
  LatestBlockhash latestBlockhash() const;
  // The transaction's signature (Base58); "already been processed" counts as sent.
  std::string send(ByteView signedTransaction) const;
  // The simulation's "value" object.
  Json simulate(ByteView transaction, bool sigVerify, const std::vector<std::string>& addresses) const;
  // Each table's addresses, by table address.
  std::map<std::string, std::vector<std::string>> lookupTables(const std::vector<std::string>& addresses) const;
  Outcome waitForConfirmation(const std::string& signature, std::uint64_t lastValidBlockHeight,
                              int timeoutSeconds) const;

  // A node the user pastes: nothing when it is a usable mainnet node, else
  // the sentence saying what is wrong.
  [[nodiscard]] static std::optional<std::string> checkNode(const std::string& url, HttpClient& http, Clock& clock);

 private:
  HttpClient& http_;
  Clock& clock_;
  std::string url_;
  bool pinned_;
};

}  // namespace orwenna
