#include "app/bridge_moves.h"

#include <utility>

#include "base/text.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/near_transaction.h"
#include "chains/solana_rpc.h"
#include "chains/spl.h"
#include "defi/one_click.h"
#include "defi/relay.h"
#include "execution/execution_error.h"
#include "execution/executor.h"
#include "execution/hl_reply.h"
#include "hyperliquid/exchange.h"
#include "hyperliquid/info.h"
#include "signing/hl_action.h"
#include "execution/near_send.h"
#include "execution/solana_send.h"
#include "guards/tx_guard.h"
#include "signing/base58.h"

namespace orwenna {

namespace {

using EntryKind = Journal::Entry::Kind;
using Outcome = ExecutionResult::Outcome;

constexpr const char* kRelayDepositoryProgram = "99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2";
// What may be lost to a re-quote between the card and Confirm.
const Decimal kQuoteDrift = Decimal::parse("0.99");

ExecutionResult bridgeFailed(std::string sentence, Outcome outcome = Outcome::failed) {
  ExecutionResult r;
  r.outcome = outcome;
  r.reply = std::move(sentence);
  return r;
}

// Decimals of what leaves an end: its USDC, or NEAR's own coin.
int usdcDecimalsOf(const BridgeMoves::End& end) {
  if (end.kind == BridgeMoves::End::Kind::near) return 24;
  return end.kind == BridgeMoves::End::Kind::evm ? end.network->usdcDecimals : 6;
}

std::optional<std::string> unitsOf(const Decimal& amount, int decimals) {
  if (!amount.isPositive()) return std::nullopt;
  Decimal scaled = amount.scaledByPowerOfTen(decimals);
  if (!scaled.isInteger()) return std::nullopt;
  return scaled.toString();
}

Decimal fromBaseUnits(const std::string& units, int decimals) {
  return Decimal::tryParse(units).value_or(Decimal(0)).scaledByPowerOfTen(-decimals);
}

std::optional<BridgeMoves::End> endNamed(const std::string& name) {
  using Kind = BridgeMoves::End::Kind;
  if (name == "solana") return BridgeMoves::End{Kind::solana, nullptr, "Solana"};
  if (name == "hyperliquid") return BridgeMoves::End{Kind::hyperliquid, nullptr, "Hyperliquid"};
  if (name == "near") return BridgeMoves::End{Kind::near, nullptr, "NEAR"};
  if (const EVMNetwork* n = EVMNetwork::byKey(name); n && !n->usdc.empty()) {
    return BridgeMoves::End{Kind::evm, n, n->name};
  }
  return std::nullopt;
}

RelayEnd relayEnd(const BridgeMoves::End& end) {
  switch (end.kind) {
    case BridgeMoves::End::Kind::solana: return {RelayClient::kSolanaChainId, std::string(SolanaPrograms::kUsdcMint)};
    case BridgeMoves::End::Kind::hyperliquid: return {RelayClient::kHyperliquidChainId, RelayClient::kHyperliquidUSDC};
    case BridgeMoves::End::Kind::evm: return {end.network->chainId, end.network->usdc};
    case BridgeMoves::End::Kind::near: break;
  }
  return {};
}

// The 1Click asset of an end's USDC (NEAR's own coin at NEAR); nothing when 1Click isn't used there.
std::optional<std::string> oneClickAsset(const BridgeMoves::End& end) {
  switch (end.kind) {
    case BridgeMoves::End::Kind::solana: return OneClick::kSolanaUSDC;
    case BridgeMoves::End::Kind::hyperliquid: return OneClick::kHyperliquidUSDC;
    case BridgeMoves::End::Kind::near: return OneClick::kNEAR;
    case BridgeMoves::End::Kind::evm:
      if (end.network->key == "base") return OneClick::kBaseUSDC;
      if (end.network->key == "arbitrum") return OneClick::kArbitrumUSDC;
      if (end.network->key == "ethereum") return OneClick::kEthereumUSDC;
      return std::nullopt;
  }
  return std::nullopt;
}

std::string arrivingUnit(const BridgeMoves::End& end) {
  return end.kind == BridgeMoves::End::Kind::near ? "NEAR" : "USDC";
}

std::string tokenAccountOwner(const SolanaRPC& rpc, const std::string& account) {
  auto info = rpc.accountInfo(account);
  if (!info || info->data.size() < 64) return {};
  return Base58::encode(ByteView(info->data).subspan(32, 32));
}

std::string outcomeWords(const ChainSendOutcome& o, const std::string& chain) {
  switch (o.kind) {
    case ChainSendOutcome::Kind::failed:
      return "The bridge deposit " + o.id + " failed on " + chain + ": " + o.detail +
             ". The money stayed in your wallet, less the network fee.";
    case ChainSendOutcome::Kind::expired:
      return "The bridge transaction didn't make it into a block. The money stayed on " + chain + "; you can retry.";
    case ChainSendOutcome::Kind::unknown:
      return "The bridge deposit was sent on " + chain + ", but its outcome isn't known yet (" + o.detail +
             "). Check transaction " + o.id + " before trying again.";
    case ChainSendOutcome::Kind::confirmed: break;
  }
  return {};
}

// Pays a 1Click deposit address: the chain's signature requests go to the
// signer as deposits it confirms with 1Click itself; every other request is
// passed on unchanged.
class OneClickPayer final : public TradeSigner {
 public:
  OneClickPayer(TradeSigner& inner, std::string deposit) : inner_(inner), deposit_(std::move(deposit)) {}

