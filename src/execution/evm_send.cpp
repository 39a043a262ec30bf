#include "execution/evm_send.h"

#include <algorithm>
#include <limits>

#include "base/text.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/evm_transaction.h"
#include "chains/rlp.h"
#include "execution/execution_error.h"
#include "signing/accounts.h"
#include "signing/keccak.h"

namespace orwenna {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The signer's fields are 64-bit: a larger fee is refused, never cut short.
std::optional<std::uint64_t> fits64(const UInt256& v) {
  if (v > UInt256(std::numeric_limits<std::uint64_t>::max())) return std::nullopt;
  return static_cast<std::uint64_t>(v);
}

}  // namespace

std::uint64_t EVMNonces::next(std::uint64_t chainId, const std::string& address, std::uint64_t pending) const {
  std::lock_guard lock(mutex_);
  auto it = last_.find({chainId, lower(address)});
  if (it == last_.end()) return pending;
  return std::max(pending, it->second + 1);
}

void EVMNonces::used(std::uint64_t chainId, const std::string& address, std::uint64_t nonce) {
  std::lock_guard lock(mutex_);
  auto& last = last_[{chainId, lower(address)}];
  last = std::max(last, nonce);
}

std::optional<std::string> evmSignedMismatch(ByteView raw, const EVMTransaction& tx, const std::string& wallet) {
  if (raw.empty() || raw[0] != tx.typeByte()) return "the transaction type differs";
  auto decoded = RLP::decode(raw.subspan(1));
  auto expected = RLP::decode(ByteView(tx.unsignedBytes()).subspan(1));
  if (!decoded || !expected || !decoded->isList() || !expected->isList()) return "the bytes don't decode";
  const auto& items = decoded->asList();
  const auto& fields = expected->asList();
  if (items.size() != fields.size() + 3) return "the field count differs";
  if (!std::equal(fields.begin(), fields.end(), items.begin())) return "a field differs";
  const auto& parity = items[fields.size()];
  const auto& r = items[fields.size() + 1];
  const auto& s = items[fields.size() + 2];
  if (parity.isList() || r.isList() || s.isList() || parity.asBytes().size() > 1 || r.asBytes().size() > 32 ||
      s.asBytes().size() > 32) {
    return "the signature doesn't decode";
  }
  EVMSignature signature;
  signature.v = 27 + (parity.asBytes().empty() ? 0 : parity.asBytes()[0]);
  std::copy(r.asBytes().begin(), r.asBytes().end(), signature.r.end() - static_cast<std::ptrdiff_t>(r.asBytes().size()));
  std::copy(s.asBytes().begin(), s.asBytes().end(), signature.s.end() - static_cast<std::ptrdiff_t>(s.asBytes().size()));
  try {
    auto hash = EVMTransaction::signingHash(tx);
    if (!EVMCall::sameAddress(EVMSigner::recover(signature, hash), wallet)) return "another key signed it";
  } catch (const std::exception&) {
    return "the signature doesn't recover";
  }
  return std::nullopt;
}

EVMSender::EVMSender(const EVMNetwork& network, const EVMRPC& rpc, TradeSigner& signer, Journal& journal,
                     Clock& clock, EVMNonces& nonces)
    : network_(network), rpc_(rpc), signer_(signer), journal_(journal), clock_(clock), nonces_(nonces) {}

std::optional<std::string> EVMSender::refusal(const EVMMove& move) const {
  const std::int64_t nowSeconds = clock_.nowMillis() / 1000;
  EVMCall call = EVMCall::decode(move.to, move.data);
  if (auto p = EVMCall::problem(call, move.wallet, nowSeconds)) return nothingSigned(*p);
  auto permitted = [&](const std::string& address) {
    return EVMCall::sameAddress(address, move.wallet) ||
           std::any_of(move.recipients.begin(), move.recipients.end(),
                       [&](const std::string& r) { return EVMCall::sameAddress(r, address); });
  };
  if (call.kind == EVMCall::Kind::plain && !permitted(move.to)) {
    return nothingSigned("Funds go to someone else's address " + move.to);
  }
  if (call.kind == EVMCall::Kind::transfer && !permitted(call.to)) {
    return nothingSigned("Tokens go to someone else's address " + EVMAccount::checksummed(call.to));
  }
  return std::nullopt;
}

