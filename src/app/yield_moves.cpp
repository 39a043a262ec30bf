#include "app/yield_moves.h"

#include <algorithm>
#include <utility>

#include "app/chat_replies.h"
#include "base/log.h"
#include "base/text.h"
#include "defi/aave.h"
#include "defi/morpho.h"
#include "defi/solana_lend.h"
#include "execution/execution_error.h"
#include "execution/solana_send.h"

namespace orwenna {

namespace {

ExecutionResult yieldFailed(std::string sentence) {
  ExecutionResult r;
  r.outcome = ExecutionResult::Outcome::failed;
  r.reply = std::move(sentence);
  return r;
}

std::vector<std::string> stepsOf(const std::string& chain) {
  static constexpr std::string_view kThen = " then ";
  std::vector<std::string> out;
  std::size_t at = 0;
  for (std::size_t next; (next = chain.find(kThen, at)) != std::string::npos; at = next + kThen.size()) {
    out.push_back(chain.substr(at, next - at));
  }
  out.push_back(chain.substr(at));
  return out;
}

std::string finished(const std::string& text) {
  return text.ends_with(kNothingWasSigned) ? text : nothingSigned(text);
}

// One transaction's outcome, said for the chat; nothing when it confirmed.
std::optional<ExecutionResult> notConfirmed(const ChainSendOutcome& o, const std::string& where, bool earlierLanded) {
  const std::string after = earlierLanded ? " The steps before it landed." : "";
  switch (o.kind) {
    case ChainSendOutcome::Kind::confirmed:
      return std::nullopt;
    case ChainSendOutcome::Kind::failed:
      return yieldFailed("The transaction " + o.id + " failed on " + where + ": " + o.detail +
                         ". The money stayed in your wallet, less the network fee." + after);
    case ChainSendOutcome::Kind::expired:
      return yieldFailed("The transaction didn't make it into a block in time. The money stayed in your wallet; you "
                         "can retry." + after);
    case ChainSendOutcome::Kind::unknown: {
      ExecutionResult r;
      r.outcome = ExecutionResult::Outcome::unknown;
      r.reply = "Sent " + o.id + " on " + where + ", but its outcome isn't known yet (" + o.detail +
                "). Check it in a block explorer before trying again." + after;
      return r;
    }
  }
  return std::nullopt;
}

}  // namespace

YieldMoves::YieldMoves(const Services& services, TradeSigner& signer, Journal& journal,
                       std::function<WalletAddresses()> addresses, WalletMoveRunner* next)
    : services_(services), signer_(signer), journal_(journal), addresses_(std::move(addresses)), next_(next) {}

std::optional<YieldMoves::Built> YieldMoves::build(const WalletCommand& command) {
  auto evmWallet = [&] {
    auto a = addresses_().evm;
    if (!a) throw YieldError("The active wallet has no EVM key. Nothing was signed.");
    return *a;
  };
  auto solanaWallet = [&] {
    auto a = addresses_().solana;
    if (!a) throw YieldError("The active wallet has no Solana key. Nothing was signed.");
    return *a;
  };
  auto evmPlace = [&](const std::string& key, bool morpho) {
    Built b;
    b.network = EVMNetwork::byKey(key);
    if (!b.network) throw YieldError("orwenna doesn't know the network " + key + ". Nothing was signed.");
    b.chain = b.network->name;
    b.rpc = std::make_unique<EVMRPC>(services_.evm(*b.network));
    if (morpho) {
      b.place = std::make_unique<Morpho>(*b.rpc, *b.network);
    } else {
      b.place = std::make_unique<Aave>(*b.rpc, *b.network);
    }
    return b;
  };
  auto needAmount = [](const OptDecimal& amount, const std::string& what) {
    if (!amount) throw YieldError("Say how much " + what + ". Nothing was signed.");
    return *amount;
  };
  const auto& v = command.value;
  if (const auto* c = std::get_if<wallet::lendDeposit>(&v)) {
    Built b{nullptr, std::make_unique<JupiterLend>(services_.http, services_.endpoints.jupiterLend, c->symbol), {},
            "Solana", nullptr, {}};
    b.spend = needAmount(c->amount, "to lend");
    b.move = b.place->deposit(solanaWallet(), b.spend);
    return b;
  }
  if (const auto* c = std::get_if<wallet::lendWithdraw>(&v)) {
    Built b{nullptr, std::make_unique<JupiterLend>(services_.http, services_.endpoints.jupiterLend, c->symbol), {},
            "Solana", nullptr, {}};
    b.move = b.place->withdraw(solanaWallet(), c->amount);
    return b;
  }
  if (const auto* c = std::get_if<wallet::kamino>(&v)) {
    Built b{nullptr, std::make_unique<KaminoVault>(services_.http, services_.endpoints.kamino, c->symbol), {},
            "Solana", nullptr, {}};
    if (c->deposit) {
      b.spend = needAmount(c->amount, "to deposit");
      b.move = b.place->deposit(solanaWallet(), b.spend);
    } else {
      b.move = b.place->withdraw(solanaWallet(), c->amount);
    }
    return b;
  }
  if (const auto* c = std::get_if<wallet::aave>(&v)) {
    Built b = evmPlace(c->network, false);
    if (c->deposit) {
      b.spend = needAmount(c->amount, "to lend");
      b.move = b.place->deposit(evmWallet(), b.spend);
    } else {
      b.move = b.place->withdraw(evmWallet(), c->amount);
    }
    return b;
  }
  if (const auto* c = std::get_if<wallet::morpho>(&v)) {
    Built b = evmPlace(c->network, true);
    if (c->deposit) {
      b.spend = needAmount(c->amount, "to deposit");
      b.move = b.place->deposit(evmWallet(), b.spend);
    } else {
      b.move = b.place->withdraw(evmWallet(), c->amount);
    }
    return b;
  }
  if (const auto* c = std::get_if<wallet::aaveBorrow>(&v)) {
    Built b = evmPlace(c->network, false);
    b.move = static_cast<Aave&>(*b.place).borrow(evmWallet(), needAmount(c->amount, "to borrow"));
    return b;
  }
  if (const auto* c = std::get_if<wallet::aaveRepay>(&v)) {
    Built b = evmPlace(c->network, false);
    b.move = static_cast<Aave&>(*b.place).repay(evmWallet(), c->amount);
    for (const auto& step : b.move.evm) b.spend = std::max(b.spend, step.call.input);
    return b;
  }
  if (const auto* c = std::get_if<wallet::aaveCollateral>(&v)) {
    Built b = evmPlace(c->network, false);
    b.spend = needAmount(c->amount, "ETH to supply");
    b.move = static_cast<Aave&>(*b.place).supplyEth(evmWallet(), b.spend);
    return b;
  }
  return std::nullopt;
}

ExecutionResult YieldMoves::carry(Built& built) {
  const Envelope envelope{built.spend, Decimal(0), std::nullopt, services_.clock.nowMillis() + kApprovalMillis};
  ExecutionResult r;
  std::vector<std::string> ids;
  if (built.move.solana) {
    SolanaMove& m = *built.move.solana;
    m.envelope = envelope;
    SolanaRPC rpc = services_.solana();
    SolanaSender sender(rpc, signer_, journal_, services_.clock);
    ChainSendOutcome o = sender.send(m);
    r.lines = o.checks;
    if (auto bad = notConfirmed(o, "Solana", false)) return *bad;
    ids.push_back(o.id);
  } else {
    EVMSender sender(*built.network, *built.rpc, signer_, journal_, services_.clock, nonces_);
    bool landed = false;
    for (auto& step : built.move.evm) {
      step.call.envelope = envelope;
      EVMCallOutcome o = sendAfterApproval(sender, *built.rpc, step.call, step.approval);
      if (o.approval) {
        r.lines.insert(r.lines.end(), o.approval->checks.begin(), o.approval->checks.end());
        r.lines.push_back(step.approval->note + ": " + o.approval->id);
        if (auto bad = notConfirmed(*o.approval, built.chain, landed)) return *bad;
        landed = true;
        ids.push_back(o.approval->id);
      } else if (o.approvalSkipped) {
        r.lines.push_back("The allowance already covers it: no approval needed.");
      }
      r.lines.insert(r.lines.end(), o.call->checks.begin(), o.call->checks.end());
      r.lines.push_back(step.call.note + ": " + o.call->id);
      if (auto bad = notConfirmed(*o.call, built.chain, landed)) return *bad;
      landed = true;
      ids.push_back(o.call->id);
    }
  }
  r.outcome = ExecutionResult::Outcome::done;
  std::string done = built.move.text;
  if (done.ends_with(".")) done.pop_back();
  r.reply = "Done: " + done + ". Transaction" + (ids.size() > 1 ? "s: " : ": ") + text::join(ids, ", ");
  return r;
}

std::vector<YieldSpot> readYieldSpots(const Services& services, const WalletAddresses& a,
                                      const std::vector<std::string>& networks) {
  std::vector<YieldSpot> out;
  auto add = [&](const std::string& protocol, const std::string& network, const std::string& name,
                 const std::function<std::unique_ptr<YieldPlace>()>& make, const std::optional<std::string>& wallet) {
    YieldSpot s;
    s.protocol = protocol;
    s.network = network;
    s.name = name;
    s.roundTripUSD = YieldAllocation::roundTripUSD(network);
    try {
      auto place = make();
      s.apy = place->rate();
      if (wallet) s.supplied = place->position(*wallet);
    } catch (const std::exception& e) {
      // A place that can't be read is left out of the ranking, not guessed.
      log::warn("yield: {} unread: {}", name, e.what());
      s.apy.reset();
      s.supplied = Decimal(0);
    }
    out.push_back(std::move(s));
  };
  add("jupiter", "solana", "Jupiter Lend",
      [&] { return std::make_unique<JupiterLend>(services.http, services.endpoints.jupiterLend, "USDC"); }, a.solana);
  add("kamino", "solana", "Kamino",
      [&] { return std::make_unique<KaminoVault>(services.http, services.endpoints.kamino, "USDC"); }, a.solana);
  for (const auto& n : EVMNetwork::all()) {
    if (!networks.empty() && std::find(networks.begin(), networks.end(), n.key) == networks.end()) continue;
    // One client per network, alive while its places are read.
    auto rpc = std::make_shared<EVMRPC>(services.evm(n));
    if (AaveMarket::on(n.key)) {
      add("aave", n.key, "Aave on " + n.name, [&] { return std::make_unique<Aave>(*rpc, n); }, a.evm);
    }
    if (Morpho::vaultOn(n.key)) {
      add("morpho", n.key, "Morpho on " + n.name, [&] { return std::make_unique<Morpho>(*rpc, n); }, a.evm);
    }
  }
  return out;
}

std::string yieldBoard(const std::vector<YieldSpot>& spots) {
  std::vector<const YieldSpot*> order;
  for (const auto& s : spots) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(), [](const YieldSpot* a, const YieldSpot* b) {
    if (a->apy.has_value() != b->apy.has_value()) return a->apy.has_value();
    return a->apy && *a->apy > *b->apy;
  });
  std::vector<std::string> lines;
  for (const YieldSpot* s : order) {
    std::string line = s->name + ": " + (s->apy ? s->apy->toString() + "% a year" : std::string("no rate read"));
    if (s->supplied.isPositive()) line += ", " + s->supplied.toString() + " USDC supplied";
    lines.push_back(line);
  }
  return "USDC lending rates after fees:\n" + text::join(lines, "\n");
}