  Bytes signSolana(const signer_request::SignSolana& r) override {
    return inner_.signOneClickDeposit(deposit_, SignerRequest(r));
  }
  Bytes signEVMTransaction(const signer_request::SignEVMTransaction& r) override {
    return inner_.signOneClickDeposit(deposit_, SignerRequest(r));
  }
  EVMSignature signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) override {
    return inner_.signHyperliquidL1(action, nonce, mainnet);
  }
  EVMSignature signHyperliquidUser(const MsgPack& action, bool mainnet,
                                   const std::vector<std::string>& recipients) override {
    return inner_.signHyperliquidUser(action, mainnet, recipients);
  }
  EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping& r) override {
    return inner_.signRelayNonceMapping(r);
  }
  std::string approvalName() const override { return inner_.approvalName(); }
  Bytes signEVMBatch(const signer_request::SignEVMBatch& r) override { return inner_.signEVMBatch(r); }
  Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit& r) override {
    return inner_.signNearIntentDeposit(r);
  }
  Bytes signNearTransfer(const signer_request::SignNearTransfer& r) override { return inner_.signNearTransfer(r); }
  Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount& r) override {
    return inner_.signNearDeleteAccount(r);
  }

 private:
  TradeSigner& inner_;
  std::string deposit_;
};

}  // namespace

BridgeMoves::BridgeMoves(const Services& services, TradeSigner& signer, Journal& journal,
                         std::function<WalletAddresses()> addresses, WalletMoveRunner* next,
                         std::function<void(const std::string&)> report)
    : services_(services),
      signer_(signer),
      journal_(journal),
      addresses_(std::move(addresses)),
      next_(next),
      report_(std::move(report)) {}

void BridgeMoves::say(const std::string& line) {
  live_.lines.push_back(line);
  if (step_) step_(live_);
  if (report_) report_(line);
}

std::optional<BridgeMoves::Plan> BridgeMoves::planOf(const WalletCommand& command) {
  std::optional<std::string> from, to;
  std::optional<Decimal> amount;
  if (const auto* c = std::get_if<wallet::solanaTo>(&command.value)) {
    from = "solana", to = c->network, amount = c->amount;
  } else if (const auto* c = std::get_if<wallet::bridge>(&command.value)) {
    from = c->from, to = c->to, amount = c->amount;
  } else if (const auto* c = std::get_if<wallet::baseToSolana>(&command.value)) {
    from = "base", to = "solana", amount = c->amount;
  } else if (const auto* c = std::get_if<wallet::arbitrumToSolana>(&command.value)) {
    from = "arbitrum", to = "solana", amount = c->amount;
  } else if (const auto* c = std::get_if<wallet::evmToSolana>(&command.value)) {
    from = c->network, to = "solana", amount = c->amount;
  } else if (const auto* c = std::get_if<wallet::withdrawToSolana>(&command.value)) {
    from = "hyperliquid", to = "solana", amount = c->amount;
  } else if (const auto* c = std::get_if<wallet::sellNear>(&command.value)) {
    from = "near", to = c->to.value_or("solana"), amount = c->amount;
  }
  if (!from || !to) return std::nullopt;
  auto origin = endNamed(*from), destination = endNamed(*to);
  if (!origin || !destination) return std::nullopt;
  // Out of Hyperliquid only Relay serves, and only to Solana and EVM networks.
  if (origin->kind == End::Kind::hyperliquid &&
      (destination->kind == End::Kind::hyperliquid || destination->kind == End::Kind::near)) {
    return std::nullopt;
  }
  return Plan{*origin, *destination, amount};
}

std::string BridgeMoves::payer(const End& end) const {
  WalletAddresses a = addresses_();
  auto address = end.kind == End::Kind::solana ? a.solana : end.kind == End::Kind::near ? a.near : a.evm;
  if (!address) throw ExecutionError(nothingSigned("The active wallet has no " + end.name + " key"));
  return *address;
}

std::string BridgeMoves::receiver(const End& end) const {
  WalletAddresses a = addresses_();
  auto address = end.kind == End::Kind::solana ? a.solana : end.kind == End::Kind::near ? a.near : a.evm;
  if (!address) throw ExecutionError(nothingSigned("The active wallet has no address on " + end.name));
  return *address;
}

