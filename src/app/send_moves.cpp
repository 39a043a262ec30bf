#include "app/send_moves.h"

#include <algorithm>

#include "app/evm_tokens.h"
#include "base/text.h"
#include "chains/abi.h"
#include "chains/spl.h"
#include "execution/execution_error.h"
#include "execution/near_send.h"
#include "execution/solana_send.h"
#include "signing/address_check.h"

namespace orwenna {

namespace {

// Above any NEAR balance (the total supply is about 1.2 billion).
const Decimal kWholeBalance = Decimal(10'000'000'000LL);

struct Recipient {
  std::string name;
  std::string address;
};

// A saved address for a chain: by name (any letter case) or by the address itself.
std::optional<Recipient> savedFor(const AddressBook& book, const std::string& nameOrAddress,
                                  const std::function<bool(const std::string& network)>& onChain) {
  const std::string wanted = text::asciiLowercased(nameOrAddress);
  for (const auto& e : book.entries()) {
    if (!onChain(e.network)) continue;
    if (text::asciiLowercased(e.name) == wanted || e.address == nameOrAddress) return Recipient{e.name, e.address};
  }
  return std::nullopt;
}

bool isEVMNetworkName(const std::string& network) {
  auto n = AddressCheck::networkFromRawValue(network);
  return n && AddressCheck::isEVM(*n) && *n != AddressCheck::Network::hyperliquid;
}

// `amount` in base units of `decimals`; nothing when it has more decimals or is not positive.
// Base units as a decimal amount; nothing past what a Decimal holds.
std::optional<Decimal> wholeUnits(const UInt256& units, int decimals) {
  std::string digits = toDecimalString(units);
  if (decimals > 0) {
    if (digits.size() <= static_cast<std::size_t>(decimals)) {
      digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<std::size_t>(decimals), ".");
  }
  try {
    return Decimal::parse(digits);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<UInt256> baseUnits(const Decimal& amount, int decimals) {
  if (!amount.isPositive()) return std::nullopt;
  Decimal scaled = amount.scaledByPowerOfTen(decimals);
  if (!scaled.isInteger()) return std::nullopt;
  return parseUInt256(scaled.toString());
}

ExecutionResult failed(std::string sentence) {
  ExecutionResult r;
  r.outcome = ExecutionResult::Outcome::failed;
  r.reply = std::move(sentence);
  return r;
}

ExecutionResult reported(const ChainSendOutcome& o, const std::string& what, const std::string& where) {
  ExecutionResult r;
  r.lines = o.checks;
  switch (o.kind) {
    case ChainSendOutcome::Kind::confirmed:
      r.outcome = ExecutionResult::Outcome::done;
      r.reply = "Sent " + what + " on " + where + ". Transaction: " + o.id;
      break;
    case ChainSendOutcome::Kind::failed:
      r.outcome = ExecutionResult::Outcome::failed;
      r.reply = "The transaction " + o.id + " failed on " + where + ": " + o.detail +
                ". The money stayed in your wallet, less the network fee.";
      break;
    case ChainSendOutcome::Kind::expired:
      r.outcome = ExecutionResult::Outcome::failed;
      r.reply = "The transaction didn't make it into a block in time. The money stayed in your wallet; you can retry.";
      break;
    case ChainSendOutcome::Kind::unknown:
      r.outcome = ExecutionResult::Outcome::unknown;
      r.reply = "Sent " + what + " on " + where + ", but its outcome isn't known yet (" + o.detail +
                "). Check transaction " + o.id + " in a block explorer before sending again.";
      break;
  }
  return r;
}

std::string notSaved(const std::string& name, const std::string& chain) {
  return nothingSigned(name + " isn't a saved address on " + chain +
                       ": save it in the address book first, then send");
}

}  // namespace

std::optional<SendMoves::Card> SendMoves::card(const WalletCommand& command, const AddressBook& book) {
  struct Shape {
    std::string name;
    std::string what;
    std::string chain;
    std::function<bool(const std::string&)> onChain;
  };
  auto solana = [](const std::string& n) { return n == "solana"; };
  auto near = [](const std::string& n) { return n == "near"; };
  auto chainOf = [&](const OptText& network) -> std::pair<std::string, std::function<bool(const std::string&)>> {
    const std::string key = network.value_or("solana");
    if (key == "solana") return {"Solana", solana};
    const EVMNetwork* n = EVMNetwork::byKey(key);
    return {n ? n->name : key, isEVMNetworkName};
  };
  std::optional<Shape> shape;
  if (const auto* c = std::get_if<wallet::sendTo>(&command.value)) {
    auto [chain, on] = chainOf(c->network);
    shape = Shape{c->name, c->amount.toString() + " USDC", chain, on};
  } else if (const auto* c = std::get_if<wallet::sendSol>(&command.value)) {
    shape = Shape{c->name, c->amount.toString() + " SOL", "Solana", solana};
  } else if (const auto* c = std::get_if<wallet::sendToken>(&command.value)) {
    auto [chain, on] = chainOf(c->network);
    shape = Shape{c->name, (c->amount ? c->amount->toString() : std::string("all")) + " " + c->token, chain, on};
  } else if (const auto* c = std::get_if<wallet::sendNear>(&command.value)) {
    shape = Shape{c->name, (c->amount ? c->amount->toString() : std::string("all")) + " NEAR", "NEAR", near};
  } else if (const auto* c = std::get_if<wallet::closeNear>(&command.value)) {
    shape = Shape{c->name, "everything in the NEAR account, closing it,", "NEAR", near};
  }
  if (!shape) return std::nullopt;
  Card out;
  out.chain = shape->chain;
  auto to = savedFor(book, shape->name, shape->onChain);
  if (!to) {
    out.refusal = notSaved(shape->name, shape->chain);
    out.text = *out.refusal;
    return out;
  }
  out.address = to->address;
  out.text = "Send " + shape->what + " to " + to->name + " (" + to->address + ") on " + shape->chain + ".";
  return out;
}

std::optional<SendMoves::Card> SendMoves::cardOnChain(const WalletCommand& command) const {
  auto out = card(command, book_);
  const auto* c = std::get_if<wallet::sendToken>(&command.value);
  if (!out || out->refusal || !c || !c->network || text::asciiLowercased(c->token) == "usdc") return out;
  const EVMNetwork* n = EVMNetwork::byKey(*c->network);
  if (!n) return out;
  try {
    const EVMTokenChoice token = resolveEVMToken(c->token, *n, services_);
    out->lines.push_back("Token: " + token.info.symbol + " " + token.contract + ", " +
                         std::to_string(token.info.decimals) + " decimals, as its contract says" +
                         (token.source == "DexScreener" ? " (the only one of that ticker in DexScreener's pools)" : ""));
  } catch (const Error& e) {
    out->refusal = e.what();
  }
  return out;
}

SendMoves::SendMoves(const Services& services, const AddressBook& book, TradeSigner& signer, Journal& journal,
                     std::function<WalletAddresses()> addresses)
    : services_(services), book_(book), signer_(signer), journal_(journal), addresses_(std::move(addresses)) {}

std::optional<ExecutionResult> SendMoves::run(const PendingAction& step) {
  const auto* command = std::get_if<WalletCommand>(&step.value);
  if (!command) return std::nullopt;
  Clock& clock = services_.clock;
  auto envelopeFor = [&](const Decimal& amount, const std::string& to) {
    return Envelope{amount, Decimal(0), to, clock.nowMillis() + kApprovalMillis};
  };
  auto need = [](const std::optional<std::string>& address, const char* chain) {
    if (!address) throw ExecutionError(nothingSigned(std::string("The active wallet has no ") + chain + " key"));
    return *address;
  };

  // A token on Solana, by mint, to a saved Solana address.
  auto solanaToken = [&](const std::string& name, const std::string& mint, int decimals, const Decimal& amount,
                         const std::string& label) -> ExecutionResult {
    const std::string owner = need(addresses_().solana, "Solana");
    auto to = savedFor(book_, name, [](const std::string& n) { return n == "solana"; });
    if (!to) return failed(notSaved(name, "Solana"));
    auto units = baseUnits(amount, decimals);
    if (!units || *units > UInt256(UINT64_MAX)) return failed(nothingSigned("Not a whole token amount: " + amount.toString()));
    SolanaRPC rpc = services_.solana();
    auto mintInfo = rpc.accountInfo(mint);
    if (!mintInfo) return failed(nothingSigned("The token " + mint + " isn't on Solana"));
    const std::string program = mintInfo->owner;
    SolanaMove m;
    m.owner = owner;
    m.instructions = SPL::transferInstructions(
        {owner, to->address, mint, program, static_cast<std::uint64_t>(*units), static_cast<std::uint8_t>(decimals), true});
    m.recipients = {to->address};
    m.tokenOwners[SPL::associatedTokenAddress(to->address, mint, program)] = to->address;
    const std::string mine = SPL::associatedTokenAddress(owner, mint, program);
    m.watches = {{label, mine, true, -static_cast<std::int64_t>(*units)}, {"SOL", owner, false, -5'000'000}};
    m.envelope = envelopeFor(amount, to->address);
    m.input = amount;
    m.destination = to->address;
    m.note = "Send " + amount.toString() + " " + label + " to " + to->name + " (" + to->address + ")";
    SolanaSender sender(rpc, signer_, journal_, clock);
    return reported(sender.send(m), amount.toString() + " " + label + " to " + to->name, "Solana");
  };

  // A token on an EVM network, by contract, to a saved EVM address.
  auto evmToken = [&](const std::string& name, const EVMNetwork& network, const std::string& contract, int decimals,
                      const Decimal& amount, const std::string& label) -> ExecutionResult {
    const std::string wallet = need(addresses_().evm, "EVM");
    auto to = savedFor(book_, name, isEVMNetworkName);
    if (!to) return failed(notSaved(name, network.name));
    auto units = baseUnits(amount, decimals);
    if (!units) return failed(nothingSigned("Not a whole token amount: " + amount.toString()));
    EVMMove m;
    m.wallet = wallet;
    m.to = contract;
    m.data = ABI::call("transfer(address,uint256)", {ABI::Value::address(to->address), ABI::Value::uint(*units)});
    m.recipients = {to->address};
    m.spendAsset = contract;
    m.spendDecimals = decimals;
    m.envelope = envelopeFor(amount, to->address);
    m.input = amount;
    m.destination = to->address;
    m.note = "Send " + amount.toString() + " " + label + " to " + to->name + " (" + to->address + ") on " + network.name;
    EVMRPC rpc = services_.evm(network);
    EVMSender sender(network, rpc, signer_, journal_, clock, nonces_);
    return reported(sender.send(m), amount.toString() + " " + label + " to " + to->name, network.name);
  };

  auto nearMove = [&](NearMove::Kind kind, const std::string& name, const std::optional<Decimal>& amount) {
    const std::string account = need(addresses_().near, "NEAR");
    auto to = savedFor(book_, name, [](const std::string& n) { return n == "near"; });
    if (!to) return failed(notSaved(name, "NEAR"));
    NearMove m;
    m.kind = kind;
    m.account = account;
    m.to = to->address;
    m.recipients = {to->address};
    if (amount) {
      auto yocto = nearToYocto(amount->toString());
      if (!yocto || !amount->isPositive()) return failed(nothingSigned("Not a NEAR amount: " + amount->toString()));
      m.amount = *yocto;
    }
    // "All" and a close spend what the account holds: the card approved
    // exactly that, so the spend is bounded by the balance alone.
    m.envelope = envelopeFor(amount.value_or(kWholeBalance), to->address);
    m.destination = to->address;
    m.note = kind == NearMove::Kind::deleteAccount ? "Close the NEAR account into " + to->name + " (" + to->address + ")"
                                                   : "Send " + (amount ? amount->toString() : std::string("all")) +
                                                         " NEAR to " + to->name + " (" + to->address + ")";
    NearRPC rpc(services_.http, services_.endpoints.nearRpc);
    NearSender sender(rpc, signer_, journal_, clock);
    const std::string what = kind == NearMove::Kind::deleteAccount ? "everything, closing the account, to " + to->name
                             : (amount ? amount->toString() : std::string("all")) + " NEAR to " + to->name;
    return reported(sender.send(m), what, "NEAR");
  };

  try {
    if (const auto* c = std::get_if<wallet::sendTo>(&command->value)) {
      const std::string network = c->network.value_or("solana");
      if (network == "solana") return solanaToken(c->name, std::string(SolanaPrograms::kUsdcMint), 6, c->amount, "USDC");
      const EVMNetwork* n = EVMNetwork::byKey(network);
      if (!n || n->usdc.empty()) return failed(nothingSigned("orwenna doesn't send USDC on " + network));
      return evmToken(c->name, *n, n->usdc, n->usdcDecimals, c->amount, "USDC");
    }
    if (const auto* c = std::get_if<wallet::sendSol>(&command->value)) {
      const std::string owner = need(addresses_().solana, "Solana");
      auto to = savedFor(book_, c->name, [](const std::string& n) { return n == "solana"; });
      if (!to) return failed(notSaved(c->name, "Solana"));
      auto lamports = baseUnits(c->amount, 9);
      if (!lamports || *lamports > UInt256(INT64_MAX)) return failed(nothingSigned("Not a SOL amount: " + c->amount.toString()));
      const auto units = static_cast<std::uint64_t>(*lamports);
      SolanaMove m;
      m.owner = owner;
      m.instructions = {SolanaTransaction::solTransfer(owner, to->address, units)};
      m.recipients = {to->address};
      m.watches = {{"SOL", owner, false, -static_cast<std::int64_t>(units) - 100'000}};
      m.envelope = envelopeFor(c->amount, to->address);
      m.input = c->amount;
      m.destination = to->address;
      m.note = "Send " + c->amount.toString() + " SOL to " + to->name + " (" + to->address + ")";
      SolanaRPC rpc = services_.solana();
      SolanaSender sender(rpc, signer_, journal_, clock);
      return reported(sender.send(m), c->amount.toString() + " SOL to " + to->name, "Solana");
    }
    if (const auto* c = std::get_if<wallet::sendToken>(&command->value)) {
      const std::string network = c->network.value_or("solana");
      // "all" is the wallet's whole balance of the token, read just before.
      auto solanaSend = [&](const std::string& mint, int decimals, const std::string& label) {
        Decimal amount;
        if (c->amount) {
          amount = *c->amount;
        } else {
          SolanaRPC rpc = services_.solana();
          auto mintInfo = rpc.accountInfo(mint);
          if (!mintInfo) return failed(nothingSigned("The token " + mint + " isn't on Solana"));
          auto account =
              rpc.accountInfo(SPL::associatedTokenAddress(need(addresses_().solana, "Solana"), mint, mintInfo->owner));
          const UInt256 held = account ? SPL::accountAmount(account->data) : 0;
          auto whole = wholeUnits(held, decimals);
          if (held == 0 || !whole) return failed(nothingSigned("The wallet holds no " + label + " to send"));
          amount = *whole;
        }
        return solanaToken(c->name, mint, decimals, amount, label);
      };
      auto evmSend = [&](const EVMNetwork& n, const std::string& contract, int decimals, const std::string& label) {
        Decimal amount;
        if (c->amount) {
          amount = *c->amount;
        } else {
          Bytes answer = services_.evm(n).ethCall(
              contract, ABI::call("balanceOf(address)", {ABI::Value::address(need(addresses_().evm, "EVM"))}));
          auto whole = answer.size() == 32 ? wholeUnits(fromBigEndian(answer), decimals) : std::nullopt;
          if (!whole || !whole->isPositive())
            return failed(nothingSigned("The wallet holds no " + label + " to send on " + n.name));
          amount = *whole;
        }
        return evmToken(c->name, n, contract, decimals, amount, label);
      };
      if (network == "solana") {
        if (text::asciiLowercased(c->token) == "usdc") return solanaSend(std::string(SolanaPrograms::kUsdcMint), 6, "USDC");
        auto known = SpotAsset::known(c->token);
        if (known && !known->mint.empty()) return solanaSend(known->mint, known->decimals, known->symbol);
        if (!isSolanaAddress(c->token)) return failed(nothingSigned("orwenna doesn't know the token " + c->token + " on Solana"));
        SolanaRPC rpc = services_.solana();
        auto mint = rpc.accountInfo(c->token);
        if (!mint || mint->data.size() < 45) return failed(nothingSigned("The token " + c->token + " isn't on Solana"));
        return solanaSend(c->token, mint->data[44], c->token);
      }
      const EVMNetwork* n = EVMNetwork::byKey(network);
      if (!n) return failed(nothingSigned("orwenna doesn't send on " + network));
      if (text::asciiLowercased(c->token) == "usdc") return evmSend(*n, n->usdc, n->usdcDecimals, "USDC");
      const EVMTokenChoice token = resolveEVMToken(c->token, *n, services_);
      return evmSend(*n, token.contract, token.info.decimals, token.info.symbol);
    }
    if (const auto* c = std::get_if<wallet::sendNear>(&command->value)) return nearMove(NearMove::Kind::transfer, c->name, c->amount);
    if (const auto* c = std::get_if<wallet::closeNear>(&command->value)) {
      return nearMove(NearMove::Kind::deleteAccount, c->name, std::nullopt);
    }
  } catch (const ExecutionError& e) {
    return failed(e.what());
  } catch (const JournalError& e) {
    return failed(std::string("The journal couldn't be written (") + e.what() +
                  "), so the signed transaction was not sent. The money is still in your wallet.");
  } catch (const std::exception& e) {
    return failed(nothingSigned(e.what()));
  }
  return std::nullopt;
}

}  // namespace orwenna