ChainSendOutcome EVMSender::send(const EVMMove& move) {
  if (auto refused = refusal(move)) throw ExecutionError(*refused);

  EVMTransaction tx;
  std::uint64_t nonce = 0;
  Decimal spentInput = move.input;
  try {
    auto pending = fits64(rpc_.nonce(move.wallet));
    if (!pending) throw ExecutionError(nothingSigned("The node gave an impossible nonce."));
    nonce = nonces_.next(network_.chainId, move.wallet, *pending);
    EVMRPC::Fees fees = rpc_.fees();
    UInt256 estimate = rpc_.estimateGas({move.wallet, move.to, move.value, move.data});
    UInt256 gasLimit = estimate * 6 / 5 + 1;
    if (auto p = EVMNetwork::feeProblem(gasLimit * fees.maxFeePerGas, network_.chainId)) {
      throw ExecutionError(nothingSigned(*p));
    }
    EVMSimulation simulation = rpc_.simulate({{move.wallet, move.to, move.value, move.data}});
    if (simulation.revert) throw ExecutionError(nothingSigned("The simulation failed: " + *simulation.revert));
    for (const auto& grant : simulation.grants) {
      if (grant.unlimited) {
        throw ExecutionError(nothingSigned(
            "Unlimited token spending approval — the drainers' main trick. orwenna only approves exact amounts."));
      }
    }
    if (move.spendAsset) {
      auto change = simulation.changes.find(text::asciiLowercased(*move.spendAsset));
      if (change != simulation.changes.end() && change->second < 0) {
        BigInt out = -change->second;
        if (out > BigInt(UInt256(~UInt256(0)))) throw ExecutionError(nothingSigned("The dry run moves more than a word holds"));
        auto spent = Decimal::tryParse(formatUnits(UInt256(out), move.spendDecimals));
        if (!spent) throw ExecutionError(nothingSigned("The dry run moves an amount orwenna can't read"));
        if (*spent > spentInput) spentInput = *spent;
      }
    }
    tx.chainId = network_.chainId;
    tx.nonce = nonce;
    tx.maxPriorityFeePerGas = fees.maxPriorityFeePerGas;
    tx.maxFeePerGas = fees.maxFeePerGas;
    tx.gasLimit = gasLimit;
    tx.to = move.to;
    tx.value = move.value;
    tx.data = move.data;
  } catch (const ExecutionError&) {
    throw;
  } catch (const Error& e) {
    throw ExecutionError(nothingSigned(e.what()));
  }
  auto violations = move.envelope.violations(clock_.nowMillis(), spentInput, move.output, move.destination);
  if (!violations.empty()) throw ExecutionError(nothingSigned(violations));

  signer_request::SignEVMTransaction request;
  auto priority = fits64(tx.maxPriorityFeePerGas), maxFee = fits64(tx.maxFeePerGas), gas = fits64(tx.gasLimit);
  if (!priority || !maxFee || !gas) {
    throw ExecutionError(nothingSigned("The network's fee per gas is beyond anything orwenna signs"));
  }
  request.chainId = network_.chainId;
  request.nonce = nonce;
  request.maxPriorityFee = *priority;
  request.maxFee = *maxFee;
  request.gasLimit = *gas;
  request.to = move.to;
  request.value = move.value;
  request.data = move.data;
  request.recipients = move.recipients;
  Bytes raw;
  try {
    raw = signer_.signEVMTransaction(request);
  } catch (const Error& e) {
    throw ExecutionError(nothingSigned(e.what()));
  }
  if (auto why = evmSignedMismatch(raw, tx, move.wallet)) {
    throw ExecutionError("What was signed isn't what was checked (" + *why +
                         "), so it was not sent. The money is still in your wallet.");
  }

  ChainSendOutcome outcome;
  outcome.chain = network_.name;
  outcome.id = toHex0x(Keccak::hash256(raw));
  journal_.append({clock_.nowMillis(), outcome.chain, outcome.id, Journal::Entry::Kind::signed_, move.note});
  if (move.onSigned) move.onSigned(outcome.id);
  try {
    (void)rpc_.sendRaw(raw, move.wallet);
  } catch (const EVMRPCError& e) {
    journal_.append({clock_.nowMillis(), outcome.chain, outcome.id, Journal::Entry::Kind::failed,
                     std::string("Refused by the node: ") + e.what()});
    throw ExecutionError(std::string(e.what()) + " The transaction was not sent; the money is still in your wallet.");
  } catch (const Error& e) {
    nonces_.used(network_.chainId, move.wallet, nonce);
    outcome.detail = e.what();
    return outcome;
  }
  nonces_.used(network_.chainId, move.wallet, nonce);
  try {
    EVMRPC::Receipt receipt = rpc_.waitForReceipt(outcome.id, kReceiptSeconds);
    outcome.kind = receipt.success ? ChainSendOutcome::Kind::confirmed : ChainSendOutcome::Kind::failed;
    if (!receipt.success) outcome.detail = "reverted";
    journal_.append({clock_.nowMillis(), outcome.chain, outcome.id,
                     receipt.success ? Journal::Entry::Kind::confirmed : Journal::Entry::Kind::failed,
                     receipt.success ? "Confirmed." : "Reverted on chain."});
  } catch (const Error& e) {
    outcome.kind = ChainSendOutcome::Kind::unknown;
    outcome.detail = e.what();
  }
  return outcome;
}