Decimal BridgeMoves::balance(const End& end, const std::string& owner) const {
  if (end.kind == End::Kind::near) throw ExecutionError(nothingSigned("Say how much NEAR to sell"));
  if (end.kind == End::Kind::hyperliquid) {
    return Hyperliquid::balance(services_.hyperliquidInfo(), owner).withdrawable.rounded(6, RoundingMode::down);
  }
  if (end.kind == End::Kind::solana) {
    SolanaRPC rpc = services_.solana();
    const std::string ata =
        SPL::associatedTokenAddress(owner, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken);
    auto info = rpc.accountInfo(ata);
    return info ? fromBaseUnits(std::to_string(SPL::accountAmount(info->data)), 6) : Decimal(0);
  }
  EVMRPC rpc = services_.evm(*end.network);
  Bytes answer = rpc.ethCall(end.network->usdc, ABI::call("balanceOf(address)", {ABI::Value::address(owner)}));
  if (answer.size() != 32) throw ExecutionError(nothingSigned("The USDC balance on " + end.name + " couldn't be read"));
  return Decimal::parse(toDecimalString(fromBigEndian(answer))).scaledByPowerOfTen(-end.network->usdcDecimals);
}

BridgeMoves::Card BridgeMoves::relayCard(const Plan& plan, const Decimal& amount) {
  auto units = unitsOf(amount, usdcDecimalsOf(plan.from));
  if (!units) throw ExecutionError(nothingSigned("The amount is finer than one cent of USDC"));
  RelayClient relay(services_.http, services_.endpoints.relay);
  Card card;
  card.route = Route::relay;
  card.amount = amount;
  card.recipient = receiver(plan.to);
  RelayQuote q = relay.quote({payer(plan.from), card.recipient, relayEnd(plan.from), relayEnd(plan.to), *units});
  if (const Decimal lost = q.amountInFormatted - q.amountOutFormatted; CostlyMove::exceeds(lost, q.amountInFormatted)) {
    throw CostlyMove(lost, q.amountInFormatted,
                     "Bridging " + amount.toString() + " USDC from " + plan.from.name + " to " + plan.to.name + " over Relay");
  }
  card.minOut = (q.amountOutFormatted * kQuoteDrift).rounded(6, RoundingMode::down);
  card.text = "Bridge " + amount.toString() + " USDC from " + plan.from.name + " to " + plan.to.name +
              " over Relay: about " + q.amountOutFormatted.toString() + " USDC arrives at " + card.recipient +
              " (Relay's fee $" + q.feesUSD + ", about " + std::to_string(q.seconds) + " s).";
  return card;
}

BridgeMoves::Card BridgeMoves::oneClickCard(const Plan& plan, const Decimal& amount) {
  auto origin = oneClickAsset(plan.from), destination = oneClickAsset(plan.to);
  if (!origin || !destination) {
    throw ExecutionError(nothingSigned("No bridge here moves USDC from " + plan.from.name + " to " + plan.to.name));
  }
  auto units = unitsOf(amount, usdcDecimalsOf(plan.from));
  if (!units) throw ExecutionError(nothingSigned("The amount is finer than the smallest unit"));
  Card card;
  card.route = Route::oneClick;
  card.amount = amount;
  card.recipient = receiver(plan.to);
  OneClick oneClick(services_.http, services_.endpoints.oneClick, std::nullopt);
  OneClick::QuoteRequest request;
  request.originAsset = *origin;
  request.destinationAsset = *destination;
  request.amount = *units;
  request.refundTo = payer(plan.from);
  request.recipient = card.recipient;
  request.dry = true;
  OneClick::Quote q = oneClick.quote(request, services_.clock.nowMillis());
  auto out = Decimal::tryParse(q.amountOutFormatted);
  if (!out) throw OneClickError(nothingSigned("1Click's quote has no amount that arrives"));
  // Across assets only the service's dollar values compare.
  if (q.amountInUSD && q.amountOutUSD && CostlyMove::exceeds(*q.amountInUSD - *q.amountOutUSD, *q.amountInUSD)) {
    throw CostlyMove(*q.amountInUSD - *q.amountOutUSD, *q.amountInUSD,
                     "Moving " + amount.toString() + " " + (plan.from.kind == End::Kind::near ? "NEAR" : "USDC") +
                         " from " + plan.from.name + " to " + plan.to.name + " over 1Click");
  }
  card.minOut = (*out * kQuoteDrift).rounded(6, RoundingMode::down);
  card.text = (plan.from.kind == End::Kind::near
                   ? "Sell " + amount.toString() + " NEAR for USDC on " + plan.to.name
                   : "Bridge " + amount.toString() + " USDC from " + plan.from.name + " to " + plan.to.name) +
              " over NEAR Intents (1Click): about " + out->toString() + " " + arrivingUnit(plan.to) +
              " arrives at " + card.recipient +
              (q.timeEstimate ? " (usually " + std::to_string(*q.timeEstimate) + " s)." : ".");
  return card;
}

