#include "app/call_moves.h"

#include <utility>

#include "base/regex.h"
#include "base/text.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "execution/execution_error.h"

namespace orwenna {

namespace {

using V = ABI::Value;

ExecutionResult callFailed(std::string sentence) {
  ExecutionResult r;
  r.outcome = ExecutionResult::Outcome::failed;
  r.reply = std::move(sentence);
  return r;
}

std::vector<std::string> typesOf(const std::string& function) {
  const auto open = function.find('('), close = function.rfind(')');
  std::vector<std::string> out;
  if (open == std::string::npos || close == std::string::npos || close < open) return out;
  const std::string inner = function.substr(open + 1, close - open - 1);
  std::size_t at = 0;
  while (at <= inner.size() && !inner.empty()) {
    std::size_t comma = inner.find(',', at);
    out.push_back(inner.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return out;
}

bool isEvmAddress(const std::string& a) {
  static const Regex re(R"(^0x[0-9a-fA-F]{40}$)");
  return re.matches(a);
}

V encodeArg(const std::string& type, const std::string& arg, const std::string& wallet) {
  static const Regex uintType(R"(^u?int(\d*)$)");
  static const Regex bytesType(R"(^bytes(\d+)$)");
  auto refuse = [&](const std::string& why) { return ExecutionError(nothingSigned(why)); };
  if (type == "address") {
    const std::string a = text::asciiLowercased(arg) == "me" ? wallet : arg;
    if (!isEvmAddress(a)) throw refuse("“" + arg + "” isn't an address");
    return V::address(a);
  }
  if (type == "bool") {
    if (arg != "true" && arg != "false") throw refuse("“" + arg + "” isn't true or false");
    return V::boolean(arg == "true");
  }
  if (uintType.matches(type)) {
    if (text::asciiLowercased(arg) == "max") {
      if (type.starts_with("int")) throw refuse("“max” is for unsigned words only");
      return V::uint(~UInt256(0));
    }
    auto v = parseUInt256(arg);
    if (!v) throw refuse("“" + arg + "” isn't a whole number of the token's smallest units");
    return V::uint(*v);
  }
  if (bytesType.matches(type)) {
    auto b = fromHex(arg);
    if (!b || b->empty() || b->size() > 32) throw refuse("“" + arg + "” isn't a " + type);
    return V::fixedBytes(*b);
  }
  throw refuse("orwenna encodes static arguments only (address, bool, uint, bytes1–32), not " + type);
}

}  // namespace

Bytes CallMoves::calldata(const std::string& function, const std::vector<std::string>& args, const std::string& wallet) {
  std::vector<std::string> types = typesOf(function);
  if (types.size() != args.size()) {
    throw ExecutionError(nothingSigned(function + " takes " + std::to_string(types.size()) + " argument" +
                                       (types.size() == 1 ? "" : "s") + ", not " + std::to_string(args.size())));
  }
  std::vector<V> values;
  for (std::size_t i = 0; i < types.size(); ++i) values.push_back(encodeArg(types[i], args[i], wallet));
  return ABI::call(function, values);
}

CallMoves::CallMoves(const Services& services, TradeSigner& signer, Journal& journal,
                     std::function<WalletAddresses()> addresses, WalletMoveRunner* next)
    : services_(services), signer_(signer), journal_(journal), addresses_(std::move(addresses)), next_(next) {}

std::optional<ExecutionResult> CallMoves::run(const PendingAction& step) {
  const auto* command = std::get_if<WalletCommand>(&step.value);
  const auto* call = command ? std::get_if<wallet::contractCall>(&command->value) : nullptr;
  const auto* revoke = command ? std::get_if<wallet::revokeApproval>(&command->value) : nullptr;
  if (!call && !revoke) return next_ ? next_->run(step) : std::nullopt;
  try {
    const EVMNetwork* network = EVMNetwork::byKey(call ? call->call.network : revoke->network);
    if (!network) return callFailed(nothingSigned("orwenna doesn't know that network"));
    auto wallet = addresses_().evm;
    if (!wallet) return callFailed(nothingSigned("The active wallet has no EVM key"));
    EVMRPC rpc = services_.evm(*network);
    EVMSender sender(*network, rpc, signer_, journal_, services_.clock, nonces_);
    EVMMove move;
    move.wallet = *wallet;
    std::optional<EVMApproval> approval;
    Decimal spend;
    if (revoke) {
      if (revoke->permit2) {
        move.to = kPermit2;
        move.data = ABI::call("approve(address,address,uint160,uint48)",
                              {V::address(revoke->token), V::address(revoke->spender), V::uint(0), V::uint(0)});
      } else {
        move.to = revoke->token;
        move.data = ABI::call("approve(address,uint256)", {V::address(revoke->spender), V::uint(0)});
      }
      move.note = "Revoke the approval of " + revoke->token + " to " + revoke->spender + " on " + network->name;
    } else {
      const ContractCall& c = call->call;
      move.to = c.contract;
      move.data = calldata(c.function, c.args, *wallet);
      if (c.value) {
        move.value = ABI::tokenAmount(c.value->toString(), 18);
        move.spendAsset = std::string(EVMSimulation::kNative);
        spend = *c.value;
      }
      if (c.approve) {
        std::string token = c.approve->token;
        int decimals = network->usdcDecimals;
        if (text::asciiLowercased(token) == "usdc") {
          token = network->usdc;
        } else if (isEvmAddress(token)) {
          Bytes d = rpc.ethCall(token, ABI::call("decimals()", {}));
          if (d.size() != 32) return callFailed(nothingSigned("The token " + token + " doesn't say its decimals"));
          decimals = static_cast<int>(fromBigEndian(d) & 0xff);
        } else {
          return callFailed(nothingSigned("Name the token to approve by its 0x address (or USDC)"));
        }
        approval = EVMApproval{token, c.contract, ABI::tokenAmount(c.approve->amount.toString(), decimals),
                               "Approve exactly " + c.approve->amount.toString() + " " + c.approve->token + " to " +
                                   c.contract + " on " + network->name};
        if (!move.spendAsset) {
          move.spendAsset = token;
          move.spendDecimals = decimals;
          spend = c.approve->amount;
        }
      }
      move.note = "Call " + c.function + " on " + c.contract + " on " + network->name;
    }
    move.input = spend;
    move.envelope = Envelope{spend, Decimal(0), std::nullopt, services_.clock.nowMillis() + kApprovalMillis};
    EVMCallOutcome o = sendAfterApproval(sender, rpc, move, approval, EVMApprovalMode::batchedWhereAllowed);
    ExecutionResult r;
    if (o.approval) {
      r.lines = o.approval->checks;
      r.lines.push_back(approval->note + ": " + o.approval->id);
      if (o.approval->kind != ChainSendOutcome::Kind::confirmed) {
        return callFailed("The approval " + o.approval->id + " didn't confirm on " + network->name + " (" +
                          o.approval->detail + "); the call wasn't sent.");
      }
    }
    r.lines.insert(r.lines.end(), o.call->checks.begin(), o.call->checks.end());
    switch (o.call->kind) {
      case ChainSendOutcome::Kind::confirmed:
        r.outcome = ExecutionResult::Outcome::done;
        r.reply = "Done: " + move.note + ". Transaction: " + o.call->id;
        break;
      case ChainSendOutcome::Kind::unknown:
        r.outcome = ExecutionResult::Outcome::unknown;
        r.reply = "Sent " + o.call->id + " on " + network->name + ", but its outcome isn't known yet (" +
                  o.call->detail + "). Check it in a block explorer before trying again.";
        break;
      default:
        r.outcome = ExecutionResult::Outcome::failed;
        r.reply = "The transaction " + o.call->id + " failed on " + network->name + ": " + o.call->detail +
                  ". The money stayed in your wallet, less the network fee.";
    }
    return r;
  } catch (const ExecutionError& e) {
    return callFailed(e.what());
  } catch (const Error& e) {
    return callFailed(nothingSigned(e.what()));
  }
}

}  // namespace orwenna