std::optional<YieldMoves::Card> YieldMoves::card(const WalletCommand& command) {
  auto spots = [this] { return spots_ ? spots_() : readYieldSpots(services_, addresses_()); };
  Card out;
  try {
    if (const auto* c = std::get_if<wallet::allocate>(&command.value)) {
      if (text::asciiLowercased(c->symbol) != "usdc") {
        throw YieldError("orwenna spreads USDC only, not " + c->symbol + ". Nothing was signed.");
      }
      if (c->from && *c->from != "solana") {
        throw YieldError("orwenna spreads USDC from Solana only; move it there first. Nothing was signed.");
      }
      if (!c->amount) throw YieldError("Say how much USDC to spread. Nothing was signed.");
      YieldPlan plan = YieldAllocation::allocate(spots(), *c->amount, c->maxShare, c->without);
      if (plan.lines.empty()) throw YieldError("No place is worth moving this USDC to now. Nothing was signed.");
      out.lines = plan.lines;
      out.text = "Spread " + c->amount->toString() + " USDC: " + plan.chain() + ".";
      for (const auto& s : plan.skipped) out.text += " Skipped " + s;
      return out;
    }
    if (const auto* c = std::get_if<wallet::rebalance>(&command.value)) {
      YieldPlan plan = YieldAllocation::rebalance(spots(), c->maxShare);
      if (plan.lines.empty()) throw YieldError("The USDC is already where the rates are best. Nothing was signed.");
      out.lines = plan.lines;
      out.text = "Rebalance: " + plan.chain() + ".";
      return out;
    }
    auto built = build(command);
    if (!built) return std::nullopt;
    out.text = built->move.text;
  } catch (const Error& e) {
    out.refusal = finished(e.what());
    out.text = *out.refusal;
  }
  return out;
}