std::optional<BridgeMoves::Card> BridgeMoves::card(const WalletCommand& command) {
  auto plan = planOf(command);
  if (!plan) return std::nullopt;
  Card out;
  try {
    Decimal amount = plan->amount ? *plan->amount : balance(plan->from, payer(plan->from));
    if (!amount.isPositive()) throw ExecutionError(nothingSigned("There is nothing on " + plan->from.name + " to move"));
    if (plan->to.kind == End::Kind::near || plan->from.kind == End::Kind::near) return oneClickCard(*plan, amount);
    try {
      return relayCard(*plan, amount);
    } catch (const CostlyMove&) {
      throw;
    } catch (const ExecutionError&) {
      // Relay has no quote: NEAR Intents is the general route where it serves both ends.
      if (!oneClickAsset(plan->from) || !oneClickAsset(plan->to) || plan->from.kind == End::Kind::hyperliquid) throw;
      return oneClickCard(*plan, amount);
    }
  } catch (const Error& e) {
    std::string text = e.what();
    out.refusal = text.ends_with(kNothingWasSigned) ? text : nothingSigned(text);
    out.text = *out.refusal;
  }
  return out;
}

std::optional<ExecutionResult> BridgeMoves::bridge(const WalletCommand& command, const std::optional<Card>& approved) {
  auto plan = planOf(command);
  if (!plan) return std::nullopt;
  std::optional<Card> shown = approved;
  if (!shown) shown = card(command);
  if (shown->refusal) return bridgeFailed(*shown->refusal);
  live_ = ActivityBubble{};
  live_.kind = "bridge";
  live_.label = shown->route == Route::relay ? "Relay" : "1Click";
  live_.title = shown->text;
  live_.status = "running";
  say(shown->route == Route::relay ? "Asking Relay again for the approved move." : "Asking 1Click again for the approved move.");
  ExecutionResult result;
  try {
    result = shown->route == Route::relay ? relayMove(*plan, *shown) : oneClickMove(*plan, *shown);
  } catch (const ExecutionError& e) {
    result = bridgeFailed(e.what());
  } catch (const JournalError& e) {
    result = bridgeFailed(std::string("The journal couldn't be written (") + e.what() +
                          "), so the bridge deposit was not sent. The money is still in your wallet.");
  } catch (const Error& e) {
    // The pipelines word their own stops; anything else came before a signature.
    result = bridgeFailed(nothingSigned(e.what()));
  }
  live_.status = result.outcome == Outcome::done ? "done" : result.outcome == Outcome::failed ? "failed" : "pending";
  live_.lines.push_back(result.reply);
  if (step_) step_(live_);
  result.bubbles.push_back(live_);
  return result;
}

