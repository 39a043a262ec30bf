// The Solana send pipeline: one move from a confirmed card to a confirmed
// transaction. Build our own transaction (or take one received from a route
// and check it is ours to sign), resolve its accounts, run the guard with the
// move's policy, simulate and hold the balances to their bounds, compare with
// the approved Envelope, sign through the signer, verify that what came back
// is what was checked, journal it `signed`, send, wait for confirmation and
// journal the outcome. An expired transaction of our own is rebuilt once with
// a fresh blockhash.
//
// Every stop before the signature throws ExecutionError ending in "Nothing
// was signed."; after it, the sentence says where the money is. Calls block;
// a SolanaSender holds no state of its own beyond its collaborators, which
// must outlive it; one may be used from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/decimal.h"
#include "chains/solana_rpc.h"
#include "chains/solana_transaction.h"
#include "execution/chain_send.h"
#include "execution/envelope.h"
#include "execution/execution_error.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

struct SolanaMove {
  // A balance the simulation must keep within bounds: `address` is a wallet
  // (lamports) or, with `token`, a token account (base units).
  struct Watch {
    std::string label;
    std::string address;
    bool token = false;
    std::int64_t atLeast = 0;  // smallest allowed change after − before
  };

  std::string owner;
  // Our own instructions, compiled with a fresh blockhash …
  std::vector<SolanaInstruction> instructions;
  std::uint64_t microLamportsPerUnit = 10'000;
  // … or a transaction received from a route, signed as it is.
  std::optional<Bytes> received;

  std::set<std::string> recipients;               // wallets that may be paid besides the owner
  std::map<std::string, std::string> tokenOwners;  // token account → wallet, for the signer
  std::vector<std::string> extraPrograms;          // allowed beyond System, Compute Budget, tokens
  std::vector<Watch> watches;

  Envelope envelope;
  Decimal input;   // what the move spends, in the envelope's unit
  Decimal output;  // what arrives
  std::optional<std::string> destination;
  std::string note;  // the journal's description of what is signed
  // Called with the signature once it is journaled `signed`, before it is
  // sent: a bridge journals its own order there. A throw stops the send.
  std::function<void(const std::string& id)> onSigned;

  // A route's own "this route can't deliver" error in the simulation
  // ({"Custom":N}): the caller may ask the route for another way.
  struct Reroute {
    std::int64_t customError = 0;
    std::string note;  // appended to the simulation's error
  };
  std::optional<Reroute> reroute;
};

// A stop before the signature after which asking the route again may help.
class RouteRefused : public ExecutionError {
 public:
  using ExecutionError::ExecutionError;
};

class SolanaSender {
 public:
  static constexpr int kConfirmationSeconds = 90;
  static constexpr const char* kMaxPriorityFee = "0.005";  // SOL

  SolanaSender(const SolanaRPC& rpc, TradeSigner& signer, Journal& journal, Clock& clock);

  // Throws ExecutionError; a returned outcome may still be failed, expired
  // or unknown.
  ChainSendOutcome send(const SolanaMove& move);

 private:
  const SolanaRPC& rpc_;
  TradeSigner& signer_;
  Journal& journal_;
  Clock& clock_;

  struct Prepared {
    Bytes wire;
    Bytes message;
    std::vector<std::string> accounts;
    std::uint64_t lastValidBlockHeight = 0;
    std::vector<std::string> checks;
  };
  Prepared prepare(const SolanaMove& move);
};

}  // namespace orwenna