UInt256 evmAllowance(const EVMRPC& rpc, const std::string& token, const std::string& owner, const std::string& spender) {
  Bytes answer = rpc.ethCall(token, ABI::call("allowance(address,address)",
                                              {ABI::Value::address(owner), ABI::Value::address(spender)}));
  if (answer.size() != 32) {
    throw EVMRPCError(EVMRPCError::Kind::badAnswer, 0, "EVM RPC eth_call: allowance isn't one word");
  }
  return fromBigEndian(answer);
}

EVMCallOutcome sendAfterApproval(EVMSender& sender, const EVMRPC& rpc, const EVMMove& call,
                                 const std::optional<EVMApproval>& approval) {
  EVMCallOutcome out;
  // A call the rules refuse is refused before its approval goes out.
  if (auto refused = sender.refusal(call)) throw ExecutionError(*refused);
  if (approval) {
    UInt256 current;
    try {
      current = evmAllowance(rpc, approval->token, call.wallet, approval->spender);
    } catch (const Error& e) {
      throw ExecutionError(nothingSigned(e.what()));
    }
    if (current >= approval->amount) {
      out.approvalSkipped = true;
    } else {
      EVMMove approve;
      approve.wallet = call.wallet;
      approve.to = approval->token;
      approve.data = ABI::call("approve(address,uint256)",
                               {ABI::Value::address(approval->spender), ABI::Value::uint(approval->amount)});
      approve.envelope = call.envelope;
      approve.input = call.input;  // an approval spends nothing, but may allow no more than the call spends
      approve.output = call.output;
      approve.destination = call.destination;
      approve.note = approval->note;
      out.approval = sender.send(approve);
      if (out.approval->kind != ChainSendOutcome::Kind::confirmed) return out;
    }
  }
  try {
    out.call = sender.send(call);
  } catch (const ExecutionError& e) {
    if (!out.approval) throw;
    throw ExecutionError(std::string(e.what()) + " The approval " + out.approval->id +
                         " landed: the tokens are still in your wallet, with that allowance open.");
  }
  return out;
}

}  // namespace orwenna
