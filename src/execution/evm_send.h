// The EVM send pipeline: one transaction of a move from a confirmed card to a
// receipt. The call is decoded and judged by the call rules and the move's
// recipients, the nonce is max(the node's pending count, the last one used
// here + 1) per network and address, fees and gas come from the node, the
// fee cap is held, a dry run must not revert or grant an unlimited approval,
// the Envelope is compared, the signer signs, the raw bytes are checked to be
// the transaction we built, signed by the wallet; then it is journaled
// `signed`, sent, and its receipt journaled.
//
// Every stop before the signature throws ExecutionError ending in "Nothing
// was signed.". EVMNonces is thread-safe; an EVMSender is used from one
// thread at a time and its collaborators must outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/decimal.h"
#include "base/uint.h"
#include "chains/evm_network.h"
#include "chains/evm_rpc.h"
#include "chains/evm_transaction.h"
#include "execution/chain_send.h"
#include "execution/envelope.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

// The last nonce used per (chain, address), so two moves in a row never
// collide while the node's pending count lags.
class EVMNonces {
 public:
  std::uint64_t next(std::uint64_t chainId, const std::string& address, std::uint64_t pending) const;
  void used(std::uint64_t chainId, const std::string& address, std::uint64_t nonce);

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::uint64_t, std::string>, std::uint64_t> last_;
};

struct EVMMove {
  std::string wallet;
  std::string to;
  UInt256 value;  // wei
  Bytes data;
  // When not empty, the move is these calls in one type-4 transaction the
  // wallet sends itself, its code delegated to the batch contract; `to`,
  // `value` and `data` are then unused (a batch carries no value).
  std::vector<Batch7702::Call> batch;
  std::vector<std::string> recipients;  // addresses that may be paid besides the wallet

  // The asset whose outflow the Envelope bounds (a token contract, or
  // EVMSimulation::kNative) and its decimals: what the dry run shows leaving
  // the wallet counts when it is more than `input`.
  std::optional<std::string> spendAsset;
  int spendDecimals = 18;

  Envelope envelope;
  Decimal input;
  Decimal output;
  std::optional<std::string> destination;
  std::string note;
  // Called with the hash once it is journaled `signed`, before it is sent
  // (a bridge journals its order there). A throw stops the send.
  std::function<void(const std::string& id)> onSigned;
};

class EVMSender {
 public:
  static constexpr int kReceiptSeconds = 120;

  EVMSender(const EVMNetwork& network, const EVMRPC& rpc, TradeSigner& signer, Journal& journal, Clock& clock,
            EVMNonces& nonces);

  // Throws ExecutionError; a returned outcome may still be failed or unknown.
  ChainSendOutcome send(const EVMMove& move);
  const EVMNetwork& network() const { return network_; }
  // The call rules and the move's recipients alone, as send() applies them
  // first: nothing when they pass, else the finished refusal.
  [[nodiscard]] std::optional<std::string> refusal(const EVMMove& move) const;

 private:
  const EVMNetwork& network_;
  const EVMRPC& rpc_;
  TradeSigner& signer_;
  Journal& journal_;
  Clock& clock_;
  EVMNonces& nonces_;
};

// An allowance a call needs first: `spender` may take `amount` of `token`.
struct EVMApproval {
  std::string token;
  std::string spender;
  UInt256 amount;  // base units; exact, never "unlimited"
  std::string note;
};

// The approval (when one was sent) and the call, each as it ended.
struct EVMCallOutcome {
  std::optional<ChainSendOutcome> approval;
  std::optional<ChainSendOutcome> call;  // none when the approval did not confirm
  bool approvalSkipped = false;          // the allowance already covered the call
  bool batched = false;                  // approval and call went out as one transaction: `call`
};

// How an approval and its call go out: one after the other, each waited for;
// or, on a network that batches and for a call carrying no value, as one
// type-4 transaction (one signature, one fee, no allowance left hanging when
// the call would fail).
enum class EVMApprovalMode { inTurn, batchedWhereAllowed };

// ERC-20 allowance(owner, spender) read at the latest block. Throws what
// EVMRPC throws, or EVMRPCError when the answer is not one word.
UInt256 evmAllowance(const EVMRPC& rpc, const std::string& token, const std::string& owner, const std::string& spender);

// Sends `approval` only when the current allowance is short of it (and then
// for exactly its amount), waits for it to confirm, and then sends `call`
// through the same pipeline, so each is judged, simulated and signed on its
// own. Throws ExecutionError before a signature as EVMSender::send does; a
// stop before the call's signature after the approval landed says so.
EVMCallOutcome sendAfterApproval(EVMSender& sender, const EVMRPC& rpc, const EVMMove& call,
                                 const std::optional<EVMApproval>& approval,
                                 EVMApprovalMode mode = EVMApprovalMode::inTurn);

// Nothing when the raw bytes are `tx` signed by `wallet`, and each of its
// authorisations (taken from `tx` but for their signatures) is signed by
// `wallet` too; else why not.
[[nodiscard]] std::optional<std::string> evmSignedMismatch(ByteView raw, const EVMTransaction& tx,
                                                           const std::string& wallet);

}  // namespace orwenna