ExecutionResult YieldMoves::chained(const YieldPlan& plan, const std::string& title) {
  WalletMoveRunner* head = head_ ? head_ : this;
  ExecutionResult all;
  all.outcome = ExecutionResult::Outcome::done;
  std::vector<std::string> replies;
  for (const auto& joined : plan.lines) {
    for (const auto& line : stepsOf(joined)) {
      auto command = WalletCommand::parse(line);
      std::optional<ExecutionResult> one;
      if (command) one = head->run(PendingAction{*command});
      if (!one) one = yieldFailed(Replies::notAvailable(line, Language::english));
      all.lines.insert(all.lines.end(), one->lines.begin(), one->lines.end());
      replies.push_back(one->reply);
      if (one->outcome != ExecutionResult::Outcome::done) {
        all.outcome = one->outcome;
        replies.push_back("The " + title + " stopped at “" + line + "”; the steps before it are done.");
        all.reply = text::join(replies, "\n");
        return all;
      }
    }
  }
  all.reply = text::join(replies, "\n");
  return all;
}

std::optional<ExecutionResult> YieldMoves::run(const PendingAction& step) {
  const auto* command = std::get_if<WalletCommand>(&step.value);
  if (!command) return next_ ? next_->run(step) : std::nullopt;
  try {
    if (std::holds_alternative<wallet::allocate>(command->value) ||
        std::holds_alternative<wallet::rebalance>(command->value)) {
      auto shown = card(*command);
      if (shown->refusal) return yieldFailed(*shown->refusal);
      YieldPlan plan;
      plan.lines = shown->lines;
      return chained(plan, std::holds_alternative<wallet::allocate>(command->value) ? "spread" : "rebalance");
    }
    auto built = build(*command);
    if (!built) return next_ ? next_->run(step) : std::nullopt;
    return carry(*built);
  } catch (const ExecutionError& e) {
    return yieldFailed(e.what());
  } catch (const Error& e) {
    return yieldFailed(finished(e.what()));
  }
}

}  // namespace orwenna