ExecutionResult BridgeMoves::relayMove(const Plan& plan, const Card& card) {
  Clock& clock = services_.clock;
  const std::string owner = payer(plan.from);
  const int decimals = usdcDecimalsOf(plan.from);
  const std::string units = *unitsOf(card.amount, decimals);
  RelayClient relay(services_.http, services_.endpoints.relay);
  RelayQuote q = relay.quote({owner, card.recipient, relayEnd(plan.from), relayEnd(plan.to), units});

  Verdict binding = BindingGuard::check("Relay", {card.recipient, owner, units}, {q.recipient, q.sender, q.amountIn});
  const Envelope envelope{card.amount, card.minOut, card.recipient, clock.nowMillis() + kApprovalMillis};
  // An EVM address may come back in another letter case: the same address is the card's.
  if (plan.to.kind != End::Kind::solana && EVMCall::sameAddress(q.recipient, card.recipient)) q.recipient = card.recipient;
  std::vector<std::string> problems = binding.problems;
  for (auto& v : envelope.violations(clock.nowMillis(), q.amountInFormatted, q.amountOutFormatted, q.recipient)) {
    problems.push_back(std::move(v));
  }
  if (!problems.empty()) {
    return bridgeFailed("The Relay quote doesn't match the card: " + nothingSigned(problems));
  }
  ExecutionResult result;
  result.lines = binding.checks;
  const std::string what = card.amount.toString() + " USDC from " + plan.from.name + " to " + plan.to.name;
  auto journalOrder = [&, this](const std::string& tx) {
    journal_.append({clock.nowMillis(), "relay", q.requestId, EntryKind::signed_,
                     "Relay " + what + " for " + q.recipient + ", tx " + tx});
  };

  ChainSendOutcome funded;
  if (plan.from.kind == End::Kind::hyperliquid) {
    funded = hyperliquidDeposit(plan, card, relay, q, journalOrder);
    if (funded.kind != ChainSendOutcome::Kind::confirmed && funded.id.empty()) {
      return bridgeFailed(funded.detail, funded.kind == ChainSendOutcome::Kind::unknown ? Outcome::unknown : Outcome::failed);
    }
  } else if (plan.from.kind == End::Kind::solana) {
    if (!q.evm.empty() || q.solanaInstructions.empty()) {
      return bridgeFailed(nothingSigned("Relay's quote asks for something other than a Solana deposit"));
    }
    SolanaRPC rpc = services_.solana();
    SolanaMove m;
    m.owner = owner;
    m.instructions = q.solanaInstructions;
    m.extraPrograms = {kRelayDepositoryProgram};
    // A deposit-address quote pays a token account: its holder is Relay's, named by the chain.
    for (const auto& ix : q.solanaInstructions) {
      const bool tokenProgram = ix.program == SolanaPrograms::kToken || ix.program == SolanaPrograms::kToken2022;
      if (!tokenProgram || ix.data.empty() || ix.data[0] != 12 || ix.accounts.size() < 4) continue;
      const std::string& account = ix.accounts[2].pubkey;
      if (std::string holder = tokenAccountOwner(rpc, account); !holder.empty()) {
        m.recipients.insert(holder);
        m.tokenOwners[account] = holder;
      }
    }
    const std::string mine = SPL::associatedTokenAddress(owner, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken);
    const std::int64_t spent = Decimal::parse(units).toInt64().value_or(0);
    m.watches = {{"USDC", mine, true, -spent}, {"SOL", owner, false, -5'000'000}};
    m.envelope = envelope;
    m.input = q.amountInFormatted;
    m.output = q.amountOutFormatted;
    m.destination = q.recipient;
    m.note = "Bridge deposit: " + what + " over Relay, order " + q.requestId;
    m.onSigned = journalOrder;
    SolanaSender sender(rpc, signer_, journal_, clock);
    funded = sender.send(m);
  } else {
    const EVMNetwork& network = *plan.from.network;
    if (q.evm.empty() || !q.solanaInstructions.empty()) {
      return bridgeFailed(nothingSigned("Relay's quote asks for something other than a deposit on " + network.name));
    }
    const UInt256 limit = *parseUInt256(units);
    // Every step is judged before the first is signed.
    for (const auto& step : q.evm) {
      if (step.chainId != network.chainId) {
        return bridgeFailed(nothingSigned("Relay's step " + step.id + " is for chain " + std::to_string(step.chainId) +
                                          ", not " + network.name));
      }
      auto value = parseUInt256(step.value);
      if (!value || *value != UInt256(0)) {
        return bridgeFailed(nothingSigned("Relay's step " + step.id + " also sends " + step.value + " wei of " +
                                          EVMNetwork::gasCoinForGas(network.chainId)));
      }
      EVMCall call = EVMCall::decode(step.to, step.data);
      if (auto p = EVMCall::problem(call, owner, clock.nowMillis() / 1000)) return bridgeFailed(nothingSigned(*p));
      const bool moves = call.kind == EVMCall::Kind::approve || call.kind == EVMCall::Kind::increaseAllowance ||
                         call.kind == EVMCall::Kind::transfer;
      if (moves && call.amount > limit) {
        return bridgeFailed(nothingSigned("Relay's step " + step.id + " moves " + formatUnits(call.amount, decimals) +
                                          " USDC, more than the " + card.amount.toString() + " approved"));
      }
    }
    EVMRPC rpc = services_.evm(network);
    EVMSender sender(network, rpc, signer_, journal_, clock, nonces_);
    for (std::size_t i = 0; i < q.evm.size(); ++i) {
      const auto& step = q.evm[i];
      EVMCall call = EVMCall::decode(step.to, step.data);
      EVMMove m;
      m.wallet = owner;
      m.to = step.to;
      m.data = step.data;
      m.recipients = {step.to};
      if (!call.to.empty()) m.recipients.push_back(call.to);
      m.spendAsset = network.usdc;
      m.spendDecimals = decimals;
      m.envelope = envelope;
      m.input = q.amountInFormatted;
      m.output = q.amountOutFormatted;
      m.destination = q.recipient;
      m.note = "Bridge " + step.id + ": " + what + " over Relay, order " + q.requestId;
      const bool last = i + 1 == q.evm.size();
      if (last) m.onSigned = journalOrder;
      if (!last) say("Relay's " + step.id + " step on " + network.name + " first.");
      funded = sender.send(m);
      if (funded.kind != ChainSendOutcome::Kind::confirmed) break;
    }
  }
  result.lines.insert(result.lines.end(), funded.checks.begin(), funded.checks.end());
  if (funded.kind != ChainSendOutcome::Kind::confirmed) {
    // The order was journaled only if the deposit was signed; a deposit that can no longer land ends it.
    if (funded.kind == ChainSendOutcome::Kind::expired || funded.kind == ChainSendOutcome::Kind::failed) {
      for (const auto& e : journal_.open()) {
        if (e.chain == "relay" && e.id == q.requestId) {
          journal_.append({clock.nowMillis(), "relay", q.requestId,
                           funded.kind == ChainSendOutcome::Kind::expired ? EntryKind::expired : EntryKind::failed,
                           "The deposit didn't land."});
        }
      }
    }
    result.outcome = funded.kind == ChainSendOutcome::Kind::unknown ? Outcome::unknown : Outcome::failed;
    result.reply = plan.from.kind == End::Kind::hyperliquid ? funded.detail : outcomeWords(funded, plan.from.name);
    return result;
  }

  say("Deposit confirmed on " + plan.from.name + "; waiting for Relay to deliver on " + plan.to.name + ".");
  const std::int64_t start = clock.monotonicMillis();
  std::string last;
  while (clock.monotonicMillis() - start < std::chrono::milliseconds(kFollow).count()) {
    std::string status;
    try {
      status = text::asciiLowercased(relay.relayStatus(q.requestId));
    } catch (const Error&) {
      status.clear();
    }
    if (!status.empty() && status != last) {
      say("Relay order " + q.requestId + ": " + status + ".");
      last = status;
    }
    if (status == "success") {
      journal_.append({clock.nowMillis(), "relay", q.requestId, EntryKind::settled, "Relay delivered"});
      result.outcome = Outcome::done;
      result.reply = "Bridged " + what + " over Relay: about " + q.amountOutFormatted.toString() +
                     " USDC arrived at " + q.recipient + ". Relay order " + q.requestId + ".";
      return result;
    }
    if (status.find("refund") != std::string::npos || status.find("fail") != std::string::npos) {
      journal_.append({clock.nowMillis(), "relay", q.requestId, EntryKind::failed, "Relay " + status});
      result.outcome = Outcome::failed;
      result.reply = "Relay didn't deliver (" + status + "): the " + card.amount.toString() +
                     " USDC goes back to your wallet on " + plan.from.name + ". Relay order " + q.requestId + ".";
      return result;
    }
    clock.sleepFor(std::chrono::milliseconds(kPoll).count());
  }
  result.outcome = Outcome::unknown;
  result.reply = "Relay hasn't delivered within 10 minutes. Order " + q.requestId +
                 " is in the journal and is settled when Relay finishes.";
  return result;
}

