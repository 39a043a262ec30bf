// The Solana JSON-RPC client: which nodes to ask (`SolanaNodes`, a value the
// caller builds: the user's own node, then the public one), the calls the
// system makes (`SolanaRPC`), a wallet's holdings, the reading of a
// simulation, and the check of a node the user pastes. Retries follow
// RPCRetry (chains/rpc_retry.h).
//
// Calls block the calling thread (run them off the UI thread). A SolanaRPC
// holds only its node list, fixed at construction, so one may be used from
// several threads at once as long as the HttpClient may. Waits go through the
// injected Clock, so tests never really sleep.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
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

// The nodes a client asks, in order: the user's own node when set (a
// setting), then the public endpoint. Nothing here reads the environment or
// the settings: the caller fills both in.
struct SolanaNodes {
  static constexpr std::string_view kPublicMainnet = "https://api.mainnet-beta.solana.com";

  std::optional<std::string> custom;  // the user's own node; empty text counts as none
  std::string publicEndpoint = std::string(kPublicMainnet);

  // The user's node when set, then the public endpoint.
  [[nodiscard]] std::vector<std::string> list() const;
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

  // One token other than USDC in a wallet; the amounts of several accounts of
  // one mint are summed.
  struct Holding {
    std::string mint;
    std::string program;  // the token program that owns its accounts
    Decimal amount;       // in whole tokens
    int decimals = 0;
    std::optional<Decimal> priceUSD;  // filled by token pricing, not by the read

    friend bool operator==(const Holding&, const Holding&) = default;
  };
  struct Holdings {
    Decimal sol;
    Decimal usdc;
    std::vector<Holding> tokens;  // non-zero holdings, in the node's order
  };

  // Asks `nodes.list()` in order, falling over to the next on a retryable failure.
  SolanaRPC(HttpClient& http, Clock& clock, const SolanaNodes& nodes = {});
  // Asks `url` alone.
  static SolanaRPC pinnedTo(HttpClient& http, Clock& clock, std::string url);

  const std::vector<std::string>& nodes() const { return nodes_; }

  // The "result" of one JSON-RPC call, with retries. Throws SolanaRPCError,
  // or NetError after the last retry.
  Json call(const std::string& method, const Json& params) const;

  // Lamports.
  std::uint64_t balance(const std::string& address) const;
  // SOL, USDC and every other non-zero token of `owner` under both token
  // programs (SolanaPrograms::kToken, kToken2022): three calls. Throws what
  // call() throws; a token account of an unexpected shape is a SolanaRPCError
  // of kind badAnswer.
  Holdings holdings(const std::string& owner) const;
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
  std::vector<std::string> nodes_;

  SolanaRPC(HttpClient& http, Clock& clock, std::vector<std::string> nodes);
};

}  // namespace orwenna
