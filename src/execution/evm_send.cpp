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

namespace {

std::optional<EVMSignature> rawSignatureOf(const RLP& parity, const RLP& r, const RLP& s) {
  if (parity.isList() || r.isList() || s.isList() || parity.asBytes().size() > 1 || r.asBytes().size() > 32 ||
      s.asBytes().size() > 32) {
    return std::nullopt;
  }
  EVMSignature signature;
  signature.v = 27 + (parity.asBytes().empty() ? 0 : parity.asBytes()[0]);
  std::copy(r.asBytes().begin(), r.asBytes().end(), signature.r.end() - static_cast<std::ptrdiff_t>(r.asBytes().size()));
  std::copy(s.asBytes().begin(), s.asBytes().end(), signature.s.end() - static_cast<std::ptrdiff_t>(s.asBytes().size()));
  return signature;
}

bool recoversTo(const EVMSignature& signature, const Keccak::Digest& hash, const std::string& wallet) {
  try {
    return EVMCall::sameAddress(EVMSigner::recover(signature, hash), wallet);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::optional<std::string> evmSignedMismatch(ByteView raw, const EVMTransaction& expected, const std::string& wallet) {
  if (raw.empty() || raw[0] != expected.typeByte()) return "the transaction type differs";
  auto decoded = RLP::decode(raw.subspan(1));
  if (!decoded || !decoded->isList()) return "the bytes don't decode";
  const auto& items = decoded->asList();
  // The authorisations' signatures are the signer's: read them from the raw
  // bytes, check each recovers to the wallet, then compare every field.
  EVMTransaction tx = expected;
  if (!tx.authorizations.empty()) {
    if (items.size() != 13 || !items[9].isList()) return "the field count differs";
    const auto& auths = items[9].asList();
    if (auths.size() != tx.authorizations.size()) return "the authorisations differ";
    for (std::size_t i = 0; i < auths.size(); ++i) {
      if (!auths[i].isList() || auths[i].asList().size() != 6) return "an authorisation doesn't decode";
      const auto& a = auths[i].asList();
      auto signature = rawSignatureOf(a[3], a[4], a[5]);
      if (!signature) return "an authorisation's signature doesn't decode";
      auto& auth = tx.authorizations[i];
      auth.signature = *signature;
      if (!recoversTo(auth.signature, EVMTransaction::authorizationHashFor(auth.chainId, auth.address, auth.nonce),
                    wallet)) {
        return "an authorisation isn't the wallet's for the batch contract";
      }
    }
  }
  auto fieldsOf = RLP::decode(ByteView(tx.unsignedBytes()).subspan(1));
  if (!fieldsOf || !fieldsOf->isList()) return "the bytes don't decode";
  const auto& fields = fieldsOf->asList();
  if (items.size() != fields.size() + 3) return "the field count differs";
  if (!std::equal(fields.begin(), fields.end(), items.begin())) return "a field differs";
  auto signature = rawSignatureOf(items[fields.size()], items[fields.size() + 1], items[fields.size() + 2]);
  if (!signature) return "the signature doesn't decode";
  if (!recoversTo(*signature, EVMTransaction::signingHash(tx), wallet)) return "another key signed it";
  return std::nullopt;
}

EVMSender::EVMSender(const EVMNetwork& network, const EVMRPC& rpc, TradeSigner& signer, Journal& journal,
                     Clock& clock, EVMNonces& nonces)
    : network_(network), rpc_(rpc), signer_(signer), journal_(journal), clock_(clock), nonces_(nonces) {}

std::optional<std::string> EVMSender::refusal(const EVMMove& move) const {
  const std::int64_t nowSeconds = clock_.nowMillis() / 1000;
  auto permitted = [&](const std::string& address) {
    return EVMCall::sameAddress(address, move.wallet) ||
           std::any_of(move.recipients.begin(), move.recipients.end(),
                       [&](const std::string& r) { return EVMCall::sameAddress(r, address); });
  };
  auto judge = [&](const std::string& to, ByteView data) -> std::optional<std::string> {
    EVMCall call = EVMCall::decode(to, data);
    if (auto p = EVMCall::problem(call, move.wallet, nowSeconds)) return nothingSigned(*p);
    if (call.kind == EVMCall::Kind::plain && !permitted(to)) {
      return nothingSigned("Funds go to someone else's address " + to);
    }
    if (call.kind == EVMCall::Kind::transfer && !permitted(call.to)) {
      return nothingSigned("Tokens go to someone else's address " + EVMAccount::checksummed(call.to));
    }
    return std::nullopt;
  };
  if (move.batch.empty()) return judge(move.to, move.data);
  if (move.value != UInt256(0)) return nothingSigned("A batch of calls carries no value of its own");
  auto problems = Batch7702::problems(move.batch, move.wallet, network_.chainId, nowSeconds);
  if (!problems.empty()) return nothingSigned(problems);
  for (const auto& call : move.batch) {
    if (call.data.empty()) return nothingSigned("A batched call without data would send nothing");
    if (auto p = judge(call.to, call.data)) return p;
  }
  return std::nullopt;
}

ChainSendOutcome EVMSender::send(const EVMMove& move) {
  if (auto refused = refusal(move)) throw ExecutionError(*refused);

  const bool batch = !move.batch.empty();
  EVMTransaction tx;
  std::uint64_t nonce = 0;
  Decimal spentInput = move.input;
  try {
    // A batch is the wallet calling itself; the dry runs see its code as the
    // delegation this very transaction sets up.
    const EVMRPC::CallRequest request = batch ? EVMRPC::CallRequest{move.wallet, move.wallet, 0,
                                                                    Batch7702::executeData(move.batch)}
                                              : EVMRPC::CallRequest{move.wallet, move.to, move.value, move.data};
    std::optional<Bytes> code;
    std::map<std::string, Bytes> overrides;
    if (batch) {
      code = Batch7702::delegatedCode();
      overrides[move.wallet] = *code;
    }
    auto pending = fits64(rpc_.nonce(move.wallet));
    if (!pending) throw ExecutionError(nothingSigned("The node gave an impossible nonce."));
    nonce = nonces_.next(network_.chainId, move.wallet, *pending);
    EVMRPC::Fees fees = rpc_.fees();
    UInt256 estimate = rpc_.estimateGas(request, code);
    UInt256 gasLimit = estimate * 6 / 5 + 1;
    if (auto p = EVMNetwork::feeProblem(gasLimit * fees.maxFeePerGas, network_.chainId)) {
      throw ExecutionError(nothingSigned(*p));
    }
    EVMSimulation simulation = rpc_.simulate({request}, {}, overrides);
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
    if (batch) {
      tx = Batch7702::transaction(network_.chainId, nonce, fees.maxPriorityFeePerGas, fees.maxFeePerGas, gasLimit,
                                  move.wallet, move.batch);
    } else {
      tx.chainId = network_.chainId;
      tx.nonce = nonce;
      tx.maxPriorityFeePerGas = fees.maxPriorityFeePerGas;
      tx.maxFeePerGas = fees.maxFeePerGas;
      tx.gasLimit = gasLimit;
      tx.to = move.to;
      tx.value = move.value;
      tx.data = move.data;
    }
  } catch (const ExecutionError&) {
    throw;
  } catch (const Error& e) {
    throw ExecutionError(nothingSigned(e.what()));
  }
  auto violations = move.envelope.violations(clock_.nowMillis(), spentInput, move.output, move.destination);
  if (!violations.empty()) throw ExecutionError(nothingSigned(violations));

  auto priority = fits64(tx.maxPriorityFeePerGas), maxFee = fits64(tx.maxFeePerGas), gas = fits64(tx.gasLimit);
  if (!priority || !maxFee || !gas) {
    throw ExecutionError(nothingSigned("The network's fee per gas is beyond anything orwenna signs"));
  }
  Bytes raw;
  try {
    if (batch) {
      signer_request::SignEVMBatch request;
      request.chainId = network_.chainId;
      request.nonce = nonce;
      request.maxPriorityFee = *priority;
      request.maxFee = *maxFee;
      request.gasLimit = *gas;
      for (const auto& call : move.batch) request.calls.push_back({call.to, call.data});
      request.recipients = move.recipients;
      raw = signer_.signEVMBatch(request);
    } else {
      signer_request::SignEVMTransaction request;
      request.chainId = network_.chainId;
      request.nonce = nonce;
      request.maxPriorityFee = *priority;
      request.maxFee = *maxFee;
      request.gasLimit = *gas;
      request.to = move.to;
      request.value = move.value;
      request.data = move.data;
      request.recipients = move.recipients;
      raw = signer_.signEVMTransaction(request);
    }
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
                                 const std::optional<EVMApproval>& approval, EVMApprovalMode mode) {
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
    } else if (mode == EVMApprovalMode::batchedWhereAllowed && Batch7702::batchesOn(sender.network().chainId) &&
               call.value == UInt256(0) && call.batch.empty()) {
      EVMMove both = call;
      both.batch = {{approval->token, ABI::call("approve(address,uint256)", {ABI::Value::address(approval->spender),
                                                                            ABI::Value::uint(approval->amount)})},
                    {call.to, call.data}};
      both.note = approval->note + "; " + call.note;
      out.batched = true;
      out.call = sender.send(both);
      return out;
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