ExecutionResult BridgeMoves::oneClickMove(const Plan& plan, const Card& card) {
  Clock& clock = services_.clock;
  const std::string owner = payer(plan.from);
  const int decimals = usdcDecimalsOf(plan.from);
  const std::string units = *unitsOf(card.amount, decimals);
  auto origin = oneClickAsset(plan.from), destination = oneClickAsset(plan.to);
  if (!origin || !destination) {
    return bridgeFailed(nothingSigned("No bridge here moves USDC from " + plan.from.name + " to " + plan.to.name));
  }
  OneClick oneClick(services_.http, services_.endpoints.oneClick, std::nullopt);
  OneClick::QuoteRequest request;
  request.originAsset = *origin;
  request.destinationAsset = *destination;
  request.amount = units;
  request.refundTo = owner;
  request.recipient = card.recipient;
  const std::int64_t askedAt = clock.nowMillis();
  OneClick::Quote q = oneClick.quote(request, askedAt);
  if (!q.depositAddress) return bridgeFailed("1Click gave no deposit address. Nothing was signed.");
  const std::string deposit = *q.depositAddress;

  std::vector<std::string> problems;
  ExecutionResult result;
  std::optional<std::string> quotedRecipient = request.recipient;
  if (q.quoteRequest.is_object()) {
    Verdict bound = DepositGuard::check(q.quoteRequest, OneClick::requestBody(request, askedAt));
    problems = bound.problems;
    result.lines = bound.checks;
    if (auto r = optionalString(q.quoteRequest, "recipient")) quotedRecipient = r;
  }
  const Decimal in = fromBaseUnits(q.amountIn, decimals);
  const Decimal out = Decimal::tryParse(q.amountOutFormatted).value_or(Decimal(0));
  const Envelope envelope{card.amount, card.minOut, card.recipient, clock.nowMillis() + kApprovalMillis};
  for (auto& v : envelope.violations(clock.nowMillis(), in, out, quotedRecipient)) problems.push_back(std::move(v));
  std::optional<std::int64_t> deadline = q.deadline ? parseIso8601(*q.deadline) : std::nullopt;
  if (deadline && *deadline <= clock.nowMillis()) problems.push_back("The 1Click quote has already run out.");
  if (!problems.empty()) return bridgeFailed("The 1Click quote doesn't match the card: " + nothingSigned(problems));
  auto exactUnits = Decimal::tryParse(q.amountIn);
  if (!exactUnits || !exactUnits->isInteger() || !exactUnits->isPositive()) {
    return bridgeFailed(nothingSigned("1Click's quote gives no whole amount to send"));
  }

  const std::string originUnit = plan.from.kind == End::Kind::near ? "NEAR" : "USDC";
  const std::string what = in.toString() + " " + originUnit + " from " + plan.from.name + " to " + plan.to.name;
  auto journalOrder = [&, this](const std::string& tx) {
    journal_.append({clock.nowMillis(), "1click", deposit, EntryKind::signed_,
                     "1Click " + what + " for " + card.recipient + ", tx " + tx});
  };
  ChainSendOutcome funded;
  if (plan.from.kind == End::Kind::near) {
    auto yocto = nearToYocto(in.toString());
    if (!yocto) return bridgeFailed(nothingSigned("1Click's quote gives no NEAR amount to send"));
    NearMove m;
    m.kind = NearMove::Kind::intentDeposit;
    m.account = owner;
    m.amount = *yocto;
    m.to = deposit;
    m.envelope = envelope;
    m.output = out;
    m.destination = quotedRecipient;
    m.note = "Bridge deposit: " + what + " over 1Click to " + deposit;
    m.onSigned = journalOrder;
    NearRPC rpc(services_.http, services_.endpoints.nearRpc);
    NearSender sender(rpc, signer_, journal_, clock);
    funded = sender.send(m);
  } else if (plan.from.kind == End::Kind::solana) {
    const auto amount = static_cast<std::uint64_t>(exactUnits->toInt64().value_or(0));
    SolanaMove m;
    m.owner = owner;
    m.instructions = SPL::transferInstructions({owner, deposit, std::string(SolanaPrograms::kUsdcMint),
                                                std::string(SolanaPrograms::kToken), amount, 6, true});
    m.recipients = {deposit};
    m.tokenOwners[SPL::associatedTokenAddress(deposit, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken)] = deposit;
    const std::string mine = SPL::associatedTokenAddress(owner, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken);
    m.watches = {{"USDC", mine, true, -static_cast<std::int64_t>(amount)}, {"SOL", owner, false, -5'000'000}};
    m.envelope = envelope;
    m.input = in;
    m.output = out;
    m.destination = quotedRecipient;
    m.note = "Bridge deposit: " + what + " over 1Click to " + deposit;
    m.onSigned = journalOrder;
    SolanaRPC rpc = services_.solana();
    OneClickPayer paying(signer_, deposit);
    SolanaSender sender(rpc, paying, journal_, clock);
    funded = sender.send(m);
  } else {
    const EVMNetwork& network = *plan.from.network;
    EVMMove m;
    m.wallet = owner;
    m.to = network.usdc;
    m.data = ABI::call("transfer(address,uint256)",
                       {ABI::Value::address(deposit), ABI::Value::uint(*parseUInt256(q.amountIn))});
    m.recipients = {deposit};
    m.spendAsset = network.usdc;
    m.spendDecimals = decimals;
    m.envelope = envelope;
    m.input = in;
    m.output = out;
    m.destination = quotedRecipient;
    m.note = "Bridge deposit: " + what + " over 1Click to " + deposit;
    m.onSigned = journalOrder;
    EVMRPC rpc = services_.evm(network);
    OneClickPayer paying(signer_, deposit);
    EVMSender sender(network, rpc, paying, journal_, clock, nonces_);
    funded = sender.send(m);
  }
  result.lines.insert(result.lines.end(), funded.checks.begin(), funded.checks.end());
  if (funded.kind != ChainSendOutcome::Kind::confirmed) {
    if (funded.kind != ChainSendOutcome::Kind::unknown) {
      journal_.append({clock.nowMillis(), "1click", deposit,
                       funded.kind == ChainSendOutcome::Kind::expired ? EntryKind::expired : EntryKind::failed,
                       "The deposit didn't land."});
    }
    result.outcome = funded.kind == ChainSendOutcome::Kind::unknown ? Outcome::unknown : Outcome::failed;
    result.reply = outcomeWords(funded, plan.from.name);
    return result;
  }

  say("Deposit confirmed on " + plan.from.name + "; waiting for 1Click to deliver on " + plan.to.name + ".");
  const std::int64_t start = clock.monotonicMillis();
  std::string last;
  while (clock.monotonicMillis() - start < std::chrono::milliseconds(kFollow).count()) {
    std::optional<OneClick::Status> status;
    try {
      status = oneClick.status(deposit);
    } catch (const Error&) {
    }
    if (status && status->status != last) {
      say("1Click deposit " + deposit + ": " + status->status + ".");
      last = status->status;
    }
    if (status && status->status == "SUCCESS") {
      journal_.append({clock.nowMillis(), "1click", deposit, EntryKind::settled,
                       "1Click delivered " + status->amountOutFormatted.value_or(q.amountOutFormatted)});
      result.outcome = Outcome::done;
      result.reply = "Bridged " + what + " over 1Click: " +
                     status->amountOutFormatted.value_or(q.amountOutFormatted) + " " + arrivingUnit(plan.to) +
                     " arrived at " + card.recipient + ". 1Click deposit " + deposit + ".";
      return result;
    }
    if (status && OneClick::isFinal(status->status)) {
      journal_.append({clock.nowMillis(), "1click", deposit, EntryKind::failed, "1Click ended " + status->status});
      result.outcome = Outcome::failed;
      result.reply = "1Click ended the bridge " + status->status +
                     (status->refundedFormatted ? ", refunding " + *status->refundedFormatted + " " + originUnit : "") +
                     " to your wallet on " + plan.from.name + ". 1Click deposit " + deposit + ".";
      return result;
    }
    // Past the quote's deadline with the deposit still unseen, the quote is dead.
    if (status && status->status == "PENDING_DEPOSIT" && deadline && clock.nowMillis() > *deadline) {
      journal_.append({clock.nowMillis(), "1click", deposit, EntryKind::expired,
                       "The quote ran out before 1Click saw the deposit"});
      result.outcome = Outcome::failed;
      result.reply = "1Click's quote ran out before it saw the deposit to " + deposit +
                     ". 1Click sends what reaches it late back to your wallet on " + plan.from.name + ".";
      return result;
    }
    clock.sleepFor(std::chrono::milliseconds(kPoll).count());
  }
  result.outcome = Outcome::unknown;
  result.reply = "1Click hasn't delivered within 10 minutes. Deposit " + deposit +
                 " is in the journal and is settled when 1Click finishes.";
  return result;
}

ChainSendOutcome BridgeMoves::hyperliquidDeposit(const Plan& plan, const Card& card, RelayClient& relay,
                                                 const RelayQuote& q,
                                                 const std::function<void(const std::string&)>& journalOrder) {
  ChainSendOutcome out;
  out.chain = "hyperliquid";
  auto refuse = [&](const std::string& why) {
    out.kind = ChainSendOutcome::Kind::failed;
    out.detail = "Relay's Hyperliquid steps don't match the card: " + nothingSigned(why);
    return out;
  };
  if (!q.hyperliquid || !q.evm.empty() || !q.solanaInstructions.empty()) {
    return refuse("the quote asks for something other than a deposit from Hyperliquid");
  }
  const RelayQuote::HyperliquidSteps& h = *q.hyperliquid;
  const std::string owner = payer(plan.from);
  // The typed data the signer makes is Relay's second nonce mapping; another asks for a signature it won't accept.
  if (h.signName != "RelayNonceMapping" || h.signVersion != "2") {
    return refuse("the nonce mapping is " + h.signName + " version " + h.signVersion +
                  ", not RelayNonceMapping version 2");
  }
  if (!EVMCall::sameAddress(h.wallet, owner) || !EVMCall::sameAddress(h.depositor, owner)) {
    return refuse("the nonce mapping names " + h.wallet + " and " + h.depositor + ", not " + owner);
  }
  if (toHex0x(h.mappingId) != text::asciiLowercased(q.requestId)) {
    return refuse("the nonce mapping is for order " + toHex0x(h.mappingId) + ", not " + q.requestId);
  }
  if (h.nonce != h.mappingNonce) {
    return refuse("the deposit's nonce " + std::to_string(h.nonce) + " is not the mapping's " +
                  std::to_string(h.mappingNonce));
  }
  if (!h.sourceDex.empty() || !h.destinationDex.empty() || !h.fromSubAccount.empty() || !h.token.starts_with("USDC")) {
    return refuse("the deposit is not USDC from your perp balance to Relay's");
  }
  auto amount = Decimal::tryParse(h.amount);
  if (!amount || *amount != card.amount) return refuse("the deposit is " + h.amount + " USDC, not " + card.amount.toString());
  if (h.destination.size() != 42 || !h.destination.starts_with("0x") || !fromHex(h.destination)) return refuse("the depository " + h.destination + " is no address");

  const bool mainnet = !services_.hyperliquidTestnet;
  say("Signing Relay's nonce mapping for order " + q.requestId + ".");
  EVMSignature mapping = signer_.signRelayNonceMapping({owner, h.depositor, h.mappingId, h.mappingNonce});
  relay.authorize(h, mapping.bytes());
  MsgPack action = HLAction::sendAsset(h.destination, "", "", h.token, *amount, "", h.nonce, mainnet);
  const RelayEnd to = relayEnd(plan.to);
  EVMSignature signature = signer_.signRelayHyperliquidDeposit({action, mainnet, card.recipient, to.chainId, to.currency});
  out.id = std::to_string(h.nonce);
  out.checks.push_back("Relay's depository " + h.destination + " was confirmed by the signer with Relay.");
  journalOrder("sendAsset " + out.id);
  HttpResponse response;
  try {
    response = HLExchange::send(services_.http, HLExchange::body(action, h.nonce, signature, std::nullopt), mainnet,
                                services_.endpoints.hyperliquid);
  } catch (const NetError& e) {
    out.kind = ChainSendOutcome::Kind::unknown;
    out.detail = "Hyperliquid didn't answer the deposit (" + std::string(e.what()) + "). Relay order " + q.requestId +
                 " is in the journal and is settled when Relay finishes.";
    return out;
  }
  HLReply reply = HLReply::parse(response.status, response.body);
  if (reply.unclear) {
    out.kind = ChainSendOutcome::Kind::unknown;
    out.detail = "Hyperliquid's answer to the deposit can't be read. Relay order " + q.requestId +
                 " is in the journal and is settled when Relay finishes.";
  } else if (reply.kind == HLReply::Kind::error) {
    out.kind = ChainSendOutcome::Kind::failed;
    out.detail = "Hyperliquid refused the deposit to Relay: " + reply.message + ". The money stayed on Hyperliquid.";
  } else {
    out.kind = ChainSendOutcome::Kind::confirmed;
  }
  return out;
}

std::optional<ExecutionResult> BridgeMoves::run(const PendingAction& step) {
  if (const auto* command = std::get_if<WalletCommand>(&step.value); command && planOf(*command)) {
    return bridge(*command, std::nullopt);
  }
  return next_ ? next_->run(step) : std::nullopt;
}

}  // namespace orwenna
